// The message list of the window. Only the rows in view are drawn, over a spacer as
// tall as the whole list, so that 65,535 messages load and scroll as quickly as ten.
// The selection stays on its message (by identity) whatever the list does, and a
// row's context menu plays the message in this browser or saves it.
'use strict';

const ROW_HEIGHT = 16;  // px, as .row in style.css
const ROWS_BEYOND_VIEW = 4;  // drawn above and below the view, so a scroll never shows a gap

let listRows = [];
let selectedIndex = -1;
let selectedIdentity = null;
let drawn = { from: 0, to: 0, rows: null };  // what the list shows now
let rowMenuIdentity = null;  // the row whose context menu is open
let hereAudio = null;  // the message playing in this page

// The file name in a row's identity ("PGMO0509.WAV 889740309").
function identityFile(identity) {
  const space = identity.lastIndexOf(' ');
  return space < 0 ? identity : identity.slice(0, space);
}

function setListRows(rows) {
  listRows = rows;
  $('list-spacer').style.height = `${rows.length * ROW_HEIGHT}px`;
  // Keep the selection on the same message, wherever the list moved it.
  if (selectedIdentity !== null
      && !(rows[selectedIndex] && rows[selectedIndex].identity === selectedIdentity)) {
    selectedIndex = rows.findIndex((r) => r.identity === selectedIdentity);
    if (selectedIndex < 0) selectedIdentity = null;
  }
  if (rowMenuIdentity !== null && !rows.some((r) => r.identity === rowMenuIdentity)) closeRowMenu();
  drawRows();
}

// Draws the rows in view, and only those.
function drawRows() {
  const list = $('list');
  const from = Math.max(0, Math.floor(list.scrollTop / ROW_HEIGHT) - ROWS_BEYOND_VIEW);
  const to = Math.min(listRows.length,
                      Math.ceil((list.scrollTop + list.clientHeight) / ROW_HEIGHT) + ROWS_BEYOND_VIEW);
  const spacer = $('list-spacer');
  if (drawn.rows !== listRows || drawn.from !== from || drawn.to !== to) {
    const fragment = document.createDocumentFragment();
    for (let i = from; i < to; i += 1) {
      const div = document.createElement('div');
      div.className = 'row';
      div.setAttribute('role', 'option');
      div.textContent = listRows[i].text;
      div.dataset.index = String(i);
      div.style.top = `${i * ROW_HEIGHT}px`;
      fragment.appendChild(div);
    }
    spacer.replaceChildren(fragment);
    drawn = { from, to, rows: listRows };
  }
  for (const div of spacer.children) {
    const on = selectedIdentity !== null && Number(div.dataset.index) === selectedIndex;
    div.classList.toggle('selected', on);
    div.setAttribute('aria-selected', on ? 'true' : 'false');
  }
}

function select(index) {
  if (index < 0 || index >= listRows.length) return;
  selectedIndex = index;
  selectedIdentity = listRows[index].identity;
  // Scrolled just enough to show it.
  const list = $('list');
  const top = index * ROW_HEIGHT;
  if (top < list.scrollTop) list.scrollTop = top;
  else if (top + ROW_HEIGHT > list.scrollTop + list.clientHeight) list.scrollTop = top + ROW_HEIGHT - list.clientHeight;
  drawRows();
}

function selectedRowIdentity() {
  return selectedIdentity === null ? '' : selectedIdentity;
}

// ---- The row's context menu ----

function rowMenuItems() {
  return Array.from($('row-menu').querySelectorAll('.item'));
}

function setRowMenuItem(item) {
  for (const i of rowMenuItems()) i.classList.toggle('active', i === item);
}

// Opens the menu at a point of the window's drawing (its unscaled pixels).
function openRowMenu(identity, x, y) {
  rowMenuIdentity = identity;
  const menu = $('row-menu');
  menu.hidden = false;
  const desktop = $('desktop');
  menu.style.left = `${Math.max(0, Math.min(x, desktop.offsetWidth - menu.offsetWidth))}px`;
  menu.style.top = `${Math.max(0, Math.min(y, desktop.offsetHeight - menu.offsetHeight))}px`;
  setRowMenuItem(rowMenuItems()[0]);
  menu.focus();
}

function closeRowMenu() {
  if (rowMenuIdentity === null) return;
  rowMenuIdentity = null;
  $('row-menu').hidden = true;
  $('list').focus();
}

// The pointer's place in the window's own pixels, however the window is scaled.
function pointInDesktop(clientX, clientY) {
  const desktop = $('desktop');
  const box = desktop.getBoundingClientRect();
  const scale = box.width / desktop.offsetWidth || 1;
  return [(clientX - box.left) / scale, (clientY - box.top) / scale];
}

function openRowMenuAtSelection() {
  if (selectedIdentity === null) return;
  const row = $('list-spacer').querySelector(`.row[data-index="${selectedIndex}"]`);
  if (!row) return;
  const box = row.getBoundingClientRect();
  const [x, y] = pointInDesktop(box.left + 24, box.bottom);
  openRowMenu(selectedIdentity, x, y);
}

function runRowMenuItem(item) {
  const identity = rowMenuIdentity;
  closeRowMenu();
  if (identity === null) return;
  if (item.dataset.action === 'play') playHere(identity);
  else saveMessage(identity);
}

function messageUrl(identity) {
  return `api/message?file=${encodeURIComponent(identityFile(identity))}`;
}

// Plays the message in this browser; the program's status is not touched.
function playHere(identity) {
  if (hereAudio) hereAudio.pause();
  const audio = new Audio(messageUrl(identity));
  hereAudio = audio;
  audio.play().catch((e) => {
    if (hereAudio !== audio || e.name === 'AbortError') return;
    hereAudio = null;
    openLocalBox('Play here', `${identityFile(identity)} cannot be played here.`, ['OK']);
  });
}

function saveMessage(identity) {
  const link = document.createElement('a');
  link.href = `${messageUrl(identity)}&download=1`;
  link.download = identityFile(identity);
  document.body.appendChild(link);
  link.click();
  link.remove();
}

function rowMenuKey(event) {
  const items = rowMenuItems();
  const at = items.findIndex((i) => i.classList.contains('active'));
  const key = event.key;
  if (key === 'Escape' || key === 'Tab') closeRowMenu();
  else if (key === 'ArrowDown') setRowMenuItem(items[(at + 1) % items.length]);
  else if (key === 'ArrowUp') setRowMenuItem(items[(at - 1 + items.length) % items.length]);
  else if (key === 'Enter' || key === ' ') {
    if (at >= 0) runRowMenuItem(items[at]);
  } else {
    const item = items.find((i) => i.dataset.key === key.toLowerCase());
    if (item) runRowMenuItem(item);
    else if (key !== 'Shift' && key !== 'Control' && key !== 'Alt') return;
  }
  event.preventDefault();
  event.stopPropagation();
}

// ---- Wiring ----

function wireList() {
  const list = $('list');
  list.addEventListener('scroll', drawRows, { passive: true });
  list.addEventListener('mousedown', (event) => {
    const row = event.target.closest('.row');
    if (row) select(Number(row.dataset.index));
  });
  list.addEventListener('contextmenu', (event) => {
    event.preventDefault();
    const row = event.target.closest('.row');
    if (!row) return;
    select(Number(row.dataset.index));
    const [x, y] = pointInDesktop(event.clientX, event.clientY);
    openRowMenu(selectedIdentity, x, y);
  });
  list.addEventListener('keydown', (event) => {
    const count = listRows.length;
    if ((event.key === 'ContextMenu' && !event.shiftKey) || (event.key === 'F10' && event.shiftKey)) {
      event.preventDefault();
      openRowMenuAtSelection();
      return;
    }
    if (!count) return;
    const at = selectedIdentity === null ? -1 : selectedIndex;
    const page = Math.max(1, Math.floor(list.clientHeight / ROW_HEIGHT) - 1);
    let to = null;
    if (event.key === 'ArrowDown') to = Math.min(at + 1, count - 1);
    else if (event.key === 'ArrowUp') to = Math.max(at - 1, 0);
    else if (event.key === 'PageDown') to = Math.min(at + page, count - 1);
    else if (event.key === 'PageUp') to = Math.max(at - page, 0);
    else if (event.key === 'Home') to = 0;
    else if (event.key === 'End') to = count - 1;
    if (to !== null) {
      event.preventDefault();
      select(to);
    }
  });

  const menu = $('row-menu');
  menu.addEventListener('keydown', rowMenuKey);
  menu.addEventListener('contextmenu', (event) => event.preventDefault());
  for (const item of rowMenuItems()) {
    item.addEventListener('mouseenter', () => setRowMenuItem(item));
    item.addEventListener('click', () => runRowMenuItem(item));
  }
  document.addEventListener('mousedown', (event) => {
    if (rowMenuIdentity !== null && !event.target.closest('#row-menu')) closeRowMenu();
  }, true);
  menu.addEventListener('focusout', (event) => {
    if (!menu.contains(event.relatedTarget)) closeRowMenu();
  });
}
