// The connection to the console: the access token, the event stream and polling while away.
import { setText } from './dom.js';
import { post } from './input.js';
import { apply } from './state.js';

const params = new URLSearchParams(location.search);
const token = params.get('token') || '';
export const q = token ? '?token=' + encodeURIComponent(token) : '';
// The cookie set with the page carries the token from here on; keep it off the address bar.
if (token) history.replaceState(null, '', location.pathname);

export let connected = false;

let source = null;
let retry = null;
let openedSent = false;
export function setConnected(on) {
  connected = on;
  document.body.classList.toggle('disconnected', !on);
  setText(document.getElementById('status-text'), on ? 'Connected' : 'Disconnected - reconnecting...');
  if (!on && !retry) retry = setInterval(refetch, 1500);
  if (on && retry) { clearInterval(retry); retry = null; }
}
export async function refetch() {
  try {
    const r = await fetch('/state' + q, { credentials: 'same-origin', cache: 'no-store' });
    if (r.status === 403) { setText(document.getElementById('status-text'), 'Access denied: open the address with its token'); return; }
    if (!r.ok) return;
    const msg = await r.json();
    setConnected(true);
    apply(msg, true);
    if (!source || source.readyState === EventSource.CLOSED) listen();
  } catch (e) { /* still away */ }
}
export function listen() {
  if (source) source.close();
  source = new EventSource('/events' + q);
  source.onopen = () => {
    setConnected(true);
    if (!openedSent) { openedSent = true; post({ type: 'pageOpened' }); }
  };
  source.onmessage = (e) => {
    let msg;
    try { msg = JSON.parse(e.data); } catch (x) { return; }
    setConnected(true);
    apply(msg, false);
  };
  source.onerror = () => {
    setConnected(false);
    if (source.readyState === EventSource.CLOSED) { source.close(); source = null; }
  };
}
