// The text editor window.
import { el, mnemonic, setText, str } from './dom.js';
import { post } from './input.js';

export function makeEditor(view) {
  view.area = el('textarea', 'edit sunken');
  view.area.spellcheck = false;
  view.area.addEventListener('input', () => { view.dirty = true; });
  view.error = el('div', 'error');
  view.buttons = el('div', 'buttons');
  view.save = el('button'); view.save.appendChild(mnemonic('&Save'));
  view.close = el('button'); view.close.appendChild(mnemonic('&Close'));
  view.buttons.append(view.save, view.close);
  view.root.append(view.area, view.error, view.buttons);
  view.save.addEventListener('click', () => {
    view.dirty = false;
    post({ type: 'editorSave', window: view.id, text: view.area.value });
  });
  view.close.addEventListener('click', () => closeEditor(view));
  view.area.addEventListener('keydown', (e) => {
    if (e.key === 's' && e.ctrlKey) { e.preventDefault(); view.save.click(); }
  });
}
// The text typed so far goes first, so the server can ask about unsaved changes.
export function closeEditor(view) {
  if (view.dirty) post({ type: 'editorText', window: view.id, text: view.area.value });
  post({ type: 'editorClose', window: view.id });
}
export function updateEditor(view, w) {
  const ed = w.editor || w;
  // A text area holds its line ends as LF; the file's CR LF are not a change.
  const text = str(ed.text != null ? ed.text : ed.saved).replace(/\r\n?/g, '\n');
  if (!view.dirty && view.area.value !== text) view.area.value = text;
  setText(view.error, str(ed.error));
  view.error.hidden = !ed.error;
  if (!w.title) setText(view.title, str(ed.file).split('/').pop() + ' - Notepad');
}
