// The Telvara window in headless Chromium, as a person would see and use it. What to
// test: TELVARA_WEB_URL, a window already running; TELVARA_WEB_CMD, a command (run by
// sh) that serves one and prints its address first; or TELVARA_WEB_HARNESS, the
// window_harness program, whose own texts are checked too. TELVARA_CHROMIUM names the
// browser (default /usr/bin/chromium), TELVARA_SHOTS the folder for screenshots.
// Exits 0 when every check passed, 1 on a failure, 77 when it cannot run here.
'use strict';

const fs = require('fs');
const os = require('os');
const path = require('path');
const t = require('./harness');

const { check } = t;

const STARTUP_TEXTS = [
  'Starting up', 'Checking directory', 'Read in settings', 'Open comm port', 'Initializing modem',
  'Trying to set modem to voice mode', 'Modem Set to voice mode', 'Ready',
];
const shots = process.env.TELVARA_SHOTS || os.tmpdir();

// Starts the program under test; resolves with it (null when already running) and its address.
async function startProgram() {
  const { TELVARA_WEB_URL: url, TELVARA_WEB_CMD: cmd, TELVARA_WEB_HARNESS: harness } = process.env;
  if (url) return { url, child: null };
  if (!cmd && !harness) t.skip('set TELVARA_WEB_URL, TELVARA_WEB_CMD or TELVARA_WEB_HARNESS');
  const program = cmd ? t.start('sh', ['-c', cmd]) : t.start(harness, []);
  return { url: await program.nextLine(30000), child: program.child };
}

async function main() {
  const harness = !process.env.TELVARA_WEB_URL && !process.env.TELVARA_WEB_CMD;
  const { url, child } = await startProgram();
  console.log(`window at ${url}`);
  const browser = await t.launch({ viewport: { width: 1024, height: 640 } });
  const page = await t.newPage(browser);
  const same = (a, b) => JSON.stringify(a) === JSON.stringify(b);
  const near = (a, b) => Math.abs(a - b) <= 1;
  const text = (selector) => page.textContent(selector).catch(() => null);
  // Each [selector, text, what to call it] as the window shows it now.
  const checkTexts = async (...rows) => {
    for (const [selector, expected, what] of rows) {
      const got = await text(selector);
      check(got === expected, what, got);
    }
  };
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

  // The start-up window.
  if (harness) {
    await page.waitForSelector('#startup', { state: 'visible' });
    const box = await page.locator('#startup').boundingBox();
    const scale = Math.min(1024 / 608, 640 / 448);  // the drawing fills the view
    check(box && near(box.width, 360 * scale) && near(box.height, 240 * scale),
          'the start-up window is 360 x 240, scaled with the window', box);
    check(box && near(box.x + box.width / 2, 512) && near(box.y + box.height / 2, 320),
          'the start-up window is centred', box);
    await checkTexts(['#startup-title', 'Telvara for Win 95/NT', 'start-up window title'],
                     ['.startup-name', 'Telvara for Win 95/NT', 'start-up product line'],
                     ['.startup-version', 'Version 1.0', 'start-up version line']);
    const grey = await page.$eval('.startup-client', (e) => getComputedStyle(e).backgroundColor);
    check(grey === 'rgb(192, 192, 192)', 'the start-up window is light grey', grey);
    await shot('startup');
  }
  await page.waitForSelector('#frame', { state: 'visible', timeout: 60000 });
  const seen = await page.evaluate(() => window.__startup);
  if (harness) {
    check(same(seen, STARTUP_TEXTS.map((t) => 'Status: ' + t)), 'every start-up text was shown, in order', seen);
  } else {
    console.log(`start-up texts seen: ${JSON.stringify(seen)}`);
  }

  // The main window.
  check(await page.title() === 'Telvara for Win95/NT', 'the window title', await page.title());
  await checkTexts(['#title', 'Telvara for Win95/NT', 'the title bar'],
                   ['#header', 'Time        Date      Length    Filename    Caller ID  Status',
                    'the column header, spaces kept'],
                   ['#status-label', 'Status:', 'the status label'],
                   ['#prompt', 'For Help, press F1', 'the idle prompt']);
  const headerFont = await page.$eval('#header', (e) => getComputedStyle(e).fontFamily);
  check(/Courier|Mono|monospace/.test(headerFont), 'the header is in a fixed-pitch font', headerFont);
  const menus = await page.$$eval('#menubar .menutitle', (els) => els.map((e) => [e.textContent, e.querySelector('u').textContent]));
  check(same(menus, [['File', 'F'], ['Set up', 'S'], ['Help', 'H']]), 'the menu bar with its mnemonics underlined', menus);
  const buttons = await page.$$eval('#view .push', (els) => els.map((e) => e.textContent));
  check(same(buttons, ['Play Message', 'Delete Message', 'Play Announcement', 'Record Announcement']),
        'the four buttons', buttons);

  if (harness) {
    await statusBecomes('Stand by', 'the status box');
    // A message box, answered with OK.
    await page.waitForSelector('.box');
    await checkTexts(['.box .titletext', 'Telvara', 'the message box title']);
    check((await text('.box .dialog-text')).startsWith('The window harness is running.'), 'the message box text');
    await shot('window');
    await page.click('.box button:text("OK")');
    check(await boxes(0), 'OK closes the message box');
    await statusBecomes('Answered box 1 with OK', 'OK posted the box answer');
  } else {
    console.log(`status box: ${await status()}`);
    // Whatever boxes the program has open (a missing modem, say) are answered with
    // their first button, and each must close.
    await page.waitForTimeout(1000);
    await shot('window');
    for (const [title, closed] of await t.closeBoxes(page)) check(closed, `answering "${title}" closes it`);
  }

  // Menu prompts while an item is under the pointer.
  await page.click('#menubar .menu[data-key="f"] .menutitle');
  for (const [menu, item, prompt, what] of [['f', 57665, 'Quit the Telvara program', 'the Exit prompt'],
                                            ['s', 32771, 'Set up the Telvara program', 'the Set up Modem prompt']]) {
    await page.hover(`#menubar .menu[data-key="${menu}"] .menutitle`);
    await page.hover(`#menubar .item[data-command="${item}"]`);
    await checkTexts(['#prompt', prompt, what]);
  }
  await page.keyboard.press('Escape');
  await checkTexts(['#prompt', 'For Help, press F1', 'the idle prompt again']);

  // The lock-key indicators follow the keyboard's state.
  await page.evaluate(() => document.dispatchEvent(new KeyboardEvent('keyup', { key: 'CapsLock', modifierCapsLock: true })));
  const lit = await page.$$eval('#statusbar .indicator', (els) => els.map((e) => e.classList.contains('on')));
  check(same(lit, [true, false, false]), 'CAP lights with caps lock', lit);

  if (harness) {
    // A button acts on the selected message, named by its identity.
    await page.click('#list .row >> nth=1');
    await page.click('#play-message');
    await statusBecomes('Play Message: PZPX5959.WAV 915148799', 'Play Message carries the selected row');
    const rows = await page.locator('#list .row').count();
    await page.click('#delete-message');
    check(await soon((n) => document.querySelectorAll('#list .row').length === n - 1, rows),
          'Delete Message removed the selected row');
    check(await page.locator('#list .row.selected').count() === 0, 'nothing is selected once the row has gone');

    // A row's context menu plays the message in the page, or saves it; the program
    // is not asked, so its status stays.
    const before = await status();
    await page.click('#list .row >> nth=0', { button: 'right' });
    const offered = await page.$$eval('#row-menu:not([hidden]) .item', (els) => els.map((e) => e.textContent));
    check(same(offered, ['Play here', 'Download']), 'right-clicking a row offers Play here and Download', offered);
    const served = page.waitForResponse((r) => r.url().includes('api/message?file=PGMO0509.WAV'));
    await page.click('#row-menu .item:text("Play here")');
    const played = await served;
    check(played.status() === 200 && played.headers()['content-type'] === 'audio/wav',
          'Play here fetches the message\'s WAV', played.status());
    check(await soon(() => hereAudio && (hereAudio.currentTime > 0 || hereAudio.ended)),
          'the message plays in the page');
    await page.click('#list .row >> nth=0');
    await page.keyboard.press('Shift+F10');
    check(await page.isVisible('#row-menu'), 'Shift+F10 opens the selected row\'s menu');
    const [download] = await Promise.all([page.waitForEvent('download'), page.keyboard.press('d')]);
    const saved = fs.readFileSync(await download.path());
    const wanted = await page.evaluate(async () => {
      const r = await fetch('api/message?file=PGMO0509.WAV');
      return Array.from(new Uint8Array(await r.arrayBuffer()));
    });
    check(download.suggestedFilename() === 'PGMO0509.WAV' && same(Array.from(saved), wanted),
          'Download saves the message\'s WAV under its name', download.suggestedFilename());
    check(await status() === before, 'the status box is unchanged by Play here and Download', await status());

    // About, from the menu by its mnemonics.
    await page.keyboard.press('Alt+h');
    await page.keyboard.press('a');
    await boxes(1);
    await checkTexts(['.box .titletext', 'About Telvara', 'Alt+H, A opens the About box']);
    const icon = await page.$eval('.box .dialog-icon', (e) => getComputedStyle(e).backgroundImage);
    check(/icon\.svg/.test(icon), 'the About box shows the program\'s icon', icon);
    await page.keyboard.press('Escape');
    check(await boxes(0), 'Escape answers the About box');
  }

  // A window for any screen: the drawing is scaled whole to the view, its layout kept.
  const layout = async () => {
    const [frame, list] = [await page.locator('#frame').boundingBox(), await page.locator('#list').boundingBox()];
    return { frame, list: [list.x - frame.x, list.y - frame.y, list.width].map((v) => v / (frame.width / 576)) };
  };
  const drawn = await layout();
  for (const [width, height] of [[390, 844], [1920, 1080], [1024, 640]]) {
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
  await checkTexts(['.box .dialog-text', 'Telvara will stop answering the telephone. Exit?', 'the close box asks first']);
  const answers = await page.$$eval('.box button', (els) => els.map((e) => e.textContent));
  check(same(answers, ['Yes', 'No']), 'it asks Yes or No', answers);
  await page.keyboard.press('Enter');
  check(await boxes(0), 'Enter answers No');
  const tab = await browser.newPage();
  await tab.goto(url);
  await tab.waitForSelector('#frame', { state: 'visible' });
  await tab.close();
  await page.waitForTimeout(500);
  check((!child || child.exitCode === null) && !(await page.isVisible('#offline')),
        'No, and a closed tab, leave the program running');

  // The program stops: the window says so plainly.
  if (child) {
    const ended = new Promise((resolve) => {
      child.once('exit', () => resolve(true));
      setTimeout(() => resolve(false), 10000).unref();
    });
    if (harness) {
      await page.keyboard.press('Alt+f');
      await page.keyboard.press('x');
      await page.click('.box button:text("Yes")');
    } else {
      child.kill('SIGTERM');
    }
    check(await ended, harness ? 'File > Exit, answered Yes, ends the program' : 'the program ends on SIGTERM');
    await page.waitForSelector('#offline', { state: 'visible' }).catch(() => {});
    const said = await text('#offline-text');
    check(await page.isVisible('#offline') && /stopped|does not answer/.test(said),
          'the window shows that the program has stopped', said);
    await shot('stopped');
  }
}

t.run(main, 150);
