// The sound card in headless Chromium against the real telvara (from TELVARA_BUILD): the
// greeting recorded from the browser's fake microphone, played back, a message played.
'use strict';

const fs = require('fs');
const path = require('path');
const t = require('./harness');

const { check } = t;

// The log of one new message: the count, the class, time, length, status, file name and caller.
const MESSAGE = 'PTEST001.WAV';
function oneMessageLog() {
  const fields = Buffer.alloc(10);
  fields.writeInt32LE(915148800, 0);
  fields.writeUInt32LE(2, 4);
  return Buffer.concat([Buffer.from([1, 0, 0xff, 0xff, 2, 0, 8, 0]), Buffer.from('CMessage'), fields,
                        Buffer.from([MESSAGE.length]), Buffer.from(MESSAGE), Buffer.from([0])]);
}

async function openWindow(browser, url) {
  const page = await t.newPage(browser);
  await page.goto(url);
  await t.statusIs(page, 'Stand by', 30000);
  return page;
}

const boxTexts = (page) => page.$$eval('.box .dialog-text', (els) => els.map((e) => e.textContent));
const boxesAre = (page, texts) => t.soon(page, (want) => JSON.stringify(
  Array.from(document.querySelectorAll('.box .dialog-text'), (e) => e.textContent)) === JSON.stringify(want), texts, 15000);

// A button played through the sound card: the page fetches `file` and reports its end.
async function playsThrough(page, button, file) {
  const fetched = page.waitForResponse((r) => r.url().endsWith(file)).then((r) => r.status(), () => null);
  const ended = page.waitForRequest((r) => r.url().endsWith('api/command') && /"data":"\d+ ended"/.test(r.postData()))
    .then(() => true, () => false);
  await page.click(button);
  check(await fetched === 200 && await ended, `${button}: the page plays ${file} to its end`, await fetched);
  check(await t.statusIs(page, 'Stand by', 10000) && (await boxTexts(page)).length === 0,
        `${button}: the program is back at Stand by, with no box`, [await page.inputValue('#status'), await boxTexts(page)]);
}

async function main() {
  const { home, url } = await t.startTelvara({
    modem: 'DEVICE=2\n',
    files: { 'system/announc2.wav': 'the old greeting', 'orvanel.log': oneMessageLog() },
  });
  const greeting = path.join(home, 'system', 'announc2.wav');
  const browser = await t.launch({}, ['--use-fake-device-for-media-stream', '--deny-permission-prompts',
                                      '--autoplay-policy=no-user-gesture-required']);

  // The microphone given.
  await browser.grantPermissions(['microphone'], { origin: new URL(url).origin });
  const page = await openWindow(browser, url);
  await t.closeBoxes(page);
  await page.click('#record-announcement');
  check(await boxesAre(page, ['Recording. Press OK when done.']), 'the recording box is open', await boxTexts(page));
  check(await page.isDisabled('#play-message'), 'the buttons wait while the line is in use');
  const rate = await page.evaluate(() => new AudioContext().sampleRate);
  await page.waitForTimeout(1500);
  await page.click('.box button:text("OK")');
  check(await boxesAre(page, ['All Done']), 'OK ends the recording: All Done', await boxTexts(page));
  const wav = fs.readFileSync(greeting);
  const seconds = wav.length > 44 ? wav.readUInt32LE(40) / (2 * rate) : 0;
  check(wav.toString('latin1', 0, 4) === 'RIFF' && wav.readUInt16LE(22) === 1 && wav.readUInt16LE(34) === 16 &&
        wav.readUInt32LE(24) === rate && seconds > 1 && seconds < 10,
        'announc2.wav holds what was recorded, 16-bit mono at the browser\'s rate', [seconds, wav.slice(0, 44)]);
  check(await page.waitForFunction(() => !document.getElementById('play-message').disabled).then(() => true, () => false),
        'the buttons are back once the line is idle');
  await t.closeBoxes(page);

  // Played back through the page; a message so played stays new.
  await playsThrough(page, '#play-announcement', 'api/greeting');
  fs.copyFileSync(greeting, path.join(home, 'inbox', MESSAGE));
  const row = () => page.textContent('#list .row >> nth=0');
  const before = await row();
  await page.click('#list .row >> nth=0');
  await playsThrough(page, '#play-message', `api/message?file=${MESSAGE}`);
  check(/NEW$/.test(before) && /NEW$/.test(await row()), 'the message played stays NEW', [before, await row()]);
  await page.close();

  // The microphone refused.
  await browser.clearPermissions();
  const other = await openWindow(browser, url);
  await other.click('#record-announcement');
  check(await boxesAre(other, ['MCI Open Error', 'All Done']), 'a refused microphone: MCI Open Error, then All Done',
        await boxTexts(other));
  check(fs.readFileSync(greeting).equals(wav), 'the greeting is kept');
}

t.run(main, 90);
