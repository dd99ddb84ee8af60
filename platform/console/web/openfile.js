// The open-file dialog.
import { markSel, syncRows } from './controls.js';
import { el, mnemonic, setMnemonic, setText, str } from './dom.js';
import { post } from './input.js';
import { fileSvg, folderSvg } from './pictures.js';

function joinPath(dir, name) {
  if (name.startsWith('/')) return name;
  return (dir.endsWith('/') ? dir : dir + '/') + name;
}
export function makeOpenFile(view) {
  const pane = el('div', 'pane');
  view.lookin = el('div', 'lookin sunken');
  view.files = el('div', 'files sunken');
  view.files.tabIndex = 0;
  view.name = el('input', 'edit sunken');
  view.name.spellcheck = false;
  view.filter = el('div', 'lookin sunken');
  view.error = el('div', 'error');
  const l1 = el('label', null); setMnemonic(l1, 'Look &in:');
  const l2 = el('label', null); setMnemonic(l2, 'File &name:');
  const l3 = el('label', null); setMnemonic(l3, 'Files of &type:');
  pane.append(l1, view.lookin, view.files, l2, view.name, l3, view.filter, view.error);
  view.buttons = el('div', 'buttons');
  view.ok = el('button', 'default'); view.ok.appendChild(mnemonic('&Open'));
  view.cancel = el('button', null, 'Cancel');
  view.buttons.append(view.ok, view.cancel);
  view.root.append(pane, view.buttons);
  const open = (entry) => {
    if (entry.isDir) post({ type: 'openFileBrowse', window: view.id, text: joinPath(view.dir, entry.name) });
    else post({ type: 'openFileChoose', window: view.id, text: entry.name });
  };
  view.files.addEventListener('mousedown', (e) => {
    const row = e.target.closest('.item');
    if (!row) return;
    const entry = view.entries[+row.dataset.index];
    markSel(view.files, '.item', +row.dataset.index);
    if (!entry.isDir) view.name.value = entry.name;
  });
  view.files.addEventListener('dblclick', (e) => {
    const row = e.target.closest('.item');
    if (row) open(view.entries[+row.dataset.index]);
  });
  view.ok.addEventListener('click', () => {
    const name = view.name.value.trim();
    if (!name) {
      const sel = view.files.querySelector('.item.sel');
      if (sel) open(view.entries[+sel.dataset.index]);
      return;
    }
    const entry = view.entries.find((en) => en.name === name);
    if (entry) open(entry);
    else post({ type: 'openFileChoose', window: view.id, text: name });
  });
  view.cancel.addEventListener('click', () => post({ type: 'openFileCancel', window: view.id }));
}
export function updateOpenFile(view, w) {
  const of = w.openFile || w;
  view.dir = str(of.dir);
  view.entries = (Array.isArray(of.entries) ? of.entries : []).map((e) => ({ name: str(e.name), isDir: !!(e.isDir || e.dir) }));
  if (view.dir !== '/' && !view.entries.some((e) => e.name === '..')) view.entries.unshift({ name: '..', isDir: true });
  setText(view.lookin, view.dir);
  const desc = str(of.filterDescription), pat = str(of.filterPattern);
  setText(view.filter, desc ? `${desc} (${pat})` : pat || 'All files');
  setText(view.error, str(of.error));
  view.error.hidden = !of.error;
  const key = JSON.stringify([view.dir, view.entries]);
  if (view.key !== key) {
    view.key = key;
    syncRows(view.files, view.entries.length, () => el('div', 'item'), (row, i) => {
      const e = view.entries[i];
      row.replaceChildren(e.isDir ? folderSvg() : fileSvg(), el('span', null, e.name));
      row.dataset.index = i;
      row.classList.remove('sel');
    });
    view.files.scrollTop = 0;
  }
}
