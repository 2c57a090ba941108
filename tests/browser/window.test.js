// The Telvara window in headless Chromium, as a person would see and use it, served by
// the window_harness program (TELVARA_WEB_HARNESS). TELVARA_SHOTS names the folder for
// screenshots. Exits 0 when every check passed, 1 on a failure, 77 when it cannot run here.
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
  const browser = await t.launch({ viewport: { width: 1024, height: 640 } });
  const page = await t.newPage(browser);
  const text = (selector) => page.textContent(selector).catch(() => null);
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
  check(JSON.stringify(seen) === JSON.stringify(STARTUP_TEXTS.map((t) => 'Status: ' + t)),
        'every start-up text was shown, in order', seen);

  await statusBecomes('Stand by', 'the status box');
  await page.waitForSelector('.box');
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
  check(await soon((n) => document.querySelectorAll('#list .row').length === n - 1, rows) &&
        await page.locator('#list .row.selected').count() === 0, 'Delete Message removed the selected row');

  // A row's context menu plays the message in the page; the program is not asked.
  const before = await status();
  await page.click('#list .row >> nth=0', { button: 'right' });
  const served = page.waitForResponse((r) => r.url().includes('api/message?file=PGMO0509.WAV'));
  await page.click('#row-menu .item:text("Play here")');
  const played = await served;
  check(played.status() === 200 && played.headers()['content-type'] === 'audio/wav',
        'Play here fetches the message\'s WAV', played.status());
  check(await soon(() => hereAudio && (hereAudio.currentTime > 0 || hereAudio.ended)), 'the message plays in the page');
  check(await status() === before, 'the status box is unchanged by Play here', await status());

  // A phone's view: the drawing is scaled whole into it.
  await page.setViewportSize({ width: 390, height: 844 });
  const fits = () => soon(() => {
    const f = document.getElementById('frame').getBoundingClientRect();
    return Math.abs(f.width - 576 * 390 / 608) <= 1 && Math.abs(f.height - 416 * 390 / 608) <= 1 && f.x >= 0;
  });
  check(await fits(), 'the window fills a 390 x 844 view, whole');

  // Closing the window asks first; closing a browser's tab stops nothing.
  await page.click('#close-button');
  check(await text('.box .dialog-text') === 'Telvara will stop answering the telephone. Exit?', 'the close box asks');
  await page.keyboard.press('Enter');
  check(await boxes(0), 'Enter answers No');
  const tab = await browser.newPage();
  await tab.goto(url);
  await tab.waitForSelector('#frame', { state: 'visible' }).then(() => tab.close());
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
