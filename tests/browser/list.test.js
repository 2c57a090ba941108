// The message list in headless Chromium, served by the window_harness (TELVARA_WEB_HARNESS):
// a short list for the README's picture (saved into TELVARA_DOCS when set), then a log as full
// as it gets, 65,535 messages: how soon it shows, how smoothly it scrolls, the keys on it.
'use strict';

const fs = require('fs');
const path = require('path');
const t = require('./harness');

const { check } = t;
const harness = process.env.TELVARA_WEB_HARNESS;
if (!harness) t.skip('set TELVARA_WEB_HARNESS');

const FULL_LOG = 65535;
const ROW_HEIGHT = 16;

// A harness listing `rows` messages (in UTC, so the picture is the same anywhere); its address.
const serve = (rows) => t.start(harness, [], { TELVARA_HARNESS_ROWS: String(rows), TZ: 'UTC' }).nextLine(30000);

async function picture(browser) {
  // At this size the drawing is at its own scale: the picture is the window's pixels.
  const page = await browser.newPage();
  await page.setViewportSize({ width: 608, height: 448 });
  await page.goto(await serve(12));
  await page.waitForSelector('#list .row');
  await page.click('#list .row >> nth=9');
  const docs = process.env.TELVARA_DOCS;
  if (docs) {
    fs.mkdirSync(docs, { recursive: true });
    await page.locator('#frame').screenshot({ path: path.join(docs, 'main-window.png') });
  }
  await page.close();
}

async function fullLog(browser) {
  const page = await t.newPage(browser);
  await page.setViewportSize({ width: 1024, height: 640 });
  // When the first rows are drawn, in ms since the navigation began.
  await page.addInitScript(() => document.addEventListener('DOMContentLoaded', () => {
    const spacer = document.getElementById('list-spacer');
    new MutationObserver((_, observer) => {
      if (!spacer.querySelector('.row')) return;
      observer.disconnect();
      requestAnimationFrame(() => { window.__listDrawn = performance.now(); });
    }).observe(spacer, { childList: true });
  }));
  await page.goto(await serve(FULL_LOG));
  const drawnAt = await (await page.waitForFunction(() => window.__listDrawn)).jsonValue();
  check(drawnAt < 500, 'a full log is shown within half a second', drawnAt);

  const list = page.locator('#list');
  const shown = await list.evaluate((e) => ({ height: e.scrollHeight, rows: e.querySelectorAll('.row').length }));
  check(shown.height >= FULL_LOG * ROW_HEIGHT && shown.rows < 40, 'the list is as tall as all rows, with only those in view drawn',
        shown);

  // Through the whole list in 300 steps, a frame each: the slowest frame.
  const worst = await list.evaluate(async (e) => {
    let [worst, last] = [0, performance.now()];
    for (let i = 1; i <= 300; i += 1) {
      e.scrollTop = Math.round(((e.scrollHeight - e.clientHeight) * i) / 300);
      await new Promise((resolve) => requestAnimationFrame(resolve));
      [worst, last] = [Math.max(worst, performance.now() - last), performance.now()];
    }
    return worst;
  });
  check(worst < 100, 'the list scrolls without a stall', worst);

  // The keys move the selection over the whole list, which follows it.
  const selected = () => page.$eval('#list .row.selected', (e) => Number(e.dataset.index)).catch(() => null);
  await page.click('#list .row >> nth=5');
  const keys = [];
  for (const key of ['Home', 'End', 'PageUp', 'ArrowDown']) { await page.keyboard.press(key); keys.push(await selected()); }
  const page1 = await list.evaluate((e, h) => Math.floor(e.clientHeight / h) - 1, ROW_HEIGHT);  // a view less a row
  check(JSON.stringify(keys) === JSON.stringify([0, FULL_LOG - 1, FULL_LOG - 1 - page1, FULL_LOG - page1]),
        'Home, End, Page Up and the arrows select over the whole list, in view', keys);

  // A message deleted: all the rows again, once.
  await page.click('#delete-message');
  await page.waitForFunction((h) => document.getElementById('list').scrollHeight < h, shown.height);
  check(await selected() === null, 'the deleted message is no longer selected');
  await page.close();
}

async function main() {
  const browser = await t.launch();
  await picture(browser);
  await fullLog(browser);
}

t.run(main, 120);
