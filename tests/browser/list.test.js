// The message list in headless Chromium, served by the window_harness
// (TELVARA_WEB_HARNESS): a short list drawn for the README's picture (saved into
// TELVARA_DOCS when that names a folder), then a log as full as it gets, 65,535
// messages: how soon the page shows it, how smoothly it scrolls, and the keys on it.
// The figures are printed. TELVARA_CHROMIUM names the browser (default
// /usr/bin/chromium). Exits 0 when every check passed, 1 on a failure, 77 when it
// cannot run here.
'use strict';

const { spawn } = require('child_process');
const fs = require('fs');
const os = require('os');
const path = require('path');
const readline = require('readline');

function skip(why) {
  console.log(`browser_list skipped: ${why}`);
  process.exit(77);
}
let chromium;
try {
  ({ chromium } = require('playwright-core'));
} catch (e) {
  skip('playwright-core is not installed (run "npm ci" in tests/browser)');
}
const browserPath = process.env.TELVARA_CHROMIUM || '/usr/bin/chromium';
if (!fs.existsSync(browserPath)) skip(`no browser at ${browserPath}`);
const harness = process.env.TELVARA_WEB_HARNESS;
if (!harness) skip('set TELVARA_WEB_HARNESS');

const FULL_LOG = 65535;
const ROW_HEIGHT = 16;

const children = [];
let passed = 0;
let failed = 0;
function check(ok, what, detail) {
  if (ok) passed += 1;
  else failed += 1;
  console.log(ok ? `ok   ${what}` : `FAIL ${what}${detail === undefined ? '' : ': ' + JSON.stringify(detail)}`);
}

// A harness listing `rows` messages (in UTC, so the picture is the same anywhere);
// resolves with its address.
function serve(rows) {
  const env = { ...process.env, TELVARA_HARNESS_ROWS: String(rows), TZ: 'UTC' };
  const child = spawn(harness, [], { stdio: ['ignore', 'pipe', 'inherit'], env });
  children.push(child);
  return new Promise((resolve, reject) => {
    const lines = readline.createInterface({ input: child.stdout });
    lines.once('line', (line) => resolve(line.trim()));
    child.once('exit', (code) => reject(new Error(`the harness ended (${code}) before printing its address`)));
  });
}

async function picture(browser) {
  // At this size the drawing is at its own scale: the picture is the window's pixels.
  const page = await browser.newPage();
  await page.setViewportSize({ width: 608, height: 448 });
  await page.goto(await serve(12));
  await page.waitForSelector('#list .row');
  await page.click('#list .row >> nth=9');
  const docs = process.env.TELVARA_DOCS;
  if (docs) {
    const file = path.join(docs, 'main-window.png');
    fs.mkdirSync(docs, { recursive: true });
    await page.locator('#frame').screenshot({ path: file });
    console.log(`picture: ${file}, ${fs.statSync(file).size} bytes`);
  }
  await page.close();
}

async function fullLog(browser) {
  const page = await browser.newPage();
  await page.setViewportSize({ width: 1024, height: 640 });
  page.setDefaultTimeout(10000);
  page.on('pageerror', (e) => check(false, 'the page runs without script errors', e.message));
  // When the first rows are drawn, in ms since the navigation began.
  await page.addInitScript(() => document.addEventListener('DOMContentLoaded', () => {
    const spacer = document.getElementById('list-spacer');
    new MutationObserver((_, observer) => {
      if (!spacer.querySelector('.row')) return;
      observer.disconnect();
      requestAnimationFrame(() => { window.__listDrawn = performance.now(); });
    }).observe(spacer, { childList: true });
  }));
  const url = await serve(FULL_LOG);
  await page.goto(url);
  const drawnAt = await (await page.waitForFunction(() => window.__listDrawn)).jsonValue();
  console.log(`${FULL_LOG} messages: the list is drawn ${drawnAt.toFixed(0)} ms after the navigation began`);
  check(drawnAt < 500, 'a full log is shown within half a second', drawnAt);

  const list = page.locator('#list');
  const shown = await list.evaluate((e) => ({ height: e.scrollHeight, rows: e.querySelectorAll('.row').length }));
  check(shown.height >= FULL_LOG * ROW_HEIGHT && shown.rows < 40, 'the list is as tall as all rows, with only those in view drawn',
        shown);

  // Through the whole list in 300 steps, a frame each.
  const scroll = await list.evaluate(async (e) => {
    const steps = 300;
    const frames = [];
    const end = e.scrollHeight - e.clientHeight;
    const start = performance.now();
    let last = start;
    for (let i = 1; i <= steps; i += 1) {
      e.scrollTop = Math.round((end * i) / steps);
      await new Promise((resolve) => requestAnimationFrame(resolve));
      const now = performance.now();
      frames.push(now - last);
      last = now;
    }
    frames.sort((a, b) => a - b);
    const lastRow = e.querySelector('.row:last-child');
    return { total: last - start, median: frames[steps >> 1], worst: frames[steps - 1],
             last: lastRow && Number(lastRow.dataset.index) };
  });
  console.log(`scrolled through in 300 frames: ${scroll.total.toFixed(0)} ms, median frame `
              + `${scroll.median.toFixed(1)} ms, worst ${scroll.worst.toFixed(1)} ms`);
  check(scroll.worst < 100, 'the list scrolls without a stall', scroll);
  check(scroll.last === FULL_LOG - 1, 'the last message is drawn at the end', scroll.last);

  // The keys move the selection over the whole list, which follows it.
  const selected = () => page.$eval('#list .row.selected', (e) => Number(e.dataset.index)).catch(() => null);
  await page.click('#list .row >> nth=5');
  const keys = [];
  for (const key of ['Home', 'End', 'PageUp', 'ArrowDown']) {
    await page.keyboard.press(key);
    keys.push(await selected());
  }
  const page1 = await list.evaluate((e, h) => Math.floor(e.clientHeight / h) - 1, ROW_HEIGHT);  // a view less a row
  check(JSON.stringify(keys) === JSON.stringify([0, FULL_LOG - 1, FULL_LOG - 1 - page1, FULL_LOG - page1]),
        'Home, End, Page Up and the arrows select over the whole list, in view', keys);

  // A message deleted: all the rows again, once.
  const before = Date.now();
  await page.click('#delete-message');
  await page.waitForFunction((h) => document.getElementById('list').scrollHeight < h, shown.height);
  console.log(`a message deleted: the list of ${FULL_LOG - 1} redrawn ${Date.now() - before} ms after the click`);
  check(await selected() === null, 'the deleted message is no longer selected');
  await page.close();
}

async function main() {
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'telvara-chromium-'));
  const browser = await chromium.launchPersistentContext(profile, {
    executablePath: browserPath,
    headless: true,
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-background-networking',
           '--disable-component-update', '--disable-sync'],
  });
  try {
    await picture(browser);
    await fullLog(browser);
  } finally {
    await browser.close();
    fs.rmSync(profile, { recursive: true, force: true });
  }
}

function end(error) {
  if (error) check(false, error.stack || error);
  for (const child of children) if (child.exitCode === null && child.signalCode === null) child.kill('SIGKILL');
  console.log(`browser_list: ${passed} passed, ${failed} failed`);
  process.exit(failed === 0 ? 0 : 1);
}
setTimeout(() => end('the list test took longer than 120 s'), 120000).unref();
main().then(() => end(), end);
