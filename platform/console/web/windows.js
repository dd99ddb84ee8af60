// A window's frame: title bar, caption buttons, dragging, placement and its keys.
import { connected } from './connection.js';
import { updateDialog } from './controls.js';
import { DS, el, flagsOf, setText, str, svg, toggle } from './dom.js';
import { closeEditor, makeEditor, updateEditor } from './editor.js';
import { post } from './input.js';
import { altMnemonic, menuKey, openMenu } from './menus.js';
import { answerCancel, makeMessageBox, updateMessageBox } from './messagebox.js';
import { makeOpenFile, updateOpenFile } from './openfile.js';
import { meterSvg } from './pictures.js';
import { desktop, placed } from './state.js';

export function makeView(id, kind) {
  const root = el('div', 'window shadowed ' + kind);
  root.dataset.window = id;
  root.tabIndex = -1;
  const bar = el('div', 'titlebar');
  const icon = el('span', 'app-icon');
  const title = el('span', 'title');
  const minBtn = el('button', 'capbtn min');
  minBtn.tabIndex = -1;
  minBtn.title = 'Minimize';
  minBtn.appendChild(svg('<rect x="1" y="5" width="6" height="2" fill="#000"/>', 8, 7));
  const closeBtn = el('button', 'capbtn close');
  closeBtn.tabIndex = -1;
  closeBtn.title = 'Close';
  closeBtn.appendChild(svg('<path d="M0.5 0.5 L7.5 6.5 M7.5 0.5 L0.5 6.5" stroke="#000" stroke-width="1.6"/>', 8, 7));
  bar.append(icon, title, minBtn, closeBtn);
  root.appendChild(bar);
  const view = { id, kind, root, bar, title, icon, minBtn, closeBtn, controls: new Map() };
  minBtn.addEventListener('click', () => post({ type: 'minimize', window: id }));
  closeBtn.addEventListener('click', () => {
    if (kind === 'editor') closeEditor(view);
    else post({ type: 'closeBox', window: id });
  });
  makeDraggable(view);
  root.addEventListener('keydown', (e) => onWindowKey(view, e));
  if (kind === 'messagebox') makeMessageBox(view);
  else if (kind === 'openfile') makeOpenFile(view);
  else if (kind === 'editor') makeEditor(view);
  else {
    view.menubar = el('div', 'menubar');
    view.client = el('div', 'client');
    root.append(view.menubar, view.client);
  }
  return view;
}

function makeDraggable(view) {
  view.bar.addEventListener('mousedown', (e) => {
    if (e.button !== 0 || e.target.closest('.capbtn')) return;
    const start = { x: e.clientX, y: e.clientY, left: view.root.offsetLeft, top: view.root.offsetTop };
    const move = (m) => {
      const p = { x: start.left + m.clientX - start.x, y: Math.max(0, start.top + m.clientY - start.y) };
      placed.set(view.id, p);
      view.root.style.left = p.x + 'px';
      view.root.style.top = p.y + 'px';
    };
    const up = () => { removeEventListener('mousemove', move); removeEventListener('mouseup', up); };
    addEventListener('mousemove', move);
    addEventListener('mouseup', up);
    e.preventDefault();
  });
}

export function updateView(view, w, depth) {
  const style = flagsOf(w.style, DS);
  const flag = (name, bit) => (w[name] !== undefined ? !!w[name] : !!(style & bit));
  const accepts = w.acceptsInput !== undefined ? !!w.acceptsInput : w.enabled !== false;
  view.w = w;
  toggle(view.root, 'inactive', !accepts);
  view.root.inert = !accepts || !connected;
  const title = str(w.title);
  setText(view.title, title);
  const hasCaption = view.kind !== 'dialog' || flag('caption', DS.caption);
  view.bar.hidden = !hasCaption;
  toggle(view.root, 'captionless', !hasCaption);
  view.minBtn.hidden = view.kind !== 'dialog' || !flag('minimizeBox', DS.minimizebox);
  view.closeBtn.hidden = view.kind === 'messagebox' || !(view.kind !== 'dialog' || flag('closeBox', DS.sysmenu));
  if (view.kind === 'dialog' && !view.icon.firstChild && w.menu) view.icon.appendChild(meterSvg(0));
  if (view.kind === 'messagebox') updateMessageBox(view, w);
  else if (view.kind === 'openfile') updateOpenFile(view, w);
  else if (view.kind === 'editor') updateEditor(view, w);
  else updateDialog(view, w);
  place(view, depth);
}

function place(view, depth) {
  const p = placed.get(view.id);
  const dw = desktop.clientWidth, dh = desktop.clientHeight;
  const ww = view.root.offsetWidth, wh = view.root.offsetHeight;
  let x, y;
  if (p) { x = p.x; y = p.y; } else {
    x = Math.max(0, Math.round((dw - ww) / 2) + depth * 12);
    y = Math.max(0, Math.round((dh - wh) / 2) + depth * 12);
  }
  view.root.style.left = x + 'px';
  view.root.style.top = y + 'px';
}

export function onWindowKey(view, e) {
  if (openMenu) { menuKey(view, e); return; }
  if (e.altKey && !e.ctrlKey && !e.metaKey && altMnemonic(view, e)) { e.preventDefault(); return; }
  const t = e.target;
  if (e.key === 'Enter') {
    if (t.tagName === 'BUTTON' || t.tagName === 'TEXTAREA' || t.closest('.combolist')) return;
    if (t.classList && t.classList.contains('check')) return;
    e.preventDefault();
    if (view.kind === 'messagebox') { const b = view.root.querySelector('.buttons button'); if (b) b.click(); return; }
    if (view.kind === 'openfile') { view.ok.click(); return; }
    if (view.kind !== 'dialog') return;
    // The runtime would press the button it last saw focused; the sysop means the default one.
    const def = view.root.querySelector('.client button.default:not(:disabled)');
    if (def) def.click();
    else post({ type: 'key', window: view.id, text: 'enter' });
  } else if (e.key === 'Escape') {
    e.preventDefault();
    if (view.kind === 'messagebox') { answerCancel(view); return; }
    if (view.kind === 'openfile') { post({ type: 'openFileCancel', window: view.id }); return; }
    if (view.kind === 'dialog') post({ type: 'key', window: view.id, text: 'escape' });
  } else if (e.key === 'F4' && e.altKey) {
    e.preventDefault();
    if (view.kind === 'editor') closeEditor(view);
    else post({ type: 'closeBox', window: view.id });
  }
}
