// The desktop's state: the last snapshot, drawn as windows in their z order.
import { renderSplash, renderTray, splashShown } from './desktop.js';
import { num, str } from './dom.js';
import { makeView, updateView } from './windows.js';

export const desktop = document.getElementById('desktop');
export const views = new Map();     // window id -> view
export const placed = new Map();    // window id -> {x, y} once the sysop dragged it
export let current = null;          // last state message {version, state}
export let lastTop = null;

export function windowsOf(state) {
  const list = Array.isArray(state.windows) ? state.windows.slice() : [];
  list.sort((a, b) => num(a.z) - num(b.z));
  return list;
}
const idOf = (w) => num(w.id, num(w.handle, num(w.hwnd)));
const kindOf = (w) => str(w.kind || 'dialog').toLowerCase().replace(/[^a-z]/g, '');

export function apply(msg, fromPoll) {
  if (!msg || typeof msg !== 'object') return;
  if (current && !fromPoll && num(msg.version) < num(current.version)) return;
  current = msg;
  render();
}

export function render() {
  const state = (current && current.state) || {};
  const all = windowsOf(state).filter((w) => w.visible !== false && !w.minimized);
  const seen = new Set();
  let depth = 0;
  let top = null;
  for (const w of all) {
    const id = idOf(w);
    seen.add(id);
    let view = views.get(id);
    const kind = kindOf(w);
    if (!view || view.kind !== kind) {
      if (view) view.root.remove();
      view = makeView(id, kind);
      views.set(id, view);
    }
    // Keep the z order without moving nodes that are in place: a moved node loses the focus.
    const at = desktop.children[depth];
    if (at !== view.root) desktop.insertBefore(view.root, at || null);
    updateView(view, w, depth++);
    top = w;
  }
  for (const [id, view] of views) {
    if (!seen.has(id)) { view.root.remove(); views.delete(id); placed.delete(id); }
  }
  renderSplash(state);
  renderTray(state, all.length === 0 && !splashShown(state));
  // A window that came to the top gets the keyboard.
  const topId = top ? idOf(top) : null;
  if (topId !== lastTop) {
    lastTop = topId;
    if (top) focusWindow(views.get(topId), top);
  }
}

function focusWindow(view, w) {
  if (!view) return;
  let target = null;
  if (w.focus && view.controls) {
    const c = view.controls.get(String(w.focus));
    if (c) target = c.focusEl || c.root;
  }
  if (!target) target = view.root.querySelector('button.default:not(:disabled)') ||
    view.root.querySelector('.client [tabindex="0"], .client input:not(:disabled), .client button:not(:disabled), .body button, .buttons button, textarea');
  if (target && target.focus) target.focus({ preventScroll: true });
}
