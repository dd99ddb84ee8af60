// A board as the first run leaves it: the standard plug-ins ready in the sample tree for the very
// first caller, the console's token kept across a restart, and a Telnet port that cannot be
// opened shown in front and in the main window's title.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { copyFileSync, mkdtempSync, readFileSync, rmSync, statSync } from 'node:fs';
import { createServer } from 'node:net';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { BOUND, BUILD_DIR, call, createAccount, freePort, startBrowser, startServer, waitUntil } from './harness.mjs';

const dir = mkdtempSync(join(tmpdir(), 'ov-firstrun.'));
const file = (name) => join(dir, name);
const read = (name) => { try { return readFileSync(file(name)); } catch (e) { return null; } };
let telnet;
let consoleAt;
let server;
let browser;
let page;
const pageErrors = [];

const main = () => page.locator('.window.dialog', { has: page.locator('.titlebar .title', { hasText: /^Ossivane BBS/ }) });
const status = () => page.locator('#status-text').textContent();

async function stop() {
  server.child.kill('SIGTERM');
  assert.equal(await server.exitStatus(), 0);
}

before(async () => {
  for (const p of ['jotbox', 'ttypick', 'pagepeek']) copyFileSync(join(BUILD_DIR, 'bin', `${p}.so`), file(`${p}.so`));
  telnet = await freePort();
  consoleAt = `127.0.0.1:${await freePort()}`;
  execFileSync(join(BUILD_DIR, 'bin', 'ovhost-firstrun'), [String(telnet)], { cwd: dir });
  browser = await startBrowser();
  const context = await browser.newContext({ viewport: { width: 1000, height: 680 } });
  context.setDefaultTimeout(BOUND);
  page = await context.newPage();
  page.on('pageerror', (e) => pageErrors.push(String(e)));
});

after(async () => {
  await browser?.close();
  if (server && server.child.exitCode === null && server.child.signalCode === null) {
    server.child.kill('SIGTERM');
    await server.exited;
  }
  rmSync(dir, { recursive: true, force: true });
  assert.deepEqual(pageErrors, [], 'the page ran without script errors');
});

test('a second first run changes nothing', () => {
  const files = ['osvbpref.dat', 'plugins.dat', 'area/bbs_area.dat', 'bulletin.txt'];
  const before = files.map(read);
  assert.ok(before.every((b) => b), 'all made by the first run');
  execFileSync(join(BUILD_DIR, 'bin', 'ovhost-firstrun'), [], { cwd: dir });
  assert.deepEqual(files.map(read), before);
});

test('the console starts with a private token file, and the tab names the board', async () => {
  server = await startServer({ cwd: dir, console: consoleAt });
  const token = read('console.token').toString().trim();
  assert.equal(new URL(server.address).searchParams.get('token'), token);
  assert.equal(statSync(file('console.token')).mode & 0o777, 0o600);
  assert.equal((await page.goto(server.address)).status(), 200);
  await main().waitFor();
  await page.waitForFunction(() => document.title === 'Main hall - 0 user(s) out of a maximum of 5', null, { timeout: BOUND });
});

test('the first caller uses the memo box, both terminal switches and the bulletin', async () => {
  const c = await call(telnet);
  try {
    let screen = await createAccount(c, 'first', 'secret', 'First Caller');
    assert.match(screen, /1\) Notice board/);
    assert.match(screen, /A\) Memo to the sysop/);
    assert.match(screen, /B\) Terminal type \(plain or ANSI\)/);
    assert.match(screen, /C\) Character set \(UTF-8 or DOS\)/);
    assert.ok(screen.endsWith('[1ABCQ]  '));

    c.send('a');
    await c.expect('Enter a one-line memo to the sysop, or Ctrl-C to cancel.\r\n');
    c.send('hello from the first run\r\n');
    await c.expect('The message has been recorded.\r\n');
    await c.expect('[1ABCQ]  ');
    assert.equal(read('jotbox.txt').toString('latin1'), '[first]:  "hello from the first run"\r\n');

    c.send('b');
    await c.expect('You are currently using text only.');
    await c.expect('Which do you wish to use?  ');
    c.send('t');
    await c.expect('[1ABCQ]  ');

    c.send('c');
    await c.expect('Select the character set your terminal shows:');
    await c.expect('Which do you wish to use?  ');
    c.send('u');
    await c.expect('[1ABCQ]  ');

    c.send('1');
    screen = await c.expect(/\[[^\]]*\]  $/);
    assert.match(screen, /A\) Read the bulletin/);
    c.send('a');
    await c.expect('Welcome to the board!\r\n');
    await c.expect('MORE (');
    c.send(' ');
    await c.expect(/\[[^\]]*\]  $/);
  } finally {
    await c.hangUp();
  }
});

test('after a restart the open console page reconnects with the same token', async () => {
  const token = read('console.token');
  await stop();
  await waitUntil(async () => (await status()).startsWith('Disconnected'), 'the page to see the server gone');
  server = await startServer({ cwd: dir, console: consoleAt });
  assert.deepEqual(read('console.token'), token);
  await waitUntil(async () => (await status()) === 'Connected', 'the page to reconnect');
  await main().waitFor();
  assert.equal(await status(), 'Connected');
});

test('a Telnet port that cannot be opened: the notice in front, the state in the title', async () => {
  await stop();
  const holder = createServer();
  await new Promise((resolve) => holder.listen(telnet, '0.0.0.0', resolve));
  try {
    server = await startServer({ cwd: dir, console: consoleAt });
    const notice = page.locator('.window', { has: page.locator('.titlebar .title', { hasText: /^Telnet$/ }) });
    await notice.waitFor();
    assert.match(await notice.textContent(), new RegExp(`port ${telnet} could not be opened`));
    // In front: the last window on the desktop.
    assert.equal(await page.locator('#desktop > .window').last().locator('.titlebar .title').textContent(), 'Telnet');
    const title = `Ossivane BBS - Telnet: not listening on port ${telnet}`;
    await main().locator('.titlebar .title', { hasText: title }).waitFor();
    await notice.locator('button', { hasText: 'OK' }).click();
    await notice.waitFor({ state: 'detached' });
    assert.equal(await main().locator('.titlebar .title').textContent(), title);
  } finally {
    holder.close();
  }
});
