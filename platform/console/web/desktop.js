// The splash window and the tray, also as the big picture when no window shows.
import { el, num, setText, str } from './dom.js';
import { post } from './input.js';
import { bitmapSvg, meterDataUri, meterSvg } from './pictures.js';
import { desktop, windowsOf } from './state.js';

let splashView = null;
export const splashShown = (state) => !!(state.splash && (state.splash.visible !== false) && state.splash.text != null);
export function renderSplash(state) {
  if (!splashShown(state)) { if (splashView) { splashView.remove(); splashView = null; } return; }
  if (!splashView) {
    splashView = el('div', 'window shadowed splash');
    const pic = el('div', 'pic');
    pic.appendChild(bitmapSvg(106));
    pic.appendChild(el('div', 'line'));
    splashView.appendChild(pic);
    desktop.appendChild(splashView);
  }
  setText(splashView.querySelector('.line'), str(state.splash.text));
  splashView.style.left = Math.max(0, (desktop.clientWidth - splashView.offsetWidth) / 2) + 'px';
  splashView.style.top = Math.max(0, (desktop.clientHeight - splashView.offsetHeight) / 2) + 'px';
}

// The board's name: the top item of the main window's tree (the root area's title).
function boardName(main) {
  const controls = main && Array.isArray(main.controls) ? main.controls : [];
  const tree = controls.find((c) => str(c.kind).toLowerCase() === 'treeview' && Array.isArray(c.nodes) && c.nodes.length);
  return tree ? str(tree.nodes[0].text) : '';
}

let trayLevel = null;
let trayBig = null;
export function renderTray(state, onlyTray) {
  const tray = state.tray || {};
  const present = tray.present !== false && (tray.present || tray.tip != null || tray.level != null);
  const level = num(tray.level, num(tray.iconLevel));
  const tip = str(tray.tip);
  const trayEl = document.getElementById('tray');
  trayEl.hidden = !present;
  trayEl.title = tip;
  setText(document.getElementById('tray-tip'), tip);
  if (trayLevel !== level || !document.getElementById('tray-icon').firstChild) {
    trayLevel = level;
    document.getElementById('tray-icon').replaceChildren(meterSvg(level));
    document.getElementById('favicon').href = meterDataUri(level);
    if (trayBig) trayBig.querySelector('.pic').replaceChildren(meterSvg(level));
  }
  const main = windowsOf(state).find((w) => w.menu);
  const board = boardName(main);
  // The board first, so that tabs of several boards tell apart; the load after it.
  document.title = present && tip ? (board ? `${board} - ${tip}` : tip) : main ? str(main.title) : 'Ossivane BBS';
  if (onlyTray && present) {
    if (!trayBig) {
      trayBig = el('div');
      trayBig.id = 'traybig';
      const pic = el('div', 'pic');
      pic.appendChild(meterSvg(level));
      trayBig.append(pic, el('div', 'tip'));
      trayBig.title = 'Double-click to show the window';
      trayBig.addEventListener('dblclick', () => post({ type: 'trayDoubleClick' }));
      desktop.appendChild(trayBig);
    }
    setText(trayBig.querySelector('.tip'), tip);
  } else if (trayBig) { trayBig.remove(); trayBig = null; }
}
