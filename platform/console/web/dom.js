// The page's building blocks: the runtime's dialog units and style bits, elements and
// pictures made from markup, and '&' mnemonics.

export const H = 1.5;   // pixels per horizontal dialog unit
export const V = 1.625; // pixels per vertical dialog unit

export const KIND = { 1: 'static', 2: 'groupbox', 3: 'button', 4: 'defbutton', 5: 'checkbox', 6: 'edit',
  7: 'listbox', 8: 'combobox', 9: 'treeview', 10: 'listview', 11: 'bitmap', 12: 'icon' };
export const ST = { disabled: 0x1, readonly: 0x2, number: 0x4, uppercase: 0x8, lowercase: 0x10,
  password: 0x20, sort: 0x40, notify: 0x80, tabstop: 0x100, hidden: 0x200, hasbuttons: 0x400,
  haslines: 0x800, linesatroot: 0x1000, singlesel: 0x2000, nosortheader: 0x4000,
  multiline: 0x8000, center: 0x10000, right: 0x20000 };
export const DS = { caption: 0x1, sysmenu: 0x2, minimizebox: 0x4, maximizebox: 0x8, center: 0x10,
  modalframe: 0x20, hidden: 0x40 };
export const MF = { grayed: 0x1, disabled: 0x2, checked: 0x8, popup: 0x10, separator: 0x800 };
export const IDOK = 1, IDCANCEL = 2, IDYES = 6, IDNO = 7;

export const el = (tag, cls, text) => {
  const e = document.createElement(tag);
  if (cls) e.className = cls;
  if (text !== undefined) e.textContent = text;
  return e;
};
export const svg = (markup, w, h) => {
  const t = document.createElement('template');
  t.innerHTML = `<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 ${w} ${h}" width="${w}" height="${h}">${markup}</svg>`;
  return t.content.firstChild;
};
export const num = (v, d = 0) => (typeof v === 'number' && isFinite(v) ? v : d);
export const str = (v) => (typeof v === 'string' ? v : v == null ? '' : String(v));

// Text with '&' mnemonics: "&&" is an ampersand, "&x" underlines x.
export function mnemonic(text) {
  const frag = document.createDocumentFragment();
  let buf = '';
  for (let i = 0; i < text.length; i++) {
    const ch = text[i];
    if (ch === '&' && i + 1 < text.length) {
      if (text[i + 1] === '&') { buf += '&'; i++; continue; }
      if (buf) frag.appendChild(document.createTextNode(buf));
      buf = '';
      frag.appendChild(el('u', null, text[++i]));
      continue;
    }
    buf += ch;
  }
  if (buf) frag.appendChild(document.createTextNode(buf));
  return frag;
}
export function setMnemonic(node, text) {
  if (node._text === text) return;
  node._text = text;
  node.replaceChildren(mnemonic(text));
}
export function setText(node, text) { if (node.textContent !== text) node.textContent = text; }
export function toggle(node, cls, on) { node.classList.toggle(cls, !!on); }

// Styles arrive as a number of bits, a list of names or an object of flags.
export function flagsOf(v, table) {
  if (typeof v === 'number') return v;
  let bits = 0;
  const add = (name) => { const b = table[String(name).toLowerCase()]; if (b) bits |= b; };
  if (Array.isArray(v)) v.forEach(add);
  else if (v && typeof v === 'object') Object.keys(v).forEach((k) => { if (v[k]) add(k); });
  return bits;
}
