// The whole program: the sysop in the console page, callers over Telnet, the files in between.
// The tests run in order and build on each other, as one sysop's session would.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { mkdirSync } from 'node:fs';
import { basename, dirname, join } from 'node:path';
import {
  ARTIFACTS, BOUND, WORK_DIR, call, createAccount, logIn, readUsers, readWorkFile, startBrowser,
  startServer, telnetPort, waitUntil,
} from './harness.mjs';

let server;
let browser;
let page;
const callers = [];
const pageErrors = [];

const main = () => page.locator('.window.dialog', { has: page.locator('.titlebar .title', { hasText: /^Ossivane BBS$/ }) });
const win = (title) => page.locator('.window', { has: page.locator('.titlebar .title', { hasText: title }) });
const ctl = (w, id) => w.locator(`[data-control="${id}"]`);
const exactly = (text) => new RegExp(`^${text.replace(/[.*+?^${}()|[\]\\]/g, '\\$&')}$`);
const item = (w, id, text) => ctl(w, id).locator('.item', { hasText: exactly(text) });
const inputOf = (w, id) => ctl(w, id).locator('input');

async function chooseMenu(...path) {
  await main().locator('.menubar .mitem', { hasText: path[0] }).click();
  for (const [i, label] of path.slice(1).entries()) {
    const row = page.locator(`.popup[data-level="${i}"] .mi`, { hasText: label });
    if (i === path.length - 2) await row.click();
    else await row.hover();
  }
}
// Opens a menu, waits until the item shows (or does not show) its check mark, and closes it.
// The window sets the mark just after the setter saved the file, and an open menu follows.
async function expectChecked(menu, label, checked) {
  await main().locator('.menubar .mitem', { hasText: menu }).click();
  const row = page.locator(`.popup .mi${checked ? '.checked' : ':not(.checked)'}`, { hasText: label });
  await row.waitFor();
  assert.equal(await row.locator('.check svg').count(), checked ? 1 : 0, `${label}: the mark drawn`);
  await page.keyboard.press('Escape');
  await page.locator('.popup').waitFor({ state: 'detached' });
}
// The runtime's own snapshot, as the page receives it.
const snapshot = () => page.evaluate(async () => (await (await fetch('/state', { cache: 'no-store' })).json()).state);

// The root area's record in area/bbs_area.dat (the first 984 bytes), or null while a save is
// replacing the file.
function rootArea() {
  const data = readWorkFile('area/bbs_area.dat');
  if (!data || data.length < 984) return null;
  const cstr = (off, len) => { const b = data.subarray(off, off + len); const z = b.indexOf(0); return b.subarray(0, z < 0 ? len : z).toString('latin1'); };
  const count = data.readUInt16LE(14);
  return {
    title: cstr(88, 32),
    extensions: Array.from({ length: count }, (_, i) => ({ plugin: data.readUInt32LE(52 + 4 * i), name: cstr(120 + 32 * i, 32), args: cstr(408 + 64 * i, 64) })),
  };
}

before(async () => {
  server = await startServer();
  browser = await startBrowser();
  const context = await browser.newContext({ viewport: { width: 1000, height: 680 } });
  context.setDefaultTimeout(BOUND);
  page = await context.newPage();
  page.on('pageerror', (e) => pageErrors.push(String(e)));
});

after(async () => {
  for (const c of callers) c.end();
  await browser?.close();
  if (server && server.child.exitCode === null && server.child.signalCode === null) {
    server.child.kill('SIGTERM');
    await server.exited;
  }
  assert.deepEqual(pageErrors, [], 'the page ran without script errors');
});

test('the main window opens with the sample areas and no plug-ins', async () => {
  assert.equal((await page.goto(server.address)).status(), 200);
  await main().waitFor();
  await ctl(main(), 1020).locator('.label', { hasText: 'Main hall' }).waitFor();
  assert.equal(await page.title(), 'Main hall - 0 user(s) out of a maximum of 5');
  assert.equal(await ctl(main(), 1041).locator('.item').count(), 0);
  assert.ok(await ctl(main(), 1028).isDisabled(), 'nothing to add yet');
});

test('Alt and a menu\'s letter open that menu; a letter inside picks the item', async () => {
  await ctl(main(), 1020).focus();
  await page.keyboard.press('Alt+W');
  const popup = page.locator('.popup[data-level="0"]');
  await popup.waitFor();
  assert.ok(await main().locator('.menubar .mitem', { hasText: 'Window' }).evaluate((m) => m.classList.contains('open')));
  assert.match(await popup.textContent(), /Active connections/);
  await page.keyboard.press('Escape');
  await popup.waitFor({ state: 'detached' });
  // Alt+H, then A: Help, About...
  await page.keyboard.press('Alt+H');
  await popup.waitFor();
  await page.keyboard.press('a');
  const about = win(/^About/);
  await about.waitFor();
  assert.match(await about.textContent(), /Version 1\.00b1, build 311 \(14 Apr 99\)/);
  await ctl(about, 1).click();
  await about.waitFor({ state: 'detached' });
  // Arrow keys walk the menus; Enter chooses.
  await page.keyboard.press('Alt+F');
  await popup.waitFor();
  await page.locator('.popup .mi.hot', { hasText: 'Configure' }).waitFor(); // the first item
  await page.keyboard.press('ArrowDown');
  await page.locator('.popup .mi.hot', { hasText: 'Exit' }).waitFor();
  await page.keyboard.press('ArrowUp');
  await page.keyboard.press('ArrowRight');
  await page.locator('.popup[data-level="1"] .mi.hot', { hasText: 'General options...' }).waitFor();
  await page.keyboard.press('ArrowDown'); // Modems...
  await page.keyboard.press('ArrowDown'); // Telnet...
  await page.keyboard.press('Enter');
  const telnet = win('Telnet configuration');
  await telnet.waitFor();
  await page.locator('.popup').waitFor({ state: 'detached' });
  await page.keyboard.press('Escape');
  await telnet.waitFor({ state: 'detached' });
});

test('the three plug-ins are installed through the open-file dialog', async () => {
  const dlg = page.locator('.window.openfile');
  await ctl(main(), 1042).click();
  await dlg.waitFor();
  assert.equal(await dlg.locator('.titlebar .title').textContent(), 'Install which plug-in?');
  assert.equal(await dlg.locator('.lookin').first().textContent(), WORK_DIR, 'it starts in the working directory');
  // Browse up and back down again, then choose the file.
  await dlg.locator('.files .item', { hasText: /^\.\.$/ }).dblclick();
  await page.waitForFunction((d) => document.querySelector('.window.openfile .lookin').textContent === d, dirname(WORK_DIR), { timeout: BOUND });
  await dlg.locator('.files .item', { hasText: exactly(basename(WORK_DIR)) }).dblclick();
  await page.waitForFunction((d) => document.querySelector('.window.openfile .lookin').textContent === d, WORK_DIR, { timeout: BOUND });
  assert.deepEqual(await dlg.locator('.files .item').allTextContents(), ['..', 'area', 'jotbox.so', 'pagepeek.so', 'ttypick.so']);
  await dlg.locator('.files .item', { hasText: 'jotbox.so' }).click();
  await dlg.locator('button', { hasText: 'Open' }).click();
  await dlg.waitFor({ state: 'detached' });
  await item(main(), 1041, 'Memo to sysop').waitFor();

  // The other two by name, with the keyboard: Alt+N is "File name:", Alt+O is "Open".
  await ctl(main(), 1042).click();
  await dlg.waitFor();
  await page.keyboard.press('Alt+N');
  assert.ok(await dlg.locator('input.edit').evaluate((e) => e === document.activeElement), 'Alt+N focuses the name');
  await page.keyboard.type('ttypick');
  await page.keyboard.press('Alt+O');
  await dlg.waitFor({ state: 'detached' });
  await item(main(), 1041, 'Set terminal type').waitFor();
  await ctl(main(), 1042).click();
  await dlg.waitFor();
  await dlg.locator('input.edit').fill('pagepeek.so');
  await page.keyboard.press('Enter');
  await dlg.waitFor({ state: 'detached' });
  await item(main(), 1041, 'View a file').waitFor();
  assert.deepEqual(await ctl(main(), 1041).locator('.item').allTextContents(), ['Memo to sysop', 'Set terminal type', 'View a file']);
  // The newest is selected; every button of the list is usable.
  assert.equal(await ctl(main(), 1041).locator('.item.sel').textContent(), 'View a file');
  for (const id of [1028, 1043, 1049]) assert.ok(await ctl(main(), id).isEnabled(), `button ${id}`);
  // jotbox adds its two commands to the Window menu.
  await main().locator('.menubar .mitem', { hasText: 'Window' }).click();
  await page.locator('.popup .mi', { hasText: 'Read messages from users...' }).waitFor();
  await page.keyboard.press('Escape');
  await page.locator('.popup').waitFor({ state: 'detached' });
});

test('the three plug-ins join the root area, two of them under names of the sysop\'s', async () => {
  await ctl(main(), 1020).locator('.label', { hasText: 'Main hall' }).click();
  await page.waitForFunction(() => document.querySelector('[data-control="1023"]').textContent === '00000000', null, { timeout: BOUND });
  for (const name of ['Memo to sysop', 'Set terminal type', 'View a file']) {
    await item(main(), 1041, name).click();
    await ctl(main(), 1028).click();
    await item(main(), 1027, name).waitFor();
  }
  const props = win('Edit plug-in properties');
  for (const [name, display, args] of [['Memo to sysop', 'Leave a memo', ''], ['View a file', 'Read the rules', 'rules.txt']]) {
    await item(main(), 1027, name).click();
    await ctl(main(), 1048).click();
    await props.waitFor();
    assert.equal(await inputOf(props, 1048).inputValue(), name);
    assert.equal(await inputOf(props, 1049).inputValue(), '');
    await inputOf(props, 1048).fill(display);
    await inputOf(props, 1049).fill(args);
    await ctl(props, 1).click();
    await props.waitFor({ state: 'detached' });
  }
  await ctl(main(), 1038).click();
  const area = await waitUntil(() => { const a = rootArea(); return a && a.extensions.length === 3 && a; }, 'the root area to be saved');
  assert.equal(area.title, 'Main hall');
  assert.deepEqual(area.extensions.map((e) => [e.name, e.args]),
    [['Leave a memo', ''], ['Set terminal type', ''], ['Read the rules', 'rules.txt']]);
});

test('a Telnet caller creates an account, leaves a memo, reads a file and switches to ANSI and back', async () => {
  const c = await call();
  callers.push(c);
  await c.expect('Login as "new" to create a new account.');
  let screen = await createAccount(c, 'Tester', 'secret', 'Tess Tester');
  assert.match(screen, /Main hall/);
  assert.match(screen, /1\) Notice board/);
  assert.match(screen, /A\) Leave a memo/);
  assert.match(screen, /B\) Set terminal type/);
  assert.match(screen, /C\) Read the rules/);
  assert.doesNotMatch(screen, /Back room/, 'access level 0 does not see it');
  assert.ok(screen.endsWith('[1ABCQ]  '));
  // The new account shows in the sysop's list at once, and the tray counts the caller.
  await item(main(), 1021, 'tester').waitFor();
  await page.waitForFunction(() => document.title === 'Main hall - 1 user(s) out of a maximum of 5', null, { timeout: BOUND });

  c.send('a');
  await c.expect('Enter a one-line memo to the sysop, or Ctrl-C to cancel.\r\n');
  c.send('hello sysop\r\n');
  await c.expect('The message has been recorded.\r\n');
  await c.expect('[1ABCQ]  ');
  assert.equal(readWorkFile('jotbox.txt').toString('latin1'), '[tester]:  "hello sysop"\r\n');

  c.send('C');
  await c.expect('Be kind to the other callers.\r\nNo advertising.\r\nThe sysop\'s word is final.\r\n\r\nMORE (76/76, 100%)');
  c.send(' ');
  await c.expect('[1ABCQ]  ');

  c.send('b');
  await c.expect('You are currently using text only.');
  await c.expect('Which do you wish to use?  ');
  c.send('a');
  screen = await c.expect(/\]  $/);
  assert.ok(screen.startsWith('A\r\n'));
  assert.match(screen, /\x1b\[/, 'escape sequences');
  assert.ok(screen.includes('\xb3'), 'box-drawing characters');
  await waitUntil(() => readUsers()[0]?.userFlags === 1, 'the ANSI flag in the account');
  c.send('B');
  await c.expect('You are currently using ANSI escapes.');
  await c.expect('Which do you wish to use?  ');
  c.send('t');
  screen = await c.expect(/\]  $/);
  assert.ok(screen.endsWith('[1ABCQ]  '));
  assert.doesNotMatch(screen, /\x1b/);
});

test('the user editor changes the access level, the real name and the password in bbsusers.dat', async () => {
  await item(main(), 1021, 'tester').click();
  await page.waitForFunction(() => document.querySelector('[data-control="1032"] input').value === 'tester', null, { timeout: BOUND });
  assert.equal(await inputOf(main(), 1036).inputValue(), 'Tess Tester');
  assert.equal(await inputOf(main(), 1026).inputValue(), '0');
  assert.equal(await inputOf(main(), 1035).inputValue(), '', 'the page never holds the password');
  assert.ok(await ctl(main(), 1045).isEnabled(), 'Delete user');
  await inputOf(main(), 1026).fill('10');
  await inputOf(main(), 1036).fill('Tess T. Tester');
  await ctl(main(), 1046).click();
  const [user] = await waitUntil(() => { const u = readUsers(); return u.length === 1 && u[0].accessLevel === 10 && u; }, 'the account to be saved');
  assert.deepEqual(
    { id: user.id, loginName: user.loginName, password: user.password, realName: user.realName, accessLevel: user.accessLevel, loginCount: user.loginCount, secondLoginCount: user.secondLoginCount, userFlags: user.userFlags },
    { id: 0, loginName: 'tester', password: 'secret', realName: 'Tess T. Tester', accessLevel: 10, loginCount: 1, secondLoginCount: 1, userFlags: 0 });
  assert.ok(user.lastLogin >= user.firstLogin && user.firstLogin > 0n);

  // A new password typed in two goes, the box left in between: the second part joins what was
  // typed, never a row of marks, and the box's text stays on the server.
  const pass = inputOf(main(), 1035);
  const passBox = async () => (await snapshot()).windows.flatMap((w) => w.controls || []).find((k) => k.id === 1035);
  await pass.click();
  await page.keyboard.type('hid');
  await page.keyboard.press('Tab');
  await waitUntil(async () => (await passBox()).filled, 'the typed text on the server');
  assert.equal((await passBox()).text, '');
  await pass.click();
  await page.keyboard.press('End');
  await page.keyboard.type('den');
  await ctl(main(), 1046).click();
  await waitUntil(() => readUsers()[0]?.password === 'hidden', 'the new password');

  // The caller's next screen offers the room that level 10 may enter.
  const c = callers[0];
  c.send('A');
  await c.expect('Ctrl-C to cancel.\r\n');
  c.send('\x03');
  const screen = await c.expect(/\[[^\]]*\]  $/);
  assert.match(screen, /2\) Back room/);
  assert.ok(screen.endsWith('[12ABCQ]  '));
});

test('a description written in the console reaches the caller\'s screen line by line', async () => {
  await ctl(main(), 1020).locator('.label', { hasText: 'Main hall' }).click();
  await ctl(main(), 1050).click();
  const ed = page.locator('.window.editor');
  await ed.waitFor();
  await page.waitForFunction(() => document.querySelector('.window.editor textarea').value.startsWith('Welcome'), null, { timeout: BOUND });
  await ed.locator('textarea').fill('Welcome to the board.\nPick a room by its number.\n');
  await ed.locator('button', { hasText: 'Save' }).click();
  await waitUntil(() => readWorkFile('area/00000000.txt')?.toString('latin1') === 'Welcome to the board.\r\nPick a room by its number.\r\n', 'the description saved with CR LF');
  await ed.locator('button', { hasText: 'Close' }).click();
  await ed.waitFor({ state: 'detached' });

  // The caller's composed screen: 22 rows of 80 columns, the description on the left from row 1.
  const c = callers[0];
  c.send('A');
  await c.expect('Ctrl-C to cancel.\r\n');
  c.send('\x03');
  const prompt = '[12ABCQ]  ';
  const screen = await c.expect(prompt);
  const rows = screen.slice(-(22 * 80 + prompt.length), -prompt.length).match(/.{80}/gs);
  assert.deepEqual(rows.slice(1, 4).map((r) => r.slice(0, 42).trimEnd()), ['Welcome to the board.', 'Pick a room by its number.', '']);
});

test('the area editor asks before unsaved edits or an area are lost', async () => {
  const tree = ctl(main(), 1020);
  const areaId = () => page.locator('[data-control="1023"]').textContent();
  const question = page.locator('.window.messagebox');
  const answer = async (label) => {
    await question.waitFor();
    const text = await question.locator('.text').textContent();
    await question.locator('button', { hasText: label }).click();
    await question.waitFor({ state: 'detached' });
    return text;
  };
  await tree.locator('.label', { hasText: 'Main hall' }).click();
  await page.waitForFunction(() => document.querySelector('[data-control="1023"]').textContent === '00000000', null, { timeout: BOUND });
  await inputOf(main(), 1022).fill('Great hall');
  // Cancel stays with the edits; No throws them away and moves on.
  await tree.locator('.label', { hasText: 'Notice board' }).click();
  assert.equal(await answer('Cancel'), 'Save the changes to this area?');
  assert.equal(await areaId(), '00000000');
  assert.equal(await inputOf(main(), 1022).inputValue(), 'Great hall');
  await tree.locator('.label', { hasText: 'Notice board' }).click();
  assert.equal(await answer('No'), 'Save the changes to this area?');
  await waitUntil(async () => (await inputOf(main(), 1022).inputValue()) === 'Notice board', 'the other area shown');
  assert.equal(rootArea().title, 'Main hall');

  // Deleting asks, naming the area; No keeps it.
  await ctl(main(), 1030).click();
  await waitUntil(async () => (await inputOf(main(), 1022).inputValue()) === 'New area', 'the new sub-area shown');
  const added = await areaId();
  await ctl(main(), 1031).click();
  assert.equal(await answer('No'), 'Delete the area "New area"?');
  assert.equal(await tree.locator('.label', { hasText: 'New area' }).count(), 1);
  await ctl(main(), 1031).click();
  assert.equal(await answer('Yes'), 'Delete the area "New area"?');
  await tree.locator('.label', { hasText: 'New area' }).waitFor({ state: 'detached' });
  assert.notEqual(await areaId(), added);
});

test('each Security switch rewrites osvbpref.dat at once and moves its check mark', async () => {
  const switches = [['Allow new accounts', 20], ['Allow plug-ins to change access', 21], ['Paranoid logging', 17], ['Unrevealing login screen', 22]];
  const byte = (offset) => readWorkFile('osvbpref.dat')[offset];
  for (const [label, offset] of switches) {
    const was = byte(offset);
    await expectChecked('Security', label, was !== 0);
    for (const want of [was ? 0 : 1, was ? 1 : 0]) {
      const before = readWorkFile('osvbpref.dat');
      await chooseMenu('Security', label);
      await waitUntil(() => byte(offset) === want, `${label}: byte ${offset} = ${want}`);
      const after = readWorkFile('osvbpref.dat');
      assert.equal(after.length, 3888);
      for (let i = 0; i < after.length; i++) if (i !== offset) assert.equal(after[i], before[i], `byte ${i} kept`);
      await expectChecked('Security', label, want === 1);
      if (offset === 20 && want === 0) {
        // It acts at once: the next caller is not offered a new account.
        const c = await call();
        await c.expect('Login:  ');
        assert.ok(!c.text.includes('Login as "new"'), c.text);
        await c.hangUp();
        await page.waitForFunction(() => document.title === 'Main hall - 1 user(s) out of a maximum of 5', null, { timeout: BOUND });
      }
    }
  }
});

test('Active connections shows each caller; Disconnect drops the chosen one', async () => {
  const waiting = await call();
  callers.push(waiting);
  await waiting.expect('Login:  ');
  await chooseMenu('Window', 'Active connections...');
  const dlg = win('Active connections');
  await dlg.waitFor();
  const rows = ctl(dlg, 1006).locator('tbody tr');
  await rows.nth(1).waitFor();
  assert.equal(await rows.count(), 2);
  const port = telnetPort();
  const describe = (c) => `TCP from 127.0.0.1:${c.socket.localPort} (remote) to 127.0.0.1:${port} (local)`;
  // Newest first: the caller at the login prompt has no login yet.
  const cells = async (i) => (await rows.nth(i).locator('td').allTextContents()).map((t) => t.trim());
  const [waitingRow, testerRow] = [await cells(0), await cells(1)];
  assert.deepEqual([waitingRow[2], waitingRow[3]], ['', describe(waiting)]);
  assert.deepEqual([testerRow[2], testerRow[3]], ['tester', describe(callers[0])]);
  assert.match(testerRow[1], /^\d\d:\d\d on \d\d [A-Z][a-z]{2} \d{4}$/);
  assert.equal(await rows.nth(1).locator('svg').count(), 1, 'the row carries its icon');
  const list = (await snapshot()).windows.find((w) => w.title === 'Active connections').controls.find((k) => k.id === 1006);
  assert.deepEqual(list.rows.map((r) => r.imageResource), [113, 113], 'network callers');

  await rows.nth(1).click();
  mkdirSync(ARTIFACTS, { recursive: true });
  await page.screenshot({ path: join(ARTIFACTS, 'e2e-active-connections.png') });
  // Disconnect asks first, naming the caller; No leaves them online.
  const question = page.locator('.window.messagebox');
  await ctl(dlg, 1007).click();
  await question.waitFor();
  assert.equal(await question.locator('.text').textContent(), `Disconnect tester?\n${describe(callers[0])}`);
  await question.locator('button', { hasText: 'No' }).click();
  await question.waitFor({ state: 'detached' });
  assert.equal(await rows.count(), 2);
  await waitUntil(async () => !(await dlg.evaluate((e) => e.inert)), 'the dialog to take input again');
  await ctl(dlg, 1007).click();
  await question.locator('button', { hasText: 'Yes' }).click();
  await callers[0].closedByServer();
  await page.waitForFunction(() => document.querySelectorAll('[data-control="1006"] tbody tr').length === 1, null, { timeout: BOUND });
  assert.equal((await cells(0))[3], describe(waiting));
  assert.ok(!waiting.closed, 'the other caller stays');
  await ctl(dlg, 1).click();
  await dlg.waitFor({ state: 'detached' });
});

test('File, Exit drops the callers online, even one inside a plug-in, and ovhost ends with 0', async () => {
  const inPlugin = await call();
  callers.push(inPlugin);
  await logIn(inPlugin, 'tester', 'hidden');
  inPlugin.send('A');
  await inPlugin.expect('Ctrl-C to cancel.\r\n');
  await page.waitForFunction(() => document.title === 'Main hall - 2 user(s) out of a maximum of 5', null, { timeout: BOUND });

  // The main window as the sysop left it: plug-ins installed, the root area with its extension.
  await ctl(main(), 1020).locator('.label', { hasText: 'Main hall' }).click();
  await item(main(), 1027, 'Leave a memo (Memo to sysop)').waitFor();
  await item(main(), 1021, 'tester').click();
  await page.waitForFunction(() => document.querySelector('[data-control="1036"] input').value === 'Tess T. Tester', null, { timeout: BOUND });
  mkdirSync(ARTIFACTS, { recursive: true });
  await page.screenshot({ path: join(ARTIFACTS, 'e2e-main-window.png') });

  await chooseMenu('File', 'Exit');
  await inPlugin.closedByServer();
  await callers[1].closedByServer();
  assert.equal(await server.exitStatus(), 0);
  await page.waitForFunction(() => document.body.classList.contains('disconnected'), null, { timeout: BOUND });
  // Nobody typed the memo, so nothing was recorded.
  assert.equal(readWorkFile('jotbox.txt').toString('latin1'), '[tester]:  "hello sysop"\r\n');
});

test('started again, the server keeps the plug-ins, the area and the user, and ends on SIGTERM', async () => {
  server = await startServer();
  await page.goto(server.address);
  await main().waitFor();
  await item(main(), 1041, 'View a file').waitFor();
  assert.deepEqual(await ctl(main(), 1041).locator('.item').allTextContents(), ['Memo to sysop', 'Set terminal type', 'View a file']);
  assert.deepEqual(await ctl(main(), 1021).locator('.item').allTextContents(), ['tester']);
  await ctl(main(), 1020).locator('.label', { hasText: 'Main hall' }).click();
  await item(main(), 1027, 'Leave a memo (Memo to sysop)').waitFor();
  const c = await call();
  callers.push(c);
  const screen = await logIn(c, 'tester', 'hidden');
  assert.match(screen, /C\) Read the rules/);
  server.child.kill('SIGTERM');
  await c.closedByServer();
  assert.equal(await server.exitStatus(), 0);
});
