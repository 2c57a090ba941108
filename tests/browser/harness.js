// What the browser tests share: Chromium (TELVARA_CHROMIUM, default /usr/bin/chromium)
// driven by playwright-core, the checks, the programs under test and scratch folders, all
// stopped and removed at the end. Exits 77 (skipped) when playwright-core or the browser is missing.
'use strict';

const { spawn } = require('child_process');
const fs = require('fs');
const os = require('os');
const path = require('path');
const readline = require('readline');

const NAME = `browser_${path.basename(process.argv[1], '.test.js')}`;

const skip = (why) => { console.log(`${NAME} skipped: ${why}`); process.exit(77); };
let chromium;
try {
  ({ chromium } = require('playwright-core'));
} catch (e) {
  skip('playwright-core is not installed (run "npm ci" in tests/browser)');
}
const browserPath = process.env.TELVARA_CHROMIUM || '/usr/bin/chromium';
if (!fs.existsSync(browserPath)) skip(`no browser at ${browserPath}`);

let [passed, failed] = [0, 0];
function check(ok, what, detail) {
  if (ok) passed += 1; else failed += 1;
  console.log(ok ? `ok   ${what}` : `FAIL ${what}${detail === undefined ? '' : ': ' + JSON.stringify(detail)}`);
}

const [children, browsers, folders] = [[], [], []];
const scratch = (prefix) => { const dir = fs.mkdtempSync(path.join(os.tmpdir(), prefix)); folders.push(dir); return dir; };

// Starts a program (with `env` added), its output read all along so that it never blocks;
// nextLine(ms, matching) resolves with the next line that matches, trimmed.
function start(file, args, env) {
  const child = spawn(file, args, { stdio: ['ignore', 'pipe', 'inherit'], env: { ...process.env, ...env } });
  children.push(child);
  const lines = [];
  let [closed, wake] = [false, () => {}];
  readline.createInterface({ input: child.stdout }).on('line', (line) => { lines.push(line); wake(); })
    .on('close', () => { closed = true; wake(); });
  const nextLine = (ms, matching = () => true) => new Promise((resolve, reject) => {
    const name = path.basename(file);
    const done = (settle, value) => { clearTimeout(timer); wake = () => {}; settle(value); };
    const timer = setTimeout(() => done(reject, new Error(`${name}: no line within ${ms} ms`)), ms);
    wake = () => {
      while (lines.length) {
        const line = lines.shift();
        if (matching(line)) return done(resolve, line.trim());
      }
      if (closed) done(reject, new Error(`${name} ended before the line awaited`));
    };
    wake();
  });
  return { child, nextLine };
}

// The real telvara (from TELVARA_BUILD) on telvara-modemsim in a scratch program folder: an
// empty inbox, a profile of the `modem` lines with COM2 on the simulator, and `files` (name: contents).
async function startTelvara({ modem = '', files = {}, listen = '127.0.0.1:0' } = {}) {
  const build = process.env.TELVARA_BUILD;
  if (!build || !fs.existsSync(path.join(build, 'telvara'))) skip('set TELVARA_BUILD to a build with telvara');
  const home = scratch('telvara-home-');
  fs.mkdirSync(path.join(home, 'inbox'));
  const all = { 'telvara.ini': `[MODEM]\n${modem}[PORTS]\nCOM2=${home}/modem\n`, ...files };
  for (const [name, contents] of Object.entries(all)) {
    fs.mkdirSync(path.dirname(path.join(home, name)), { recursive: true });
    fs.writeFileSync(path.join(home, name), contents);
  }
  await start(path.join(build, 'telvara-modemsim'), ['--link', path.join(home, 'modem')]).nextLine(10000);
  const telvara = start(path.join(build, 'telvara'), ['--home', home, '--listen', listen]);
  return { home, telvara, url: await telvara.nextLine(20000) };
}

// Headless Chromium with a fresh profile.
async function launch(options = {}, args = []) {
  browsers.push(await chromium.launchPersistentContext(scratch('telvara-chromium-'), {
    executablePath: browserPath, headless: true, ...options,
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
           '--disable-background-networking', '--disable-component-update', '--disable-sync', ...args],
  }));
  return browsers[browsers.length - 1];
}

// A new page: 10 s for each step, any script error a failed check.
async function newPage(browser) {
  const page = await browser.newPage();
  page.setDefaultTimeout(10000);
  page.on('pageerror', (e) => check(false, 'the page runs without script errors', e.message));
  return page;
}

// Waits up to `ms` for fn(arg) to hold in the page; false when it did not.
const soon = (page, fn, arg, ms = 5000) => page.waitForFunction(fn, arg, { timeout: ms }).then(() => true, () => false);
const statusIs = (page, text, ms) => soon(page, (t) => document.getElementById('status').value === t, text, ms);

// Answers the open boxes with their first button, the top one first, while each closes.
async function closeBoxes(page) {
  for (let open, n = 0; n < 10 && (open = await page.locator('.box').count()) > 0; n += 1) {
    await page.locator('.box').last().locator('button').first().click();
    if (!await soon(page, (k) => document.querySelectorAll('.box').length < k, open)) break;
  }
}

const running = (child) => child.exitCode === null && child.signalCode === null;
const within = (ms, promise) => Promise.race([promise, new Promise((resolve) => setTimeout(resolve, ms))]);

// Closes the browsers, ends the programs (SIGTERM, the last first; then SIGKILL), removes
// the scratch folders and exits 0 when every check passed.
let ending = false;
async function end(error) {
  if (ending) return;
  ending = true;
  if (error) check(false, error.stack || error);
  await within(5000, Promise.all(browsers.map((b) => b.close().catch(() => {}))));
  for (const child of children.slice().reverse()) if (running(child)) child.kill('SIGTERM');
  await within(2000, Promise.all(children.filter(running).map((c) => new Promise((r) => c.once('exit', r)))));
  for (const child of children) if (running(child)) child.kill('SIGKILL');
  for (const dir of folders) fs.rmSync(dir, { recursive: true, force: true });
  console.log(`${NAME}: ${passed} passed, ${failed} failed`);
  process.exit(failed === 0 ? 0 : 1);
}

// Runs the test's main, given `seconds` at most.
function run(main, seconds) {
  setTimeout(() => end(`the browser test took longer than ${seconds} s`), seconds * 1000).unref();
  main().then(() => end(), end);
}

module.exports = { skip, check, scratch, start, startTelvara, launch, newPage, soon, statusIs, closeBoxes, run };
