// The sysop console page: draws the UI runtime's windows from its snapshots and sends the
// sysop's input back as events, in order, over one queue. The page's ES modules, by section:
// dom, pictures, input, connection, state, windows, menus, controls, messagebox, openfile,
// editor, desktop.
import { listen, refetch, setConnected } from './connection.js';
import { setText } from './dom.js';
import { post } from './input.js';
import { current, lastTop, render, views } from './state.js';
import { onWindowKey } from './windows.js';

// Keys pressed while nothing has the focus go to the top window.
document.addEventListener('keydown', (e) => {
  const view = lastTop != null ? views.get(lastTop) : null;
  if (view && (e.target === document.body || e.target === document.documentElement) && !view.root.inert) onWindowKey(view, e);
});
document.getElementById('tray').addEventListener('dblclick', () => post({ type: 'trayDoubleClick' }));
addEventListener('resize', () => { if (current) render(); });

setConnected(false);
setText(document.getElementById('status-text'), 'Connecting...');
listen();
refetch();
