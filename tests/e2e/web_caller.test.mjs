// The caller page in Chromium: a visitor makes an account, walks the areas, uses the plug-ins
// and logs off, all through the terminal in the page. Runs after e2e.test.mjs, in the working
// directory it leaves behind (the three plug-ins installed and on the root area).
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { mkdirSync } from 'node:fs';
import { join } from 'node:path';
import { ARTIFACTS, BOUND, readUsers, readWorkFile, startBrowser, startServer, waitUntil } from './harness.mjs';

let server;
let browser;
let page;
let received = ''; // what the board sent, as the page's WebSocket got it
let mark = 0; // in the text without escape sequences
const plain = () => received.replace(/\x1b\[[0-9;]*[A-Za-z]/g, '');
const pageErrors = [];

// Waits for text the board sends after the mark (colours left out) and moves the mark past it.
async function expect(text) {
  try {
    await waitUntil(() => plain().indexOf(text, mark) >= 0, JSON.stringify(text));
  } catch (e) {
    throw new Error(`${e.message}; got:\n${JSON.stringify(plain().slice(mark))}`);
  }
  mark = plain().indexOf(text, mark) + text.length;
}

// The terminal's screen as xterm.js holds it: the visible rows, read through its buffer API.
const screenRows = () => page.evaluate(() => {
  const term = window.callerTerminal;
  const b = term.buffer.active;
  const rows = [];
  for (let y = 0; y < term.rows; ++y) rows.push(b.getLine(b.viewportY + y).translateToString(true));
  return rows;
});

async function type(text) {
  await page.keyboard.type(text);
}

before(async () => {
  process.env.OVHOST_WEB = '127.0.0.1:0';
  server = await startServer();
  server.callerPage = (await server.waitForLine(/^Caller page: http:\/\//)).slice('Caller page: '.length);
  browser = await startBrowser();
  const context = await browser.newContext({ viewport: { width: 1000, height: 700 } });
  context.setDefaultTimeout(BOUND);
  page = await context.newPage();
  page.on('pageerror', (e) => pageErrors.push(String(e)));
  page.on('websocket', (ws) => ws.on('framereceived', (f) => {
    received += Buffer.isBuffer(f.payload) ? f.payload.toString('utf8') : f.payload;
  }));
  mkdirSync(ARTIFACTS, { recursive: true });
});

after(async () => {
  await browser?.close();
  if (server && server.child.exitCode === null && server.child.signalCode === null) {
    server.child.kill('SIGTERM');
    assert.equal(await server.exitStatus(), 0);
  }
  assert.deepEqual(pageErrors, [], 'the page ran without script errors');
});

test('the page shows the banner in an 80 by 25 terminal with the board\'s name as its title', async () => {
  assert.equal((await page.goto(server.callerPage)).status(), 200);
  await expect('Login:  ');
  await page.waitForFunction(() => window.callerTerminal.buffer.active.getLine(0).translateToString().startsWith('Ossivane BBS'));
  assert.equal(await page.title(), 'Ossivane BBS');
  assert.deepEqual(await page.evaluate(() => [window.callerTerminal.cols, window.callerTerminal.rows]), [80, 25]);
  assert.ok(await page.evaluate(() => document.fonts.check('16px "DejaVu Sans Mono"')), 'the page\'s own font');
  assert.equal(await page.locator('#status').textContent(), 'Connected');
});

test('a new visitor makes an ANSI account and sees the area screen\'s rule as box lines', async () => {
  await type('new');
  await page.keyboard.press('Enter');
  await expect('(login name) that you wish to use:  ');
  await type('webvisitor\r');
  await expect('(it will not be shown on screen):  ');
  await type('sesame\r');
  await expect('Type the password again to verify:  ');
  await type('sesame\r');
  await expect('Please enter your real name:  ');
  await type('Wendy Webb\r');
  await expect('(Y/N)?  ');
  await type('y');
  await expect('The sysop\'s word is final.');
  await type(' ');
  await expect('[1ABCQ]  ');
  await waitUntil(() => readUsers().find((u) => u.loginName === 'webvisitor')?.userFlags === 1, 'the ANSI account');

  // Code page 437's vertical rule (0xB3) arrives as U+2502 and stands in one column, row under
  // row, ending in U+2534 on the rule below.
  const rows = await screenRows();
  const ruled = rows.filter((r) => r.includes('\u2502'));
  assert.ok(ruled.length >= 10, `a vertical rule on the screen:\n${rows.join('\n')}`);
  const column = ruled[0].indexOf('\u2502');
  assert.ok(ruled.every((r) => r.indexOf('\u2502') === column), 'one column');
  assert.ok(rows.some((r) => r.indexOf('\u2534') === column && r.includes('\u2500\u2500\u2500')), 'the rule beneath');
  assert.ok(rows.some((r) => r.includes('Main hall')));
  await page.screenshot({ path: join(ARTIFACTS, 'web-caller-area.png') });
});

test('the visitor walks the areas and uses every plug-in, pasting the memo', async () => {
  await type('1');
  await expect('Notice board');
  await expect(']  ');
  await page.waitForFunction(() => {
    const b = window.callerTerminal.buffer.active;
    for (let y = 0; y < window.callerTerminal.rows; ++y) if (b.getLine(b.viewportY + y).translateToString().startsWith('Notice board')) return true;
    return false;
  });
  await type('\\'); // the back key
  await expect('[1ABCQ]  ');

  await type('a');
  await expect('Ctrl-C to cancel.\r\n');
  // A paste reaches the board as typed text, its line end as CR.
  await page.evaluate(() => {
    const data = new DataTransfer();
    data.setData('text/plain', 'pasted from the web\n');
    document.querySelector('.xterm-helper-textarea')
      .dispatchEvent(new ClipboardEvent('paste', { clipboardData: data, bubbles: true, cancelable: true }));
  });
  await expect('The message has been recorded.\r\n');
  await expect('[1ABCQ]  ');
  assert.match(readWorkFile('jotbox.txt').toString('latin1'), /\[webvisitor\]:  "pasted from the web"\r\n/);

  await type('C');
  await expect('MORE (');
  await type(' ');
  await expect('[1ABCQ]  ');

  await type('b');
  await expect('Which do you wish to use?  ');
  const before = received.length;
  await type('t');
  await expect('[1ABCQ]  ');
  await waitUntil(() => readUsers().find((u) => u.loginName === 'webvisitor')?.userFlags === 0, 'text only');
  assert.doesNotMatch(received.slice(before), /\x1b/, 'no escape sequences for text only');
});

test('logging off shows the closed state, and Call again brings the banner back', async () => {
  await type('q');
  await page.locator('#closed').waitFor({ state: 'visible' });
  assert.equal(await page.locator('#closed-text').textContent(), 'Connection closed');
  assert.equal(await page.locator('#status').textContent(), 'Connection closed');
  await page.screenshot({ path: join(ARTIFACTS, 'web-caller-closed.png') });
  await waitUntil(() => /DISCONNECT\r\n   WEB from 127\.0\.0\.1:\d+ \(remote\) to 127\.0\.0\.1:\d+ \(local\)\r\n   Reason:  Logged off/.test(readWorkFile('bbslog.txt')?.toString('latin1') ?? ''), 'the log-off in the event log');

  await page.locator('#again').click();
  await expect('Login:  ');
  await page.locator('#closed').waitFor({ state: 'hidden' });
  await type('webvisitor\r');
  await expect('Password:  ');
  await type('sesame\r');
  await expect('[1ABCQ]  ');
});
