// Menu bars and pop-up menus, for the mouse and the keyboard.
import { el, MF, num, setMnemonic, str } from './dom.js';
import { post } from './input.js';
import { checkMark } from './pictures.js';

export let openMenu = null; // {view, index}
function closeMenus() {
  if (!openMenu) return false;
  document.querySelectorAll('.popup').forEach((p) => p.remove());
  document.querySelectorAll('.menubar .mitem.open').forEach((m) => m.classList.remove('open'));
  openMenu = null;
  return true;
}
addEventListener('mousedown', (e) => {
  if (!e.target.closest('.popup, .menubar')) closeMenus();
  if (!e.target.closest('.combolist, .combo')) document.querySelectorAll('.combolist').forEach((c) => c.remove());
});
const menuItems = (m) => (Array.isArray(m) ? m : m && Array.isArray(m.items) ? m.items : []);
function itemFlags(it) {
  let f = num(it.flags);
  if (it.checked) f |= MF.checked;
  if (it.grayed) f |= MF.grayed;
  if (it.disabled) f |= MF.disabled;
  if (it.separator || (it.text == null && !it.popup && !it.items && !it.id)) f |= MF.separator;
  return f;
}
const subOf = (it) => (it.popup && typeof it.popup === 'object' ? menuItems(it.popup) : Array.isArray(it.items) ? it.items : null);

export function updateMenuBar(view, w) {
  const items = menuItems(w.menu);
  const key = JSON.stringify(items);
  view.menubar.hidden = items.length === 0;
  if (view.menuKey === key) return;
  view.menuKey = key;
  view.menuItems = items;
  view.menubar.replaceChildren();
  items.forEach((it, i) => {
    const m = el('div', 'mitem');
    m.dataset.index = i;
    setMnemonic(m, str(it.text));
    if (itemFlags(it) & (MF.grayed | MF.disabled)) m.classList.add('grayed');
    m.addEventListener('mousedown', (e) => {
      e.preventDefault();
      if (openMenu && openMenu.view === view && openMenu.index === i) { closeMenus(); return; }
      openTop(view, i);
    });
    m.addEventListener('mouseenter', () => { if (openMenu && openMenu.view === view && openMenu.index !== i) openTop(view, i); });
    view.menubar.appendChild(m);
  });
  if (openMenu && openMenu.view === view) { const i = openMenu.index; closeMenus(); if (items[i]) openTop(view, i); }
}
function openTop(view, i) {
  closeMenus();
  const it = view.menuItems[i];
  const m = view.menubar.children[i];
  if (!it || !m) return;
  const sub = subOf(it);
  if (!sub) { // a command straight on the bar
    if (!(itemFlags(it) & (MF.grayed | MF.disabled))) post({ type: 'menuCommand', window: view.id, control: num(it.id) });
    return;
  }
  m.classList.add('open');
  openMenu = { view, index: i };
  const r = m.getBoundingClientRect();
  showPopup(view, sub, r.left, r.bottom, 0);
}
function showPopup(view, items, x, y, level) {
  const p = el('div', 'popup');
  p.dataset.level = level;
  p.view = view;
  for (const it of items) {
    const f = itemFlags(it);
    if (f & MF.separator) { p.appendChild(el('div', 'sep')); continue; }
    const row = el('div', 'mi');
    row.item = it;
    const text = str(it.text);
    const tab = text.indexOf('\t');
    const check = el('span', 'check');
    if (f & MF.checked) check.appendChild(checkMark());
    const label = el('span', 'lbl');
    setMnemonic(label, tab >= 0 ? text.slice(0, tab) : text);
    const acc = el('span', 'acc', tab >= 0 ? text.slice(tab + 1) : '');
    const sub = subOf(it);
    const arrow = el('span', sub ? 'arrow' : '');
    row.append(check, label, acc, arrow);
    if (f & (MF.grayed | MF.disabled)) row.classList.add('grayed');
    if (f & MF.checked) row.classList.add('checked');
    row.dataset.command = num(it.id);
    row.addEventListener('mouseenter', () => { setHot(row); openSub(row); });
    row.addEventListener('mouseup', () => { if (!sub) choose(row); });
    p.appendChild(row);
  }
  document.body.appendChild(p);
  const maxX = innerWidth - p.offsetWidth - 2;
  p.style.left = Math.max(0, Math.min(x, maxX)) + 'px';
  p.style.top = Math.max(0, Math.min(y, innerHeight - p.offsetHeight - 2)) + 'px';
  return p;
}

// Menu rows, for the mouse and the keyboard alike.
const levelOf = (p) => num(+p.dataset.level);
const rowGrayed = (row) => row.classList.contains('grayed');
function setHot(row) {
  row.parentElement.querySelectorAll('.mi.hot').forEach((h) => h.classList.remove('hot'));
  row.classList.add('hot');
}
// Closes the pop-ups below the row's own and opens the row's sub-menu, if it has one.
function openSub(row) {
  const p = row.parentElement;
  document.querySelectorAll('.popup').forEach((o) => { if (levelOf(o) > levelOf(p)) o.remove(); });
  const sub = subOf(row.item);
  if (!sub || rowGrayed(row)) return null;
  const r = row.getBoundingClientRect();
  return showPopup(p.view, sub, r.right - 3, r.top - 3, levelOf(p) + 1);
}
function choose(row) {
  if (rowGrayed(row)) return;
  if (subOf(row.item)) {
    const sub = openSub(row);
    const first = sub && sub.querySelector('.mi');
    if (first) setHot(first);
    return;
  }
  const view = row.parentElement.view;
  closeMenus();
  post({ type: 'menuCommand', window: view.id, control: num(row.item.id) });
}
// The letter after a single '&', lower case; '' when the text has none.
function mnemonicKey(text) {
  const m = /(?:^|[^&])(?:&&)*&([^&])/.exec(str(text));
  return m ? m[1].toLowerCase() : '';
}
const letterOf = (e) => (e.key && e.key.length === 1 ? e.key.toLowerCase() : e.code && /^Key[A-Z]$/.test(e.code) ? e.code.slice(3).toLowerCase() : '');
function openTopByKey(view, i) {
  openTop(view, i);
  const p = document.querySelector('.popup[data-level="0"]');
  const first = p && p.querySelector('.mi');
  if (first) setHot(first);
}

// Keys while a menu is open: arrows walk it, Enter or an item's letter chooses, Escape backs out.
export function menuKey(view, e) {
  e.preventDefault();
  const popups = [...document.querySelectorAll('.popup')].sort((a, b) => levelOf(a) - levelOf(b));
  const p = popups[popups.length - 1];
  const top = openMenu.view;
  const count = top.menuItems.length;
  if (!p) { closeMenus(); return; }
  const rows = [...p.querySelectorAll('.mi')];
  const hot = p.querySelector('.mi.hot');
  const at = rows.indexOf(hot);
  const letter = letterOf(e);
  if (e.key === 'Escape') {
    if (levelOf(p) > 0) p.remove(); else closeMenus();
  } else if (e.key === 'ArrowDown' || e.key === 'ArrowUp') {
    if (rows.length) setHot(rows[(at + (e.key === 'ArrowDown' ? 1 : rows.length - (at < 0 ? 0 : 1))) % rows.length]);
  } else if (e.key === 'ArrowRight') {
    if (hot && subOf(hot.item) && !rowGrayed(hot)) choose(hot);
    else if (count) openTopByKey(top, (openMenu.index + 1) % count);
  } else if (e.key === 'ArrowLeft') {
    if (levelOf(p) > 0) p.remove();
    else if (count) openTopByKey(top, (openMenu.index + count - 1) % count);
  } else if (e.key === 'Enter' || e.key === ' ') {
    if (hot) choose(hot);
  } else if (e.altKey && letter) {
    const i = top.menuItems.findIndex((it) => mnemonicKey(it.text) === letter);
    if (i >= 0) openTopByKey(top, i); else closeMenus();
  } else if (letter && !e.ctrlKey && !e.metaKey) {
    const row = rows.find((r) => mnemonicKey(r.item.text) === letter);
    if (row) { setHot(row); choose(row); }
  } else if (e.key === 'Tab') {
    closeMenus();
  }
}

// Alt and a letter: the menu with that letter, else the control whose label has it.
export function altMnemonic(view, e) {
  const letter = letterOf(e);
  if (!letter) return false;
  if (view.menuItems && view.kind === 'dialog' && !view.menubar.hidden) {
    const i = view.menuItems.findIndex((it) => mnemonicKey(it.text) === letter);
    if (i >= 0) { openTopByKey(view, i); return true; }
  }
  const marked = [...view.root.querySelectorAll('u')].filter((u) => u.textContent.toLowerCase() === letter && !u.closest('.menubar'));
  for (const u of marked) {
    const host = u.closest('button, .check, .ctl.static, label');
    if (!host || host.closest('[hidden]') || host.disabled || host.classList.contains('disabled')) continue;
    if (host.tagName === 'BUTTON' || host.classList.contains('check')) { host.focus(); host.click(); return true; }
    // A label gives the focus to the control that follows it.
    let next = host.nextElementSibling;
    while (next && (next.matches('.static, .group, label') || next.hidden || next.classList.contains('disabled'))) next = next.nextElementSibling;
    const target = next && (next.matches('input, .files, [tabindex="0"]') ? next : next.querySelector('input, textarea, [tabindex="0"]'));
    if (target) { target.focus(); return true; }
  }
  return false;
}
