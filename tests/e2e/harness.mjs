// The whole program for the end-to-end tests: ovhost in a prepared working directory, Debian's
// Chromium on its console, and Telnet callers made with plain sockets.
import { spawn } from 'node:child_process';
import { readFileSync } from 'node:fs';
import { createRequire } from 'node:module';
import { createConnection, createServer } from 'node:net';
import { join } from 'node:path';

// The console's browser tests already hold the pinned playwright-core; one install serves both.
const require = createRequire(join(import.meta.dirname, '../platform/console/package.json'));
const { chromium } = require('playwright-core');

export const BUILD_DIR = process.env.OV_BUILD_DIR;
export const WORK_DIR = process.env.OV_E2E_WORKDIR;
export const ARTIFACTS = process.env.OV_ARTIFACTS_DIR || join(import.meta.dirname, '../../artifacts');
if (!BUILD_DIR || !WORK_DIR) throw new Error('run through tests/e2e/run-e2e-tests.sh BUILD_DIR');

export const BOUND = 10000; // every wait below ends after this many milliseconds at most

// Polls a condition (a file the server writes, say) until it holds or the bound passes.
export async function waitUntil(check, what, bound = BOUND) {
  const end = Date.now() + bound;
  for (;;) {
    const value = await check();
    if (value) return value;
    if (Date.now() > end) throw new Error(`timed out waiting for ${what}`);
    await new Promise((r) => setTimeout(r, 25));
  }
}

export const workFile = (name) => join(WORK_DIR, name);
export const readWorkFile = (name) => {
  try { return readFileSync(workFile(name)); } catch (e) { return null; }
};

// One run of ovhost: its console address, every stdout line and its exit status. By default in
// WORK_DIR with the console on a free port; `cwd` and `console` (host:port) choose others.
export async function startServer(options = {}) {
  // Only one server runs per machine; another build's test may hold the name for a moment.
  const end = Date.now() + 60000;
  for (;;) {
    const server = spawnServer(options);
    const first = await server.waitForLine(/^(Console: http:\/\/|Ossivane BBS is already running)/, BOUND);
    if (first.startsWith('Console: ')) {
      server.address = first.slice('Console: '.length);
      server.origin = new URL(server.address).origin;
      return server;
    }
    await server.exited;
    if (Date.now() > end) throw new Error(`another ovhost kept running: ${first}`);
    await new Promise((r) => setTimeout(r, 500));
  }
}

// A test run that dies must not leave a server behind.
const running = new Set();
process.on('exit', () => { for (const child of running) child.kill('SIGKILL'); });

function spawnServer({ cwd = WORK_DIR, console: consoleAt = '127.0.0.1:0' } = {}) {
  const child = spawn(join(BUILD_DIR, 'bin', 'ovhost'), [], {
    cwd,
    env: { ...process.env, OVHOST_CONSOLE: consoleAt },
    stdio: ['ignore', 'pipe', 'inherit'],
  });
  const lines = [];
  const waiters = new Set();
  let buffered = '';
  child.stdout.setEncoding('utf8');
  child.stdout.on('data', (chunk) => {
    buffered += chunk;
    let nl;
    while ((nl = buffered.indexOf('\n')) >= 0) {
      lines.push(buffered.slice(0, nl));
      buffered = buffered.slice(nl + 1);
    }
    for (const w of [...waiters]) w.check();
  });
  const exited = new Promise((resolve) => child.on('exit', (code, signal) => resolve(signal ? `signal ${signal}` : code)));
  running.add(child);
  child.on('exit', () => running.delete(child));
  return {
    child, lines, exited,
    waitForLine(match, bound = BOUND) {
      return new Promise((resolve, reject) => {
        const w = {
          check() {
            const hit = lines.find((l) => match.test(l));
            if (hit !== undefined) { waiters.delete(w); clearTimeout(w.timer); resolve(hit); }
          },
        };
        w.timer = setTimeout(() => { waiters.delete(w); reject(new Error(`no line ${match} within ${bound} ms; got:\n${lines.join('\n')}`)); }, bound);
        waiters.add(w);
        w.check();
      });
    },
    // The exit status, or a failure when the server is still running after the bound.
    async exitStatus(bound = 20000) {
      let timer;
      const late = new Promise((_, reject) => { timer = setTimeout(() => reject(new Error(`ovhost still running after ${bound} ms`)), bound); });
      try { return await Promise.race([exited, late]); } finally { clearTimeout(timer); }
    },
  };
}

// Debian's Chromium with the console tests' launch options; never a downloaded browser.
export async function startBrowser() {
  return chromium.launch({
    executablePath: '/usr/bin/chromium',
    headless: true,
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync'],
  });
}

// The Telnet port the working directory's osvbpref.dat names (bytes 28-29).
export function telnetPort() {
  return readWorkFile('osvbpref.dat').readUInt16LE(28);
}

// A TCP port nobody listens on right now.
export function freePort() {
  return new Promise((resolve) => {
    const s = createServer().listen(0, '127.0.0.1', () => { const { port } = s.address(); s.close(() => resolve(port)); });
  });
}

// A Telnet caller. Negotiation is ignored: the server needs only the bytes typed.
export async function call(port = telnetPort()) {
  const socket = createConnection({ host: '127.0.0.1', port });
  await new Promise((resolve, reject) => { socket.once('connect', resolve); socket.once('error', reject); });
  let text = '';      // everything received, IAC sequences taken out, one char per byte
  let iac = null;     // the part of a command sequence seen so far
  const waiters = new Set();
  let closed = false;
  const wake = () => { for (const w of [...waiters]) w.check(); };
  socket.on('data', (chunk) => {
    for (const b of chunk) {
      if (iac === null) {
        if (b === 255) iac = [];
        else text += String.fromCharCode(b);
        continue;
      }
      iac.push(b);
      const cmd = iac[0];
      if (cmd === 255) { text += '\xff'; iac = null; }
      else if (cmd >= 251 && cmd <= 254) { if (iac.length === 2) iac = null; }
      else if (cmd === 250) { if (iac.length >= 3 && iac[iac.length - 2] === 255 && b === 240) iac = null; }
      else iac = null;
    }
    wake();
  });
  socket.on('error', () => {});
  const gone = new Promise((resolve) => socket.on('close', () => { closed = true; wake(); resolve(); }));
  const caller = {
    socket,
    get text() { return text; },
    get closed() { return closed; },
    mark: 0,
    // Waits for text (from the mark on) and moves the mark past it.
    expect(match, bound = BOUND) {
      return new Promise((resolve, reject) => {
        const w = {
          check() {
            const rest = text.slice(caller.mark);
            const at = typeof match === 'string' ? rest.indexOf(match) : rest.search(match);
            if (at >= 0) {
              const len = typeof match === 'string' ? match.length : rest.match(match)[0].length;
              caller.mark += at + len;
              waiters.delete(w); clearTimeout(w.timer);
              resolve(rest.slice(0, at + len));
            } else if (closed) {
              waiters.delete(w); clearTimeout(w.timer);
              reject(new Error(`connection closed before ${match}; got:\n${JSON.stringify(rest)}`));
            }
          },
        };
        w.timer = setTimeout(() => { waiters.delete(w); reject(new Error(`no ${match} within ${bound} ms; got:\n${JSON.stringify(text.slice(caller.mark))}`)); }, bound);
        waiters.add(w);
        w.check();
      });
    },
    send(s) { socket.write(Buffer.from(s, 'latin1')); },
    // Resolves once the server has closed the connection; fails after the bound.
    async closedByServer(bound = BOUND) {
      let timer;
      const late = new Promise((_, reject) => { timer = setTimeout(() => reject(new Error('the connection stayed open')), bound); });
      try { await Promise.race([gone, late]); } finally { clearTimeout(timer); }
    },
    // Hangs up and waits until the server has let go of the line as well, which it does only
    // after the caller is off the session list.
    async hangUp(bound = BOUND) {
      socket.end();
      await caller.closedByServer(bound);
    },
    end() { socket.destroy(); },
  };
  return caller;
}

// The caller dialogue up to the first area screen, creating the account on the way.
export async function createAccount(c, login, password, realName) {
  await c.expect('Login:  ');
  c.send('new\r\n');
  await c.expect('(login name) that you wish to use:  ');
  c.send(login + '\r\n');
  await c.expect('Enter a new password (it will not be shown on screen):  ');
  c.send(password + '\r\n');
  await c.expect('Type the password again to verify:  ');
  c.send(password + '\r\n');
  await c.expect('Please enter your real name:  ');
  c.send(realName + '\r\n');
  await c.expect('(Y/N)?  ');
  c.send('n');
  await c.expect('The sysop\'s word is final.'); // rules.txt, one page
  c.send(' ');
  return c.expect(/\[[^\]]*\]  $/);
}

export async function logIn(c, login, password) {
  await c.expect('Login:  ');
  c.send(login + '\r\n');
  await c.expect('Password:  ');
  c.send(password + '\r\n');
  return c.expect(/\[[^\]]*\]  $/);
}

// One account of bbsusers.dat (an 8-byte header, then 368-byte records), decoded by field.
export function readUsers() {
  const data = readWorkFile('bbsusers.dat');
  if (!data) return [];
  const cstr = (off, len) => { const b = data.subarray(off, off + len); const z = b.indexOf(0); return b.subarray(0, z < 0 ? len : z).toString('latin1'); };
  const users = [];
  for (let at = 8; at + 368 <= data.length; at += 368) {
    users.push({
      id: data.readUInt32LE(at),
      loginName: cstr(at + 4, 32),
      password: cstr(at + 36, 32),
      realName: cstr(at + 68, 256),
      accessLevel: data.readUInt16LE(at + 324),
      userFlags: data.readUInt16LE(at + 326),
      loginCount: data.readUInt32LE(at + 328),
      uploadKb: data.readUInt32LE(at + 332),
      downloadKb: data.readUInt32LE(at + 336),
      secondLoginCount: data.readUInt32LE(at + 340),
      firstLogin: data.readBigUInt64LE(at + 352),
      lastLogin: data.readBigUInt64LE(at + 360),
    });
  }
  return users;
}
