// Message boxes.
import { el, IDCANCEL, IDNO, IDOK, IDYES, num, setMnemonic, setText, str } from './dom.js';
import { post } from './input.js';
import { msgIconSvg } from './pictures.js';

export function makeMessageBox(view) {
  view.body = el('div', 'body');
  view.iconBox = el('div', 'icon');
  view.text = el('div', 'text');
  view.body.append(view.iconBox, view.text);
  view.buttons = el('div', 'buttons');
  view.root.append(view.body, view.buttons);
}
function mbButtons(type) {
  switch (type & 0xf) {
    case 1: return [['OK', IDOK], ['Cancel', IDCANCEL]];
    case 3: return [['&Yes', IDYES], ['&No', IDNO], ['Cancel', IDCANCEL]];
    case 4: return [['&Yes', IDYES], ['&No', IDNO]];
    default: return [['OK', IDOK]];
  }
}
const ICON_BITS = { error: 0x10, question: 0x20, warning: 0x30, information: 0x40 };
function boxButtons(w) {
  const mb = w.messageBox || {};
  if (Array.isArray(mb.buttons) && mb.buttons.length) return mb.buttons.map((b) => [str(b.text), num(b.id)]);
  return mbButtons(num(w.type, num(w.mbType)));
}
export function answerCancel(view) {
  const b = boxButtons(view.w);
  if (b.some(([, v]) => v === IDCANCEL)) post({ type: 'messageBoxAnswer', window: view.id, control: IDCANCEL });
  else if (b.length === 1) post({ type: 'messageBoxAnswer', window: view.id, control: b[0][1] });
}
export function updateMessageBox(view, w) {
  const mb = w.messageBox || {};
  const type = mb.icon !== undefined ? ICON_BITS[mb.icon] || 0 : num(w.type, num(w.mbType));
  setText(view.text, str(mb.text !== undefined ? mb.text : w.text));
  const buttons = boxButtons(w);
  const key = JSON.stringify([type, buttons]);
  if (view.type !== key) {
    view.type = key;
    const icon = msgIconSvg(type);
    view.iconBox.replaceChildren(...(icon ? [icon] : []));
    view.iconBox.hidden = !icon;
    view.buttons.replaceChildren();
    for (const [label, value] of buttons) {
      const b = el('button');
      const l = el('span', 'lbl');
      setMnemonic(l, label);
      b.appendChild(l);
      b.dataset.answer = value;
      b.addEventListener('click', () => post({ type: 'messageBoxAnswer', window: view.id, control: value }));
      view.buttons.appendChild(b);
    }
  }
}
