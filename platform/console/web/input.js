// The sysop's input: events go out one request at a time, in the order the sysop made them.
import { q, setConnected } from './connection.js';

// Events go out one request at a time, in the order the sysop made them, so typed text
// always reaches the server before a click that follows it.
const queue = [];
let sending = false;
export function post(ev) {
  const last = queue[queue.length - 1];
  if (last && (ev.type === 'typeText' || ev.type === 'comboType') && last.type === ev.type &&
      last.window === ev.window && last.control === ev.control) {
    last.text = ev.text;
  } else {
    queue.push(ev);
  }
  pump();
}
async function pump() {
  if (sending) return;
  sending = true;
  while (queue.length) {
    const batch = queue.splice(0, 64);
    try {
      const r = await fetch('/input' + q, {
        method: 'POST', headers: { 'Content-Type': 'application/json' },
        body: JSON.stringify(batch), credentials: 'same-origin', cache: 'no-store',
      });
      if (!r.ok && r.status !== 400) setConnected(false);
    } catch (e) {
      setConnected(false); // the events are dropped: replaying clicks later would surprise
    }
  }
  sending = false;
}
export const pending = (w, id) => queue.some((e) => e.window === w && e.control === id &&
  (e.type === 'typeText' || e.type === 'comboType'));
