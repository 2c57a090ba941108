// The Telvara window in headless Chromium, as a person would see and use it, served by
// the window_harness program (TELVARA_WEB_HARNESS); the real program serves the page to
// the set-up and sound tests. TELVARA_CHROMIUM names the browser (default
// /usr/bin/chromium), TELVARA_SHOTS the folder for screenshots. Exits 0 when every
// check passed, 1 on a failure, 77 when it cannot run here.
'use strict';

const os = require('os');
const path = require('path');
const t = require('./harness');

const { check } = t;

const STARTUP_TEXTS = ['Starting up', 'Checking directory', 'Read in settings', 'Open comm port', 'Initializing modem',
  'Trying to set modem to voice mode', 'Modem Set to voice mode', 'Ready'];
const shots = process.env.TELVARA_SHOTS || os.tmpdir();

async function main() {
  if (!process.env.TELVARA_WEB_HARNESS) t.skip('set TELVARA_WEB_HARNESS');
  const { child, nextLine } = t.start(process.env.TELVARA_WEB_HARNESS, []);
  const url = await nextLine(30000);
  console.log(`window at ${url}`);
  const browser = await t.launch({ viewport: { width: 1024, height: 640 } });
  const page = await t.newPage(browser);
  const same = (a, b) => JSON.stringify(a) === JSON.stringify(b);
  const near = (a, b) => Math.abs(a - b) <= 1;
  const text = (selector) => page.textContent(selector).catch(() => null);
  const checkText = async (selector, expected, what) => check(await text(selector) === expected, what, await text(selector));
  const soon = (fn, arg) => t.soon(page, fn, arg);
  const boxes = (n) => soon((count) => document.querySelectorAll('.box').length === count, n);
  const status = () => page.inputValue('#status');
  const statusBecomes = async (expected, what) => check(await t.statusIs(page, expected), what, await status());
  const shot = (name) => page.screenshot({ path: path.join(shots, `telvara-${name}.png`) });
  // Every text the start-up window shows, in order, however briefly.
  await page.addInitScript(() => document.addEventListener('DOMContentLoaded', () => {
    const [seen, startup, status] = [window.__startup = [], document.getElementById('startup'),
                                     document.getElementById('startup-status')];
    new MutationObserver(() => {
      if (!startup.hidden && seen[seen.length - 1] !== status.textContent) seen.push(status.textContent);
    }).observe(startup, { attributes: true, childList: true, subtree: true, characterData: true });
  }));
  await page.goto(url);

  await page.waitForSelector('#frame', { state: 'visible', timeout: 60000 });
  const seen = await page.evaluate(() => window.__startup);
  check(same(seen, STARTUP_TEXTS.map((t) => 'Status: ' + t)), 'every start-up text was shown, in order', seen);

  // The main window: its title and the column header, spaces kept.
  check(await page.title() === 'Telvara for Win95/NT', 'the window title', await page.title());
  await checkText('#header', 'Time        Date      Length    Filename    Caller ID  Status', 'the column header');

  await statusBecomes('Stand by', 'the status box');
  // A message box, answered with OK.
  await page.waitForSelector('.box');
  check((await text('.box .dialog-text')).startsWith('The window harness is running.'), 'the message box text');
  await shot('window');
  await page.click('.box button:text("OK")');
  check(await boxes(0), 'OK closes the message box');
  await statusBecomes('Answered box 1 with OK', 'OK posted the box answer');

  // A button acts on the selected message, named by its identity.
  await page.click('#list .row >> nth=1');
  await page.click('#play-message');
  await statusBecomes('Play Message: PZPX5959.WAV 915148799', 'Play Message carries the selected row');
  const rows = await page.locator('#list .row').count();
  await page.click('#delete-message');
  check(await soon((n) => document.querySelectorAll('#list .row').length === n - 1, rows),
        'Delete Message removed the selected row');
  check(await page.locator('#list .row.selected').count() === 0, 'nothing is selected once the row has gone');

  // A row's context menu plays the message in the page; the program is not asked, so
  // its status stays.
  const before = await status();
  await page.click('#list .row >> nth=0', { button: 'right' });
  const served = page.waitForResponse((r) => r.url().includes('api/message?file=PGMO0509.WAV'));
  await page.click('#row-menu .item:text("Play here")');
  const played = await served;
  check(played.status() === 200 && played.headers()['content-type'] === 'audio/wav',
        'Play here fetches the message\'s WAV', played.status());
  check(await soon(() => hereAudio && (hereAudio.currentTime > 0 || hereAudio.ended)), 'the message plays in the page');
  check(await status() === before, 'the status box is unchanged by Play here', await status());

  // A window for any screen: the drawing is scaled whole to the view, its layout kept.
  const layout = async () => {
    const [frame, list] = [await page.locator('#frame').boundingBox(), await page.locator('#list').boundingBox()];
    return { frame, list: [list.x - frame.x, list.y - frame.y, list.width].map((v) => v / (frame.width / 576)) };
  };
  const drawn = await layout();
  for (const [width, height] of [[390, 844], [1920, 1080]]) {
    await page.setViewportSize({ width, height });
    const scale = Math.min(width / 608, height / 448);
    await soon((w) => Math.abs(document.getElementById('frame').getBoundingClientRect().width - w) <= 1, 576 * scale);
    const { frame, list } = await layout();
    check(near(frame.width, 576 * scale) && near(frame.height, 416 * scale) && frame.x >= 0 && frame.y >= 0
          && frame.x + frame.width <= width && frame.y + frame.height <= height
          && list.every((v, i) => near(v, drawn.list[i])), `the window fills a ${width} x ${height} view, whole`,
          { frame, list });
  }

  // Closing the window asks first; closing a browser's tab stops nothing.
  await page.click('#close-button');
  await checkText('.box .dialog-text', 'Telvara will stop answering the telephone. Exit?', 'the close box asks first');
  await page.keyboard.press('Enter');
  check(await boxes(0), 'Enter answers No');
  const tab = await browser.newPage();
  await tab.goto(url);
  await tab.waitForSelector('#frame', { state: 'visible' });
  await tab.close();
  await page.waitForTimeout(500);
  check(child.exitCode === null && !(await page.isVisible('#offline')), 'No, and a closed tab, leave the program running');

  // File > Exit, answered Yes, ends the program: the window says so plainly.
  const ended = new Promise((resolve) => {
    child.once('exit', () => resolve(true));
    setTimeout(() => resolve(false), 10000).unref();
  });
  await page.keyboard.press('Alt+f');
  await page.keyboard.press('x');
  await page.click('.box button:text("Yes")');
  check(await ended, 'File > Exit, answered Yes, ends the program');
  await page.waitForSelector('#offline', { state: 'visible' }).catch(() => {});
  const said = await text('#offline-text');
  check(await page.isVisible('#offline') && /stopped|does not answer/.test(said),
        'the window shows that the program has stopped', said);
  await shot('stopped');
}

t.run(main, 150);
