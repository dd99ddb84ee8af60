// The sysop console in a real browser, over the demo windows of console_demo.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { mkdirSync, readFileSync } from 'node:fs';
import { join } from 'node:path';
import { startDemo, startBrowser, ARTIFACTS } from './harness.mjs';

let demo;
let browser;
let context;
let page;

const main = () => page.locator('.window.dialog', { has: page.locator('.titlebar .title', { hasText: /^Ossivane BBS$/ }) });
const win = (p, title) => p.locator('.window', { has: p.locator('.titlebar .title', { hasText: title }) });
const ctl = (w, id) => w.locator(`[data-control="${id}"]`);

async function chooseMenu(p, ...path) {
  const w = p.locator('.window.dialog').first();
  await w.locator('.menubar .mitem', { hasText: path[0] }).dispatchEvent('mousedown');
  for (const [i, label] of path.slice(1).entries()) {
    const item = p.locator(`.popup[data-level="${i}"] .mi`, { hasText: label });
    await item.hover();
    if (i === path.length - 2) await item.dispatchEvent('mouseup');
  }
}

before(async () => {
  demo = await startDemo();
  browser = await startBrowser();
  context = await browser.newContext({ viewport: { width: 900, height: 600 } });
  page = await context.newPage();
  page.on('pageerror', (e) => { throw e; });
});

after(async () => {
  await browser?.close();
  await demo?.stop();
});

test('a page without the token, or with a wrong one, is refused', async () => {
  const other = await browser.newContext();
  const p = await other.newPage();
  let res = await p.goto(demo.origin + '/');
  assert.equal(res.status(), 403);
  res = await p.goto(demo.origin + '/?token=00000000000000000000000000000000');
  assert.equal(res.status(), 403);
  res = await p.goto(demo.origin + '/console.js');
  assert.equal(res.status(), 403);
  await other.close();
});

test('the main window is drawn at its dialog-unit size with its menu bar', async () => {
  const from = demo.mark();
  const res = await page.goto(demo.address);
  assert.equal(res.status(), 200);
  await main().waitFor();
  // A newly opened page counts as a restarted taskbar.
  await demo.waitForLine('EVENT taskbarcreated', 10000, from);
  const client = await main().locator('.client').boundingBox();
  assert.equal(Math.round(client.width), Math.round(390 * 1.5));
  assert.equal(Math.round(client.height), Math.round(249 * 1.625));
  const tree = ctl(main(), 1020);
  const box = await tree.boundingBox();
  assert.equal(Math.round(box.x - client.x), 15);
  assert.equal(Math.round(box.y - client.y), 16);
  assert.deepEqual(await main().locator('.menubar .mitem').allTextContents(), ['File', 'Security', 'Window', 'Help']);
  assert.equal(await main().locator('.menubar .mitem u').first().textContent(), 'F');
  assert.equal(await page.title(), 'Main lobby - 2 user(s) out of a maximum of 5', 'the board first, then the load');
  assert.match(await page.locator('#favicon').getAttribute('href'), /^data:image\/svg\+xml,/);
  assert.ok(await ctl(main(), 1031).isDisabled(), 'Delete this area starts disabled');
  // Menu: check marks and greyed items.
  await main().locator('.menubar .mitem', { hasText: 'Help' }).dispatchEvent('mousedown');
  await assert.doesNotReject(page.locator('.popup .mi.grayed', { hasText: 'Contents' }).waitFor());
  await page.keyboard.press('Escape');
  await main().locator('.menubar .mitem', { hasText: 'Security' }).dispatchEvent('mousedown');
  assert.equal(await page.locator('.popup .mi.checked').count(), 2);
  await page.mouse.click(5, 5);
});

test('tree selection, typing and a click reach the window in order', async () => {
  let from = demo.mark();
  await ctl(main(), 1020).locator('.label', { hasText: 'Games' }).click();
  await demo.waitForLine('EVENT treesel area=00000002', 10000, from);
  await page.waitForFunction(() => document.querySelector('[data-control="1023"]').textContent === '00000002');
  // Expanding shows the sub-area.
  await ctl(main(), 1020).locator('.label', { hasText: 'Games' }).locator('xpath=../../span[contains(@class, "exp")]').click();
  await ctl(main(), 1020).locator('.label', { hasText: 'Trivia night' }).waitFor();
  from = demo.mark();
  const title = ctl(main(), 1022).locator('input');
  await title.fill('Arcade');
  const min = ctl(main(), 1024).locator('input');
  await min.fill('');
  await min.pressSequentially('7x3');
  assert.equal(await min.inputValue(), '73', 'digits only');
  await ctl(main(), 1038).click();
  await demo.waitForLine('EVENT save area title=Arcade min=73 max=65535', 10000, from);
});

test('a modal dialog over the main window, and a message box over the dialog', async () => {
  const from = demo.mark();
  await chooseMenu(page, 'File', 'Configure', 'General options...');
  const dlg = win(page, 'General preferences');
  await dlg.waitFor();
  await page.waitForFunction(() => document.querySelector('.window.dialog').inert);
  assert.ok(await main().evaluate((e) => e.classList.contains('inactive')), 'the owner is disabled');
  await ctl(dlg, 1050).click(); // Use TCP off
  await ctl(dlg, 1057).locator('input').fill('12');
  const yes = ctl(dlg, 1059).locator('input');
  await yes.fill('');
  await yes.pressSequentially('y');
  assert.equal(await yes.inputValue(), 'Y', 'capitals');
  await ctl(dlg, 1).click();
  const note = page.locator('.window.messagebox');
  await note.waitFor();
  assert.equal(await note.locator('.text').textContent(), 'Changes will take effect the next time the BBS is started.');
  assert.equal(await note.locator('.titlebar .title').textContent(), 'Note');
  await demo.waitForLine('Message box "Note": Changes will take effect the next time the BBS is started.', 10000, from);
  await note.locator('button', { hasText: 'OK' }).click();
  await demo.waitForLine('EVENT general ok tcp=0 users=12 yes=Y', 10000, from);
  await demo.waitForLine('EVENT note answered 1', 10000, from);
  await demo.waitForLine('EVENT general result=1', 10000, from);
  await dlg.waitFor({ state: 'detached' });
  await page.waitForFunction(() => !document.querySelector('.window.dialog').inert);
});

test('Escape does nothing in the main window; Enter presses the default button', async () => {
  const from = demo.mark();
  await ctl(main(), 1022).locator('input').focus();
  await page.keyboard.press('Escape'); // IDCANCEL, which the main window ignores
  await demo.waitForLine('EVENT command id=2 code=0', 10000, from);
  await chooseMenu(page, 'File', 'Configure', 'General options...');
  const general = win(page, 'General preferences');
  await general.waitFor();
  await ctl(general, 1057).locator('input').focus();
  await page.keyboard.press('Escape');
  await demo.waitForLine('EVENT general cancel', 10000, from);
  await general.waitFor({ state: 'detached' });
  assert.equal(await main().count(), 1);

  await chooseMenu(page, 'Window', 'Active connections...');
  const dlg = win(page, 'Active connections');
  await dlg.waitFor();
  const rows = ctl(dlg, 1006).locator('tbody tr');
  await rows.nth(1).waitFor();
  assert.equal(await rows.count(), 2);
  assert.equal(await rows.nth(0).locator('svg').count(), 1, 'the row carries its small image');
  assert.deepEqual(await ctl(dlg, 1006).locator('th').allTextContents(), ['', 'Online since', "User's login", 'Connection name']);
  await rows.nth(1).click();
  await ctl(dlg, 1007).click();
  await demo.waitForLine('EVENT disconnect row=1', 10000, from);
  await page.waitForFunction(() => document.querySelectorAll('[data-control="1006"] tbody tr').length === 1);
  await ctl(dlg, 1006).focus();
  await page.keyboard.press('Enter');
  await dlg.waitFor({ state: 'detached' });
});

test('the drop-down combo takes a typed value and a choice from its list', async () => {
  let from = demo.mark();
  await chooseMenu(page, 'File', 'Configure', 'Modems...');
  const dlg = win(page, 'Modem configuration');
  await dlg.waitFor();
  const combo = ctl(dlg, 1064);
  await combo.locator('.drop').dispatchEvent('mousedown');
  await page.locator('.combolist .item', { hasText: /^57600$/ }).dispatchEvent('mousedown');
  await page.waitForFunction(() => document.querySelector('[data-control="1064"] input').value === '57600');
  await ctl(dlg, 1).click();
  await demo.waitForLine('EVENT modem ok tapi=1 bps=57600', 10000, from);
  await dlg.waitFor({ state: 'detached' });

  from = demo.mark();
  await chooseMenu(page, 'File', 'Configure', 'Modems...');
  await dlg.waitFor();
  await combo.locator('input').fill('31200');
  await ctl(dlg, 1).click();
  await demo.waitForLine('EVENT modem ok tapi=1 bps=31200', 10000, from);
  await dlg.waitFor({ state: 'detached' });
});

test('two pages show the same state and answer the same message box', async () => {
  const second = await context.newPage();
  await second.goto(demo.address);
  const main2 = second.locator('.window.dialog').first();
  await main2.waitFor();
  const from = demo.mark();
  await ctl(main(), 1021).locator('.item', { hasText: 'alice' }).click();
  await demo.waitForLine('EVENT command id=1021 code=1', 10000, from);
  for (const p of [page, second])
    await p.waitForFunction(() => document.querySelector('[data-control="1032"] input').value === 'alice');
  assert.equal(await ctl(main2, 1021).locator('.item.sel').textContent(), 'alice');
  // The password box is write-only: the page gets neither the text nor its length.
  assert.equal(await ctl(main2, 1035).locator('input').getAttribute('type'), 'password');
  assert.equal(await ctl(main2, 1035).locator('input').inputValue(), '');

  await ctl(main2, 1045).click(); // Delete user, from the second page
  for (const p of [page, second]) await p.locator('.window.messagebox').waitFor();
  await page.locator('.window.messagebox button', { hasText: 'No' }).click();
  await demo.waitForLine('EVENT delete answered 7', 10000, from);
  for (const p of [page, second]) await p.locator('.window.messagebox').waitFor({ state: 'detached' });
  await second.close();
  mkdirSync(ARTIFACTS, { recursive: true });
  await main().screenshot({ path: join(ARTIFACTS, 'console-main.png') });
});

test('hidden, the page shows the tray; a double click brings the window back', async () => {
  const from = demo.mark();
  await chooseMenu(page, 'Window', 'Hide (tooltray icon only)');
  await page.locator('#traybig').waitFor();
  await main().waitFor({ state: 'detached' });
  assert.equal(await page.locator('#traybig .tip').textContent(), '2 user(s) out of a maximum of 5');
  await page.locator('#traybig .pic').dblclick();
  await demo.waitForLine('EVENT tray dblclk', 10000, from);
  await main().waitFor();
  await page.locator('#traybig').waitFor({ state: 'detached' });
  // The minimise box hides it the same way.
  await main().locator('.capbtn.min').click();
  await demo.waitForLine('EVENT minimize', 10000, from);
  await page.locator('#tray').dblclick();
  await main().waitFor();
});

test('the open-file dialog browses folders and chooses a file', async () => {
  const from = demo.mark();
  await ctl(main(), 1042).click();
  const dlg = page.locator('.window.openfile');
  await dlg.waitFor();
  assert.equal(await dlg.locator('.titlebar .title').textContent(), 'Install which plug-in?');
  await dlg.locator('.files .item', { hasText: 'memo.so' }).waitFor();
  await dlg.locator('.files .item', { hasText: 'plugins' }).dblclick();
  await dlg.locator('.files .item', { hasText: 'pagepeek.so' }).dblclick();
  const line = await demo.waitForLine(/^EVENT openfile chosen=/, 10000, from);
  assert.equal(line, `EVENT openfile chosen=${join(demo.workDir, 'plugins', 'pagepeek.so')}`);
  await dlg.waitFor({ state: 'detached' });

  await ctl(main(), 1042).click();
  await dlg.waitFor();
  await dlg.locator('button', { hasText: 'Cancel' }).click();
  await demo.waitForLine('EVENT openfile cancelled', 10000, from);
});

test('the text editor window saves and closes', async () => {
  const from = demo.mark();
  await ctl(main(), 1050).click();
  await demo.waitForLine('EVENT editor started=1', 10000, from);
  const ed = page.locator('.window.editor');
  await ed.waitFor();
  const area = ed.locator('textarea');
  await page.waitForFunction(() => document.querySelector('.window.editor textarea').value === 'Welcome to the lobby.\n');
  // The text area gives LF; the file gets CR LF.
  await area.fill('Welcome to the arcade.\nMind the step.\n');
  await ed.locator('button', { hasText: 'Save' }).click();
  const file = join(demo.workDir, 'desc.txt');
  const saved = 'Welcome to the arcade.\r\nMind the step.\r\n';
  for (let i = 0; i < 100 && readFileSync(file, 'utf8') !== saved; i++)
    await new Promise((r) => setTimeout(r, 50));
  assert.equal(readFileSync(file, 'utf8'), saved);
  await ed.locator('button', { hasText: 'Close' }).click();
  await ed.waitFor({ state: 'detached' });
});

test('closing the text editor with unsaved text asks to save, discard or cancel', async () => {
  const from = demo.mark();
  await ctl(main(), 1050).click();
  await demo.waitForLine('EVENT editor started=1', 10000, from);
  const ed = page.locator('.window.editor');
  await ed.waitFor();
  const saved = 'Welcome to the arcade.\r\nMind the step.\r\n';
  await page.waitForFunction(() => document.querySelector('.window.editor textarea').value === 'Welcome to the arcade.\nMind the step.\n');
  await ed.locator('textarea').fill('Not saved yet.\n');
  await ed.locator('button', { hasText: 'Close' }).click();
  const box = page.locator('.window.messagebox');
  await box.waitFor();
  assert.equal(await box.locator('.text').textContent(), 'Save the changes to desc.txt?');
  assert.deepEqual(await box.locator('.buttons button').allTextContents(), ['Yes', 'No', 'Cancel']);
  await box.locator('button', { hasText: 'Cancel' }).click();
  await box.waitFor({ state: 'detached' });
  assert.equal(await ed.locator('textarea').inputValue(), 'Not saved yet.\n');
  // The title bar's close box asks as well; No closes without saving.
  await ed.locator('.capbtn.close').click();
  await box.waitFor();
  await box.locator('button', { hasText: 'No' }).click();
  await ed.waitFor({ state: 'detached' });
  assert.equal(readFileSync(join(demo.workDir, 'desc.txt'), 'utf8'), saved);
});

test('closing the main window ends the program, and the page says it is disconnected', async () => {
  await main().locator('.capbtn.close').click();
  await demo.waitForLine('EVENT close');
  await demo.waitForLine(/^EVENT ended /);
  await page.waitForFunction(() => document.body.classList.contains('disconnected'));
  assert.match(await page.locator('#status-text').textContent(), /Disconnected/);
});
