// The sound card in headless Chromium against the real telvara on a simulated modem:
// Record Announcement records the greeting from the browser's (fake) microphone and
// the program keeps it as announc2.wav; a browser that refuses the microphone gets
// "MCI Open Error", then "All Done". TELVARA_BUILD names the build folder (telvara,
// telvara-modemsim); TELVARA_CHROMIUM the browser (default /usr/bin/chromium).
// Exits 0 when every check passed, 1 on a failure, 77 when it cannot run here.
'use strict';

const { spawn } = require('child_process');
const fs = require('fs');
const os = require('os');
const path = require('path');
const readline = require('readline');

const SKIP = 77;
function skip(why) {
  console.log(`browser_sound skipped: ${why}`);
  process.exit(SKIP);
}
let chromium;
try {
  ({ chromium } = require('playwright-core'));
} catch (e) {
  skip('playwright-core is not installed (run "npm ci" in tests/browser)');
}
const browserPath = process.env.TELVARA_CHROMIUM || '/usr/bin/chromium';
if (!fs.existsSync(browserPath)) skip(`no browser at ${browserPath}`);
const build = process.env.TELVARA_BUILD;
if (!build || !fs.existsSync(path.join(build, 'telvara'))) skip('set TELVARA_BUILD to a build with telvara');

let passed = 0;
let failed = 0;
function check(ok, what, detail) {
  if (ok) passed += 1;
  else failed += 1;
  console.log(ok ? `ok   ${what}` : `FAIL ${what}${detail === undefined ? '' : ': ' + JSON.stringify(detail)}`);
}

const children = [];
const home = fs.mkdtempSync(path.join(os.tmpdir(), 'telvara-sound-'));
const greeting = path.join(home, 'system', 'announc2.wav');

// The simulated modem, then telvara on it with the sound card; resolves with the address.
async function startProgram() {
  fs.mkdirSync(path.join(home, 'inbox'));
  fs.mkdirSync(path.join(home, 'system'));
  fs.writeFileSync(greeting, 'the old greeting');
  fs.writeFileSync(path.join(home, 'telvara.ini'), `[MODEM]\nDEVICE=2\n[PORTS]\nCOM2=${home}/modem\n`);
  const sim = spawn(path.join(build, 'telvara-modemsim'), ['--link', path.join(home, 'modem')],
                    { stdio: ['ignore', 'pipe', 'inherit'] });
  children.push(sim);
  await new Promise((resolve, reject) => {
    sim.stdout.once('data', resolve);
    sim.once('exit', (code) => reject(new Error(`the simulator ended (${code})`)));
  });
  const telvara = spawn(path.join(build, 'telvara'), ['--home', home, '--listen', '127.0.0.1:0'],
                        { stdio: ['ignore', 'pipe', 'inherit'] });
  children.push(telvara);
  const lines = readline.createInterface({ input: telvara.stdout });
  return new Promise((resolve, reject) => {
    setTimeout(() => reject(new Error('telvara printed no address within 20 s')), 20000).unref();
    lines.once('line', (line) => {
      lines.on('line', () => {});
      resolve(line.trim());
    });
    telvara.once('exit', (code) => reject(new Error(`telvara ended (${code}) before printing its address`)));
  });
}

async function openWindow(context, url) {
  const page = await context.newPage();
  page.setDefaultTimeout(10000);
  page.on('pageerror', (e) => check(false, 'the page runs without script errors', e.message));
  await page.goto(url);
  await page.waitForSelector('#frame', { state: 'visible', timeout: 30000 });
  await page.waitForFunction(() => document.getElementById('status').value === 'Stand by', null, { timeout: 30000 });
  return page;
}

const boxTexts = (page) => page.$$eval('.box .dialog-text', (els) => els.map((e) => e.textContent));
async function closeBoxes(page) {
  for (let i = 0; i < 10 && await page.locator('.box').count() > 0; i += 1) {
    const open = await page.locator('.box').count();
    await page.locator('.box').last().locator('button').first().click();
    await page.waitForFunction((n) => document.querySelectorAll('.box').length < n, open);
  }
}
const boxesAre = (page, texts) => page.waitForFunction(
  (want) => JSON.stringify(Array.from(document.querySelectorAll('.box .dialog-text'), (e) => e.textContent))
    === JSON.stringify(want), texts, { timeout: 15000 }).then(() => true, () => false);

async function main() {
  const url = await startProgram();
  const browser = await chromium.launch({
    executablePath: browserPath,
    headless: true,
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-background-networking',
           '--disable-component-update', '--disable-sync', '--use-fake-device-for-media-stream',
           '--deny-permission-prompts', '--autoplay-policy=no-user-gesture-required'],
  });
  try {
    // The microphone given.
    const given = await browser.newContext();
    await given.grantPermissions(['microphone'], { origin: new URL(url).origin });
    const page = await openWindow(given, url);
    await closeBoxes(page);
    await page.click('#record-announcement');
    check(await boxesAre(page, ['Recording. Press OK when done.']), 'the recording box is open', await boxTexts(page));
    check(await page.isDisabled('#play-message') && await page.isDisabled('#delete-message'),
          'the buttons wait while the line is in use');
    const rate = await page.evaluate(() => new AudioContext().sampleRate);
    await page.waitForTimeout(1500);
    await page.click('.box button:text("OK")');
    check(await boxesAre(page, ['All Done']), 'OK ends the recording: All Done', await boxTexts(page));
    check(await page.locator('.box .titletext').textContent() === 'Sound Card Recording', 'the box caption');
    const wav = fs.readFileSync(greeting);
    const seconds = wav.length > 44 ? wav.readUInt32LE(40) / (2 * rate) : 0;
    check(wav.toString('latin1', 0, 4) === 'RIFF' && wav.readUInt16LE(22) === 1 && wav.readUInt16LE(34) === 16 &&
          wav.readUInt32LE(24) === rate, 'announc2.wav is 16-bit mono at the browser\'s rate', wav.slice(0, 44));
    check(seconds > 1 && seconds < 10, 'it holds what was recorded', seconds);
    check(await page.waitForFunction(() => !document.getElementById('play-message').disabled).then(() => true, () => false),
          'the buttons are back once the line is idle');
    await closeBoxes(page);
    await given.close();

    // The microphone refused.
    const refused = await browser.newContext();
    const other = await openWindow(refused, url);
    await other.click('#record-announcement');
    check(await boxesAre(other, ['MCI Open Error', 'All Done']), 'a refused microphone: MCI Open Error, then All Done',
          await boxTexts(other));
    check(fs.readFileSync(greeting).equals(wav), 'the greeting is kept');
    await refused.close();
  } finally {
    await browser.close();
  }
}

function end(error) {
  if (error) check(false, error.stack || error);
  for (const child of children.reverse()) if (child.exitCode === null && child.signalCode === null) child.kill('SIGTERM');
  setTimeout(() => {
    for (const child of children) if (child.exitCode === null && child.signalCode === null) child.kill('SIGKILL');
    fs.rmSync(home, { recursive: true, force: true });
    console.log(`browser_sound: ${passed} passed, ${failed} failed`);
    process.exit(failed === 0 ? 0 : 1);
  }, 500);
}
setTimeout(() => end('the sound test took longer than 90 s'), 90000).unref();
main().then(() => end(), end);
