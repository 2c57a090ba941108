// The Telvara window in a browser. The program decides everything: this page draws
// the window state that the program publishes (followed by server-sent events) and
// posts back what the user does. Plain script, no build step.
'use strict';

const IDLE_PROMPT = 'For Help, press F1';
const DEFAULT_TITLE = 'Telvara for Win95/NT';
const DEFAULT_HEADER = 'Time        Date      Length    Filename    Caller ID  Status';
const BOX_TITLE = 'Telvara for Win 95/NT';
const COMMAND_BOX_ANSWER = 1;
const COMMAND_EXIT = 57665;
const EXIT_QUESTION = 'Telvara will stop answering the telephone. Exit?';
const DESKTOP_WIDTH = 608;  // the frame at 16,16, 576 x 416, with as much around it
const DESKTOP_HEIGHT = 448;

// Parts of the window kept in files of their own (the set-up dialog, the File
// commands) join here: render(state) after every state, key(event) true when they
// took the key, open() true while they hold the window.
const pageParts = [];
// Menu items the page runs itself (data-local), by name.
const localCommands = { help: openHelp };

const $ = (id) => document.getElementById(id);

let state = null;             // the state drawn last (its rows are the list's, list.js)
let rowsVersion = null;       // the version of the rows that the list holds
let localBoxes = [];          // boxes the page shows on its own (Help Topics, Exit?)
let nextLocalBox = 1;
let source = null;
let retryTimer = 0;
let failures = 0;
let closingSeen = false;
let offline = null;           // null, 'lost' or 'stopped'
let openMenu = null;
let hoverPrompt = null;

// ---- Talking to the program ----

// This page's own id: the program answers a click that needs the page (the sound card
// is the browser that clicked) by naming the page that sent it.
const PAGE_ID = Array.from(crypto.getRandomValues(new Uint8Array(12)), (b) => b.toString(16).padStart(2, '0')).join('');

function post(id, data) {
  return fetch('api/command', {
    method: 'POST',
    headers: { 'Content-Type': 'application/json' },
    body: JSON.stringify({ id, data: data || '', page: PAGE_ID }),
    credentials: 'same-origin',
    cache: 'no-store',
  }).then((r) => r.ok, () => false);
}

// The state comes first whole (fetched while the page loads, see index.html); the
// stream then sends the rows only when they are not those the list holds.
function start() {
  fetch('api/state', { credentials: 'same-origin', cache: 'no-store' })
    .then((r) => (r.ok ? r.json() : null))
    .then((s) => { if (s) take(s); }, () => {})
    .finally(connect);
}

function take(s) {
  failures = 0;
  closingSeen = !!s.closing;
  $('connecting').classList.add('gone');
  render(s);
}

function connect() {
  clearTimeout(retryTimer);
  const es = new EventSource(rowsVersion === null ? 'api/events' : `api/events?rows=${rowsVersion}`);
  source = es;
  es.addEventListener('state', (event) => {
    let s;
    try {
      s = JSON.parse(event.data);
    } catch (e) {
      return;
    }
    take(s);
  });
  // A dropped stream (the program stopped, or restarted) is opened again by hand, so
  // that the window says plainly what happened while it keeps trying.
  es.onerror = () => {
    es.close();
    if (source !== es) return;
    source = null;
    failures += 1;
    setOffline(closingSeen ? 'stopped' : 'lost');
    retryTimer = setTimeout(connect, closingSeen ? 3000 : Math.min(1000 * failures, 5000));
  };
}

// ---- Drawing the state ----

function render(s) {
  state = s;
  const title = s.title || DEFAULT_TITLE;
  document.title = title;
  $('title').textContent = title;
  $('header').textContent = s.header || DEFAULT_HEADER;
  if ($('status').value !== s.status) $('status').value = s.status;

  $('startup').hidden = !s.startupVisible;
  $('startup-title').textContent = s.startupTitle || 'Telvara for Win 95/NT';
  $('startup-status').textContent = 'Status: ' + s.startupStatus;
  // The main window appears once the start-up has finished, as it did on the desktop.
  $('frame').hidden = !!s.startupVisible;
  document.body.classList.toggle('main-shown', !s.startupVisible);
  // The rows come only when they changed; otherwise the list keeps its own. (Drawn
  // once the list is shown, to know how many are in view.)
  if (Array.isArray(s.rows)) {
    setListRows(s.rows);
    rowsVersion = s.rowsVersion;
  }

  renderBoxes();
  for (const part of pageParts) part.render(s);
  setOffline(s.closing ? 'stopped' : null);
  renderSound(s);
}

function allBoxes() {
  const server = (state ? state.boxes : []).map((b) => ({ ...b, key: 'box-' + b.id, local: false }));
  return server.concat(localBoxes);
}

function renderBoxes() {
  const container = $('boxes');
  const boxes = allBoxes();
  const keys = new Set(boxes.map((b) => b.key));
  for (const old of Array.from(container.children)) {
    if (!keys.has(old.dataset.key)) old.remove();
  }
  let newest = null;
  boxes.forEach((box, i) => {
    let div = container.querySelector(`[data-key="${box.key}"]`);
    if (!div) {
      div = makeBox(box);
      newest = div;
    }
    // Oldest first, so the newest lies on top; each a little lower and to the right,
    // so that a box under another still shows.
    div.style.marginLeft = `${i * 24}px`;
    div.style.marginTop = `${i * 24}px`;
    container.appendChild(div);
  });
  if (newest) {
    const first = newest.querySelector('button.default');
    if (first) first.focus();
  }
  updateBlocker();
}

// Whether a box or a dialog keeps the main window from being used.
function windowBlocked() {
  return allBoxes().length > 0 || pageParts.some((part) => part.open());
}

function updateBlocker() {
  $('blocker').hidden = !windowBlocked() && offline === null;
}

function makeBox(box) {
  const div = document.createElement('div');
  div.className = 'window dialog box';
  div.dataset.key = box.key;
  div.setAttribute('role', 'alertdialog');

  const bar = document.createElement('div');
  bar.className = 'titlebar';
  const title = document.createElement('span');
  title.className = 'titletext';
  title.textContent = box.title || BOX_TITLE;
  bar.appendChild(title);

  const body = document.createElement('div');
  body.className = 'dialog-body';
  const icon = document.createElement('div');
  const asks = box.buttons.some((b) => b === 'Yes' || b === 'No');
  // The About box shows the program's icon, laid out as its dialog was.
  const about = !box.local && box.title === 'About Telvara';
  if (about) div.classList.add('about');
  icon.className = 'dialog-icon '
    + (about ? 'icon-program' : asks ? 'icon-question' : box.local ? 'icon-info' : 'icon-exclaim');
  const text = document.createElement('div');
  text.className = 'dialog-text';
  text.textContent = box.text;
  body.append(icon, text);

  const buttons = document.createElement('div');
  buttons.className = 'dialog-buttons';
  const labels = box.buttons.length ? box.buttons : ['OK'];
  labels.forEach((label, i) => {
    const button = document.createElement('button');
    button.type = 'button';
    button.textContent = label;
    if (i === (box.defaultButton || 0)) button.classList.add('default');
    button.addEventListener('click', () => answer(box, label, div));
    buttons.appendChild(button);
  });
  div.append(bar, body, buttons);
  return div;
}

function answer(box, label, div) {
  if (box.local) {
    localBoxes = localBoxes.filter((b) => b.key !== box.key);
    renderBoxes();
    if (box.onAnswer) box.onAnswer(label);
    return;
  }
  // The program closes the box when it takes the answer; until then one answer is enough.
  const buttons = div.querySelectorAll('button');
  buttons.forEach((b) => { b.disabled = true; });
  post(COMMAND_BOX_ANSWER, `${box.id} ${label}`).then((ok) => {
    if (!ok) buttons.forEach((b) => { b.disabled = false; });
  });
}

// A box of the page's own; onAnswer(label) is called with the button pressed, and
// Enter presses buttons[defaultButton].
function openLocalBox(title, text, buttons, onAnswer, defaultButton = 0) {
  localBoxes.push({ key: 'local-' + nextLocalBox, title, text, buttons, local: true, onAnswer, defaultButton });
  nextLocalBox += 1;
  renderBoxes();
}

// The program's help, a page of its own beside the window.
function openHelp() {
  window.open('help.html', 'telvara-help');
  showPrompt();
}

// Closing the window stops the answering machine, so it asks first, with No as the
// answer that Enter gives. Closing the browser's tab stops nothing.
function confirmExit() {
  openLocalBox(BOX_TITLE, EXIT_QUESTION, ['Yes', 'No'], (label) => {
    if (label === 'Yes') post(COMMAND_EXIT, '');
  }, 1);
}

// ---- The window for any screen ----

// The drawing keeps its pixel layout and is scaled, whole, to fill the browser's view:
// a phone shows all of it, a wide screen shows it large.
function fitToViewport() {
  const width = document.documentElement.clientWidth;
  const height = document.documentElement.clientHeight;
  const scale = Math.min(width / DESKTOP_WIDTH, height / DESKTOP_HEIGHT);
  const x = (width - DESKTOP_WIDTH * scale) / 2;
  const y = (height - DESKTOP_HEIGHT * scale) / 2;
  $('desktop').style.transform = `translate(${x}px, ${y}px) scale(${scale})`;
}

function setOffline(kind) {
  offline = kind;
  const box = $('offline');
  box.hidden = kind === null;
  if (kind === 'stopped') {
    $('offline-text').textContent = 'Telvara has stopped.\nThis window is no longer connected to it.';
  } else if (kind === 'lost') {
    $('offline-text').textContent =
      'Telvara does not answer: it may have stopped.\nThis window keeps trying to reach it.';
  }
  const prompt = $('prompt');
  prompt.classList.toggle('warning', kind !== null);
  // The buttons wait while a line operation runs.
  const busy = !!(state && state.lineBusy);
  for (const button of document.querySelectorAll('#view .push')) button.disabled = kind !== null || busy;
  showPrompt();
  updateBlocker();
}

// ---- The status bar ----

function showPrompt() {
  const prompt = $('prompt');
  if (offline === 'stopped') prompt.textContent = 'Telvara has stopped';
  else if (offline === 'lost') prompt.textContent = 'Not connected to Telvara';
  else prompt.textContent = hoverPrompt || IDLE_PROMPT;
}

function updateIndicators(event) {
  if (!event || typeof event.getModifierState !== 'function') return;
  $('cap').classList.toggle('on', event.getModifierState('CapsLock'));
  $('num').classList.toggle('on', event.getModifierState('NumLock'));
  $('scrl').classList.toggle('on', event.getModifierState('ScrollLock'));
}

// ---- Menus ----

function menus() {
  return Array.from(document.querySelectorAll('#menubar .menu'));
}

function items(menu) {
  return Array.from(menu.querySelectorAll('.item'));
}

function openMenuNow(menu, activateFirst) {
  closeMenus();
  openMenu = menu;
  menu.classList.add('open');
  if (activateFirst) setActiveItem(items(menu)[0] || null);
}

function closeMenus() {
  for (const m of menus()) m.classList.remove('open');
  for (const i of document.querySelectorAll('#menubar .item.active')) i.classList.remove('active');
  openMenu = null;
  hoverPrompt = null;
  showPrompt();
}

function setActiveItem(item) {
  if (!openMenu) return;
  for (const i of items(openMenu)) i.classList.toggle('active', i === item);
  hoverPrompt = item ? item.dataset.prompt : null;
  showPrompt();
}

function runItem(item) {
  closeMenus();
  if (item.dataset.local) localCommands[item.dataset.local]();
  else if (Number(item.dataset.command) === COMMAND_EXIT) confirmExit();
  else post(Number(item.dataset.command), '');
}

function moveInMenu(step) {
  const list = items(openMenu);
  const at = list.findIndex((i) => i.classList.contains('active'));
  setActiveItem(list[(at + step + list.length) % list.length]);
}

function switchMenu(step) {
  const all = menus();
  const at = all.indexOf(openMenu);
  openMenuNow(all[(at + step + all.length) % all.length], true);
}

function menuKey(event) {
  const key = event.key;
  if (key === 'Escape') closeMenus();
  else if (key === 'ArrowDown') moveInMenu(1);
  else if (key === 'ArrowUp') moveInMenu(-1);
  else if (key === 'ArrowRight') switchMenu(1);
  else if (key === 'ArrowLeft') switchMenu(-1);
  else if (key === 'Enter') {
    const active = openMenu.querySelector('.item.active');
    if (active) runItem(active);
  } else {
    const item = items(openMenu).find((i) => i.dataset.key === key.toLowerCase());
    if (!item) return false;
    runItem(item);
  }
  return true;
}

// ---- Wiring ----

function wire() {
  for (const button of document.querySelectorAll('#view .push')) {
    button.addEventListener('click', () => {
      const data = button.dataset.row ? selectedRowIdentity() : '';
      post(Number(button.dataset.command), data);
    });
  }
  $('close-button').addEventListener('click', confirmExit);
  window.addEventListener('resize', fitToViewport);
  fitToViewport();
  wireList();

  for (const menu of menus()) {
    const title = menu.querySelector('.menutitle');
    title.addEventListener('mousedown', (event) => {
      event.preventDefault();
      if (openMenu === menu) closeMenus();
      else openMenuNow(menu, false);
    });
    title.addEventListener('mouseenter', () => {
      if (openMenu && openMenu !== menu) openMenuNow(menu, false);
    });
    for (const item of items(menu)) {
      item.addEventListener('mouseenter', () => setActiveItem(item));
      item.addEventListener('mouseleave', () => setActiveItem(null));
      item.addEventListener('click', () => runItem(item));
    }
  }
  document.addEventListener('mousedown', (event) => {
    updateIndicators(event);
    if (openMenu && !event.target.closest('#menubar')) closeMenus();
  });
  document.addEventListener('mousemove', updateIndicators);
  document.addEventListener('keyup', updateIndicators);
  document.addEventListener('keydown', (event) => {
    updateIndicators(event);
    if (offline !== null) return;
    const boxes = $('boxes').children;
    if (boxes.length) {
      // Keys go to the box on top, as to a modal box.
      if (event.key === 'Escape') {
        const top = boxes[boxes.length - 1];
        // Cancel where the box has it (Yes, No, Cancel), else OK or No.
        const buttons = Array.from(top.querySelectorAll('button'));
        const cancel = ['Cancel', 'OK', 'No'].map((t) => buttons.find((b) => b.textContent === t)).find((b) => b);
        if (cancel) cancel.click();
        event.preventDefault();
      }
      return;
    }
    for (const part of pageParts) {
      if (part.key(event)) return;
    }
    if (event.key === 'F1') {
      event.preventDefault();
      closeMenus();
      openHelp();
      return;
    }
    if (openMenu) {
      if (menuKey(event)) event.preventDefault();
      return;
    }
    if (event.altKey && !event.ctrlKey && event.key.length === 1) {
      const menu = menus().find((m) => m.dataset.key === event.key.toLowerCase());
      if (menu) {
        event.preventDefault();
        openMenuNow(menu, true);
      }
    }
  });
}

wire();
start();
