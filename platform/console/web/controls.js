// A dialog's controls: made once per control and brought up to date from each snapshot.
import { el, flagsOf, H, KIND, num, setMnemonic, setText, ST, str, toggle, V } from './dom.js';
import { pending, post } from './input.js';
import { updateMenuBar } from './menus.js';
import { bitmapSvg, checkMark, imageSvg, meterSvg } from './pictures.js';
import { current, render } from './state.js';

export function updateDialog(view, w) {
  updateMenuBar(view, w);
  view.client.style.width = Math.round(num(w.cx) * H) + 'px';
  view.client.style.height = Math.round(num(w.cy) * V) + 'px';
  const controls = Array.isArray(w.controls) ? w.controls : [];
  const seen = new Set();
  controls.forEach((c, i) => {
    const kind = typeof c.kind === 'number' ? KIND[c.kind] : str(c.kind).toLowerCase();
    const id = num(c.id, -1);
    const key = id >= 0 && id !== 0xffff ? String(id) : 'n' + i;
    seen.add(key);
    let cv = view.controls.get(key);
    if (!cv || cv.kind !== kind) {
      if (cv) cv.root.remove();
      cv = makeControl(view, kind, id);
      view.controls.set(key, cv);
      view.client.appendChild(cv.root);
    }
    updateControl(view, cv, c);
  });
  for (const [key, cv] of view.controls) if (!seen.has(key)) { cv.root.remove(); view.controls.delete(key); }
}

function makeControl(view, kind, id) {
  const wid = view.id;
  const cv = { kind, id, root: null, focusEl: null };
  switch (kind) {
    case 'groupbox': {
      cv.root = el('div', 'ctl group');
      cv.legend = el('span', 'legend');
      cv.root.appendChild(cv.legend);
      break;
    }
    case 'button': case 'defbutton': {
      cv.root = el('button', 'ctl push' + (kind === 'defbutton' ? ' default' : ''));
      cv.label = el('span', 'lbl');
      cv.root.appendChild(cv.label);
      cv.root.addEventListener('click', () => post({ type: 'click', window: wid, control: id }));
      cv.focusEl = cv.root;
      break;
    }
    case 'checkbox': {
      cv.root = el('div', 'ctl check');
      cv.root.tabIndex = 0;
      cv.root.setAttribute('role', 'checkbox');
      cv.box = el('span', 'box');
      cv.label = el('span', 'text');
      cv.root.append(cv.box, cv.label);
      const hit = () => {
        if (cv.root.classList.contains('disabled')) return;
        cv.checked = !cv.checked; // shown at once; the next snapshot confirms it
        drawCheck(cv);
        post({ type: 'click', window: wid, control: id });
      };
      cv.root.addEventListener('click', hit);
      cv.root.addEventListener('keydown', (e) => { if (e.key === ' ') { e.preventDefault(); hit(); } });
      cv.focusEl = cv.root;
      break;
    }
    case 'edit': {
      cv.root = el('div', 'ctl');
      cv.input = null; // made on first update, once multiline is known
      break;
    }
    case 'listbox': {
      cv.root = el('div', 'ctl listbox sunken');
      cv.root.tabIndex = 0;
      cv.root.setAttribute('role', 'listbox');
      cv.root.addEventListener('mousedown', (e) => {
        const item = e.target.closest('.item');
        if (!item || cv.root.classList.contains('disabled')) return;
        const index = +item.dataset.index;
        markSel(cv.root, '.item', index);
        post({ type: 'select', window: wid, control: id, index });
      });
      cv.root.addEventListener('dblclick', (e) => {
        const item = e.target.closest('.item');
        if (item) post({ type: 'doubleClick', window: wid, control: id, index: +item.dataset.index });
      });
      cv.root.addEventListener('keydown', (e) => arrowSelect(e, cv, (index) => post({ type: 'select', window: wid, control: id, index })));
      cv.focusEl = cv.root;
      break;
    }
    case 'combobox': {
      cv.root = el('div', 'ctl combo sunken');
      cv.input = el('input', 'edit');
      cv.input.type = 'text';
      cv.input.spellcheck = false;
      cv.drop = el('button', 'drop');
      cv.drop.tabIndex = -1;
      cv.root.append(cv.input, cv.drop);
      cv.input.addEventListener('input', () => {
        cv.typed = true;
        applyRules(cv.input, cv.style);
        post({ type: 'comboType', window: wid, control: id, text: cv.input.value });
      });
      cv.input.addEventListener('blur', () => { cv.typed = false; });
      cv.input.addEventListener('keydown', (e) => {
        if (e.key === 'ArrowDown' && e.altKey) { e.preventDefault(); openComboList(view, cv); }
      });
      cv.drop.addEventListener('mousedown', (e) => { e.preventDefault(); openComboList(view, cv); });
      cv.focusEl = cv.input;
      break;
    }
    case 'treeview': {
      cv.root = el('div', 'ctl tree sunken');
      cv.root.tabIndex = 0;
      cv.root.setAttribute('role', 'tree');
      cv.list = el('ul');
      cv.root.appendChild(cv.list);
      cv.root.addEventListener('mousedown', (e) => {
        if (cv.root.classList.contains('disabled')) return;
        const exp = e.target.closest('.exp');
        const li = e.target.closest('li');
        if (!li) return;
        const item = +li.dataset.item;
        if (exp) {
          const expand = li.classList.contains('collapsed');
          toggle(li, 'collapsed', !expand);
          post({ type: 'treeExpand', window: wid, control: id, index: item, flag: expand });
        } else if (e.target.closest('.label')) {
          cv.root.querySelectorAll('.label.sel').forEach((s) => s.classList.remove('sel'));
          li.querySelector(':scope > .row > .label').classList.add('sel');
          post({ type: 'treeSelect', window: wid, control: id, index: item });
        }
      });
      cv.root.addEventListener('dblclick', (e) => {
        const li = e.target.closest('li');
        if (!li || e.target.closest('.exp') || !li.querySelector(':scope > ul')) return;
        const expand = li.classList.contains('collapsed');
        post({ type: 'treeExpand', window: wid, control: id, index: +li.dataset.item, flag: expand });
      });
      cv.root.addEventListener('keydown', (e) => treeKey(e, view, cv));
      cv.focusEl = cv.root;
      break;
    }
    case 'listview': {
      cv.root = el('div', 'ctl listview sunken');
      cv.root.tabIndex = 0;
      cv.table = el('table');
      cv.head = el('tr');
      const thead = el('thead');
      thead.appendChild(cv.head);
      cv.body = el('tbody');
      cv.table.append(thead, cv.body);
      cv.root.appendChild(cv.table);
      cv.root.addEventListener('mousedown', (e) => {
        const tr = e.target.closest('tbody tr');
        if (!tr || cv.root.classList.contains('disabled')) return;
        const index = +tr.dataset.index;
        markSel(cv.body, 'tr', index);
        post({ type: 'listViewSelect', window: wid, control: id, index });
      });
      cv.root.addEventListener('dblclick', (e) => {
        const tr = e.target.closest('tbody tr');
        if (tr) post({ type: 'doubleClick', window: wid, control: id, index: +tr.dataset.index });
      });
      cv.root.addEventListener('keydown', (e) => arrowSelect(e, cv, (index) => post({ type: 'listViewSelect', window: wid, control: id, index })));
      cv.focusEl = cv.root;
      break;
    }
    case 'bitmap': case 'icon': {
      cv.root = el('div', 'ctl picture');
      break;
    }
    default: {
      cv.root = el('div', 'ctl static');
      cv.root.addEventListener('click', () => {
        if (cv.style & ST.notify) post({ type: 'click', window: wid, control: id });
      });
    }
  }
  return cv;
}

export function markSel(container, selector, index) {
  container.querySelectorAll(selector).forEach((n) => toggle(n, 'sel', +n.dataset.index === index));
}
function arrowSelect(e, cv, send) {
  if (e.key !== 'ArrowDown' && e.key !== 'ArrowUp' && e.key !== 'Home' && e.key !== 'End') return;
  e.preventDefault();
  const count = cv.count || 0;
  if (!count) return;
  let i = cv.sel == null ? -1 : cv.sel;
  if (e.key === 'ArrowDown') i = Math.min(count - 1, i + 1);
  else if (e.key === 'ArrowUp') i = Math.max(0, i - 1);
  else if (e.key === 'Home') i = 0;
  else i = count - 1;
  if (i !== cv.sel) { cv.sel = i; send(i); }
}

function applyRules(input, style) {
  let v = input.value;
  const start = input.selectionStart;
  if (style & ST.number) v = v.replace(/[^0-9]/g, '');
  if (style & ST.uppercase) v = v.toUpperCase();
  if (style & ST.lowercase) v = v.toLowerCase();
  if (v !== input.value) {
    const cut = input.value.length - v.length;
    input.value = v;
    const pos = Math.max(0, (start || 0) - cut);
    try { input.setSelectionRange(pos, pos); } catch (x) { /* not a text input */ }
  }
}

function makeEditInput(view, cv, multiline) {
  const input = el(multiline ? 'textarea' : 'input', 'edit sunken');
  if (!multiline) input.type = 'text';
  input.spellcheck = false;
  input.autocomplete = 'off';
  input.style.width = '100%';
  input.style.height = '100%';
  input.addEventListener('input', () => {
    cv.typed = true;
    applyRules(input, cv.style);
    post({ type: 'typeText', window: view.id, control: cv.id, text: input.value });
  });
  input.addEventListener('focus', () => { if (cv.style & ST.password) input.select(); });
  input.addEventListener('blur', () => { cv.typed = false; if (current) setTimeout(render, 0); });
  cv.root.replaceChildren(input);
  cv.input = input;
  cv.focusEl = input;
  cv.multiline = multiline;
}

function syncValue(view, cv, input, text) {
  // Text the sysop is typing stays until the field loses the focus.
  if (document.activeElement === input && (cv.typed || pending(view.id, cv.id))) return;
  if (input.value !== text) input.value = text;
}

// A password box is write-only: the page never gets its text, only whether it holds any, so
// what it shows is only ever what the sysop typed here. The box empties when the program
// empties it (another account shown, say).
function syncPassword(view, cv, input, filled) {
  if (filled || input.value === '' || cv.typed || pending(view.id, cv.id)) return;
  input.value = '';
}

function updateControl(view, cv, c) {
  const style = flagsOf(c.styles !== undefined ? c.styles : c.style, ST);
  cv.style = style;
  const enabled = c.enabled !== undefined ? !!c.enabled : !(style & ST.disabled);
  const visible = c.visible !== undefined ? !!c.visible : !(style & ST.hidden);
  const s = cv.root.style;
  const x = Math.round(num(c.x) * H), y = Math.round(num(c.y) * V);
  let w = Math.round(num(c.cx) * H), h = Math.round(num(c.cy) * V);
  if (cv.kind === 'combobox') h = Math.round(12 * V) + 1; // the closed box; the list drops below
  s.left = x + 'px'; s.top = y + 'px'; s.width = w + 'px'; s.height = h + 'px';
  if (cv.kind === 'groupbox') s.height = Math.max(0, h - 6) + 'px';
  cv.root.hidden = !visible;
  toggle(cv.root, 'disabled', !enabled);
  cv.root.dataset.control = cv.id;
  const text = str(c.text);
  switch (cv.kind) {
    case 'groupbox': setMnemonic(cv.legend, text); cv.legend.hidden = !text; break;
    case 'button': case 'defbutton':
      setMnemonic(cv.label, text); cv.root.disabled = !enabled; break;
    case 'checkbox': {
      setMnemonic(cv.label, text);
      cv.checked = num(c.checked) === 1 || c.checked === true;
      cv.root.tabIndex = enabled ? 0 : -1;
      drawCheck(cv);
      break;
    }
    case 'edit': {
      const multiline = !!(style & ST.multiline);
      if (!cv.input || cv.multiline !== multiline) makeEditInput(view, cv, multiline);
      const input = cv.input;
      if (!multiline) input.type = style & ST.password ? 'password' : 'text';
      input.readOnly = !!(style & ST.readonly);
      input.disabled = !enabled;
      input.inputMode = style & ST.number ? 'numeric' : 'text';
      const limit = num(c.maxLength, num(c.limit));
      if (limit > 0) input.maxLength = limit; else input.removeAttribute('maxlength');
      if (style & ST.password) syncPassword(view, cv, input, c.filled !== false);
      else syncValue(view, cv, input, text);
      break;
    }
    case 'listbox': {
      const items = (Array.isArray(c.items) ? c.items : []).map((i) => (typeof i === 'string' ? i : str(i && i.text)));
      const sel = num(c.selected, num(c.curSel, -1));
      cv.count = items.length;
      cv.sel = sel;
      cv.root.tabIndex = enabled ? 0 : -1;
      syncRows(cv.root, items.length, () => el('div', 'item'), (row, i) => {
        setText(row, items[i]);
        row.dataset.index = i;
        toggle(row, 'sel', i === sel);
      });
      break;
    }
    case 'combobox': {
      cv.items = (Array.isArray(c.items) ? c.items : []).map((i) => (typeof i === 'string' ? i : str(i && i.text)));
      cv.sel = num(c.selected, num(c.curSel, -1));
      cv.input.disabled = !enabled;
      cv.drop.disabled = !enabled;
      const limit = num(c.maxLength, num(c.limit));
      if (limit > 0) cv.input.maxLength = limit; else cv.input.removeAttribute('maxlength');
      syncValue(view, cv, cv.input, text);
      break;
    }
    case 'treeview': updateTree(cv, c, enabled, style, c.styles !== undefined || c.style !== undefined); break;
    case 'listview': updateListView(cv, c, enabled, style); break;
    case 'bitmap': case 'icon': {
      const res = num(c.resource);
      if (cv.res !== res) { cv.res = res; cv.root.replaceChildren(cv.kind === 'bitmap' ? bitmapSvg(res) : meterSvg(0)); }
      break;
    }
    default: {
      setMnemonic(cv.root, text);
      toggle(cv.root, 'oneline', h < 24 && !text.includes('\n'));
      toggle(cv.root, 'center', style & ST.center);
      toggle(cv.root, 'right', style & ST.right);
    }
  }
}

function drawCheck(cv) {
  cv.root.setAttribute('aria-checked', cv.checked ? 'true' : 'false');
  const has = !!cv.box.firstChild;
  if (cv.checked && !has) cv.box.appendChild(checkMark());
  if (!cv.checked && has) cv.box.replaceChildren();
}

export function syncRows(container, count, make, update) {
  while (container.children.length > count) container.lastChild.remove();
  while (container.children.length < count) container.appendChild(make());
  for (let i = 0; i < count; i++) update(container.children[i], i);
}

function openComboList(view, cv) {
  document.querySelectorAll('.combolist').forEach((c) => c.remove());
  if (cv.input.disabled || !cv.items) return;
  const list = el('div', 'combolist');
  cv.items.forEach((text, index) => {
    const row = el('div', 'item', text);
    toggle(row, 'sel', index === cv.sel);
    row.addEventListener('mousedown', (e) => {
      e.preventDefault();
      list.remove();
      cv.input.value = text;
      cv.typed = false;
      post({ type: 'comboSelect', window: view.id, control: cv.id, index });
      cv.input.focus();
    });
    list.appendChild(row);
  });
  list.style.left = cv.root.offsetLeft + 'px';
  list.style.top = (cv.root.offsetTop + cv.root.offsetHeight) + 'px';
  list.style.width = cv.root.offsetWidth + 'px';
  view.client.appendChild(list);
}

// Tree nodes arrive as nested objects; the item handle is what input names.
const nodeId = (n) => num(n.item, num(n.handle, num(n.id)));
const nodeKids = (n) => (Array.isArray(n.children) ? n.children : []);
function updateTree(cv, c, enabled, style, styled) {
  const roots = Array.isArray(c.tree) ? c.tree : Array.isArray(c.roots) ? c.roots : Array.isArray(c.nodes) ? c.nodes : Array.isArray(c.items) ? c.items : [];
  const sel = num(c.selected, num(c.selection, num(c.treeSel, 0)));
  cv.sel = sel;
  cv.root.tabIndex = enabled ? 0 : -1;
  toggle(cv.root, 'lines', style & ST.haslines || !styled);
  toggle(cv.root, 'nolinesatroot', styled && !(style & ST.linesatroot));
  const buttons = !!(style & ST.hasbuttons) || !styled;
  const fill = (ul, nodes) => {
    syncRows(ul, nodes.length, () => {
      const li = el('li');
      const row = el('div', 'row');
      row.appendChild(el('span', 'label'));
      li.appendChild(row);
      return li;
    }, (li, i) => {
      const n = nodes[i];
      const kids = nodeKids(n);
      li.dataset.item = nodeId(n);
      const label = li.querySelector(':scope > .row > .label');
      setText(label, str(n.text));
      toggle(label, 'sel', nodeId(n) === sel && sel !== 0);
      toggle(li, 'collapsed', kids.length > 0 && !n.expanded);
      let exp = li.querySelector(':scope > .exp');
      if (kids.length && buttons) {
        if (!exp) { exp = el('span', 'exp'); li.insertBefore(exp, li.firstChild); }
        toggle(exp, 'plus', !n.expanded);
      } else if (exp) exp.remove();
      let sub = li.querySelector(':scope > ul');
      if (kids.length) {
        if (!sub) { sub = el('ul'); li.appendChild(sub); }
        fill(sub, kids);
      } else if (sub) sub.remove();
    });
  };
  fill(cv.list, roots);
}
function treeKey(e, view, cv) {
  const labels = [...cv.root.querySelectorAll('li')].filter((li) => !li.parentElement.closest('li.collapsed'));
  const cur = labels.findIndex((li) => +li.dataset.item === cv.sel);
  const send = (li) => { if (li) { cv.sel = +li.dataset.item; post({ type: 'treeSelect', window: view.id, control: cv.id, index: cv.sel }); } };
  const li = labels[cur];
  if (e.key === 'ArrowDown') { e.preventDefault(); send(labels[Math.min(labels.length - 1, cur + 1)]); }
  else if (e.key === 'ArrowUp') { e.preventDefault(); send(labels[Math.max(0, cur - 1)]); }
  else if ((e.key === 'ArrowRight' || e.key === 'ArrowLeft') && li && li.querySelector(':scope > ul')) {
    e.preventDefault();
    const expand = e.key === 'ArrowRight';
    if (expand === li.classList.contains('collapsed')) post({ type: 'treeExpand', window: view.id, control: cv.id, index: +li.dataset.item, flag: expand });
  }
}

function updateListView(cv, c, enabled, style) {
  const columns = Array.isArray(c.columns) ? c.columns : [];
  const rows = Array.isArray(c.rows) ? c.rows : [];
  const images = Array.isArray(c.images) ? c.images : [];
  const sel = num(c.selected, num(c.rowSel, -1));
  cv.count = rows.length;
  cv.sel = sel;
  cv.root.tabIndex = enabled ? 0 : -1;
  const colKey = JSON.stringify(columns);
  if (cv.colKey !== colKey) {
    cv.colKey = colKey;
    cv.head.replaceChildren();
    let total = 0;
    for (const col of columns) {
      const th = el('th', null, str(col.header != null ? col.header : col.text));
      const wpx = num(col.width, num(col.widthPx, 60));
      th.style.width = wpx + 'px';
      total += wpx;
      cv.head.appendChild(th);
    }
    cv.table.style.width = total + 'px';
  }
  cv.root.classList.toggle('nosortheader', !!(style & ST.nosortheader));
  syncRows(cv.body, rows.length, () => el('tr'), (tr, i) => {
    const r = rows[i];
    const cells = Array.isArray(r.cells) ? r.cells : [str(r.text)];
    const image = num(r.image, -1);
    const key = JSON.stringify([cells, image]);
    tr.dataset.index = i;
    toggle(tr, 'sel', i === sel);
    if (tr._key === key) return;
    tr._key = key;
    tr.replaceChildren();
    for (let k = 0; k < Math.max(columns.length, 1); k++) {
      const td = el('td', k === 0 ? 'txt img' : 'txt');
      if (k === 0 && image >= 0) {
        const wrap = el('div');
        wrap.style.display = 'flex';
        wrap.style.gap = '2px';
        wrap.appendChild(imageSvg(num(r.imageResource, num(images[image], image))));
        if (cells[0]) wrap.appendChild(el('span', null, str(cells[0])));
        td.appendChild(wrap);
      } else {
        td.appendChild(el('span', null, str(cells[k])));
        if (cells[k]) td.title = str(cells[k]); // the whole text where the column cuts it
      }
      tr.appendChild(td);
    }
  });
}
