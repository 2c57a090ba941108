// The message list of the window. Only the rows in view are drawn, over a spacer as
// tall as the whole list, so that 65,535 messages load and scroll as quickly as ten.
// The selection stays on its message (by identity) whatever the list does.
'use strict';

const ROW_HEIGHT = 16;  // px, as .row in style.css
const ROWS_BEYOND_VIEW = 4;  // drawn above and below the view, so a scroll never shows a gap

let listRows = [];
let selectedIndex = -1;
let selectedIdentity = null;
let drawn = { from: 0, to: 0, rows: null };  // what the list shows now

function setListRows(rows) {
  listRows = rows;
  $('list-spacer').style.height = `${rows.length * ROW_HEIGHT}px`;
  // Keep the selection on the same message, wherever the list moved it.
  if (selectedIdentity !== null
      && !(rows[selectedIndex] && rows[selectedIndex].identity === selectedIdentity)) {
    selectedIndex = rows.findIndex((r) => r.identity === selectedIdentity);
    if (selectedIndex < 0) selectedIdentity = null;
  }
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

// ---- Wiring ----

function wireList() {
  const list = $('list');
  list.addEventListener('scroll', drawRows, { passive: true });
  list.addEventListener('mousedown', (event) => {
    const row = event.target.closest('.row');
    if (row) select(Number(row.dataset.index));
  });
  list.addEventListener('keydown', (event) => {
    const count = listRows.length;
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
}
