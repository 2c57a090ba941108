// The "Modem Set Up" dialog of the real program (from TELVARA_BUILD) in headless Chromium:
// it shows the profile, Cancel keeps the edits, Yes writes them, and the program restarts.
'use strict';

const fs = require('fs');
const net = require('net');
const path = require('path');
const t = require('./harness');

const { check } = t;

function freePort() {
  return new Promise((resolve) => {
    const server = net.createServer().listen(0, '127.0.0.1', () => {
      const { port } = server.address();
      server.close(() => resolve(port));
    });
  });
}

async function main() {
  // A speed and a ring count that no control stands for; a fixed port to find it again after the restart.
  const { home, telvara, url } = await t.startTelvara({ modem: 'SPEED=9\nRINGS=7\n',
                                                        listen: `127.0.0.1:${await freePort()}` });
  const profilePath = path.join(home, 'telvara.ini');

  const browser = await t.launch({ viewport: { width: 1024, height: 640 } });
  const page = await t.newPage(browser);
  const soon = (fn, arg, ms) => t.soon(page, fn, arg, ms);
  const checked = (name) => page.$eval('#setup', (d, n) => d.querySelector(`input[name="${n}"]:checked`)?.value ?? null,
                                       name);
  const value = (name) => page.$eval('#setup', (d, n) => d.querySelector(`[name="${n}"]`).value, name);
  const openDialog = async () => {
    await page.click('#menubar .menu[data-key="s"] .menutitle');
    await page.click('#menubar .item[data-command="32771"]');
    await page.waitForSelector('#setup', { state: 'visible' });
  };
  const box = () => page.waitForSelector('.box');  // its texts: the engine's tests

  await page.goto(url);
  check(await t.statusIs(page, 'Stand by', 30000), 'the program is up on the simulated modem');

  await openDialog();
  const shown = [await checked('port'), await checked('speed'), await checked('type'), await checked('device'),
    await checked('action'), await value('rings'), await value('delay'), await value('init'),
    await value('phone'), await value('pager'), await value('security')];
  check(JSON.stringify(shown) === JSON.stringify(['2', null, '0', '0', '0', '', '0', 'AT&F&C1&D2', '', '', '857']),
        'it shows the profile: Com2, no speed (9), Rockwell, Handset, Call the Master, no ring entry (7), ' +
        'delay "5", the defaults of the texts', shown);

  // 57600 baud, ring entry "3", a telephone number.
  await page.check('#setup input[name="speed"][value="1"]');
  await page.selectOption('#setup select[name="rings"]', { label: '3' });
  await page.fill('#setup input[name="phone"]', '5551234');
  await page.click('#setup .setup-button:text("OK")');
  await box();
  const before = fs.readFileSync(profilePath, 'utf8');
  await page.click('.box button:text("Cancel")');
  check(await soon(() => !document.querySelector('.box')) && await page.isVisible('#setup') &&
        await checked('speed') === '1' && await value('phone') === '5551234' &&
        fs.readFileSync(profilePath, 'utf8') === before, 'Cancel keeps the dialog open, edited, and writes nothing');

  await page.click('#setup .setup-button:text("OK")');
  await box();
  await page.click('.box button:text("Yes")');
  await soon(() => !document.getElementById('setup'));
  await box();  // the restart offer
  const written = fs.readFileSync(profilePath, 'utf8');
  check(written.startsWith('[MODEM]\nSPEED=1\nRINGS=2\n') && written.includes('\nPHONE=5551234\n'), 'Yes wrote them',
        written);

  await page.click('.box button:text("Yes")');
  const again = await telvara.nextLine(20000, (line) => line.startsWith('http'));
  check(again === url, 'the program started again with the same arguments', again);
  check(await soon(() => document.getElementById('offline').hidden &&
                         document.getElementById('status').value === 'Stand by', undefined, 30000),
        'the window finds the restarted program');
  await openDialog();
  check(await checked('speed') === '1' && await value('rings') === '2' && await value('phone') === '5551234',
        'the reopened dialog shows the saved values');
  await page.keyboard.press('Escape');
  check(await soon(() => !document.getElementById('setup')), 'Escape cancels the dialog');
}

t.run(main, 120);
