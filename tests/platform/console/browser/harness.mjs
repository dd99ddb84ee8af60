// Starts the demo program with its console and a headless Chromium, for the browser tests.
import { spawn } from 'node:child_process';
import { mkdtempSync, mkdirSync, writeFileSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { chromium } from 'playwright-core';

export const BUILD_DIR = process.env.OV_BUILD_DIR || join(process.cwd(), '../../../build');
export const ARTIFACTS = process.env.OV_ARTIFACTS_DIR || join(import.meta.dirname, '../../../../artifacts');

// The demo program: its console address and every line it prints.
export async function startDemo() {
  const workDir = mkdtempSync(join(tmpdir(), 'ovconsole-demo-'));
  writeFileSync(join(workDir, 'desc.txt'), 'Welcome to the lobby.\n');
  writeFileSync(join(workDir, 'memo.so'), '');
  mkdirSync(join(workDir, 'plugins'));
  writeFileSync(join(workDir, 'plugins', 'pagepeek.so'), '');
  const child = spawn(join(BUILD_DIR, 'bin', 'console_demo'), ['0', workDir], { stdio: ['ignore', 'pipe', 'inherit'] });
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
  const exited = new Promise((resolve) => child.on('exit', resolve));
  // A test run that dies must not leave the demo behind.
  process.on('exit', () => { if (child.exitCode === null) child.kill('SIGTERM'); });
  const demo = {
    child, lines, workDir, exited,
    // Resolves with the first line (from `from` on) that matches, or fails after the bound.
    waitForLine(match, bound = 10000, from = 0) {
      const test = typeof match === 'string' ? (l) => l === match : (l) => match.test(l);
      return new Promise((resolve, reject) => {
        const w = {
          check() {
            const hit = lines.slice(from).find(test);
            if (hit !== undefined) { waiters.delete(w); clearTimeout(w.timer); resolve(hit); }
          },
        };
        w.timer = setTimeout(() => { waiters.delete(w); reject(new Error(`no line ${match} within ${bound} ms; got:\n${lines.join('\n')}`)); }, bound);
        waiters.add(w);
        w.check();
      });
    },
    mark() { return lines.length; },
    async stop() {
      if (child.exitCode === null) child.kill('SIGTERM');
      await exited;
      rmSync(workDir, { recursive: true, force: true });
    },
  };
  const line = await demo.waitForLine(/^Console: http:\/\//);
  demo.address = line.slice('Console: '.length);
  demo.origin = new URL(demo.address).origin;
  return demo;
}

// Debian's Chromium; never a downloaded one. Playwright gives each launch a fresh profile.
export async function startBrowser() {
  return chromium.launch({
    executablePath: '/usr/bin/chromium',
    headless: true,
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync'],
  });
}
