// The File commands: New (Ctrl+N), Open (Ctrl+O: the program lists the logs of its
// directory and this page offers them in a chooser), Save (Ctrl+S), and a log file
// dropped on the window, which the program stores beside the others and opens.
'use strict';

(function fileCommands() {
  const COMMAND_FILE_NEW = 57600;
  const COMMAND_FILE_OPEN = 57601;
  const COMMAND_FILE_SAVE = 57603;

  let chooser = null;       // the Open chooser while it is shown
  let listedBefore = null;  // the program's listing count when the chooser asked for a new one
  let lastState = null;

  function make(tag, className, text) {
    const el = document.createElement(tag);
    if (className) el.className = className;
    if (text !== undefined) el.textContent = text;
    return el;
  }

  function openChooser() {
    if (chooser) return;
    chooser = make('div', 'window dialog chooser');
    chooser.id = 'chooser';
    chooser.setAttribute('role', 'dialog');
    chooser.setAttribute('aria-label', 'Open');
    const bar = make('div', 'titlebar');
    bar.append(make('span', 'titletext', 'Open'));
    const body = make('form', 'chooser-body');
    const nameLabel = make('label', 'chooser-label', 'File name:');
    const name = make('input', 'chooser-name');
    name.type = 'text';
    name.spellcheck = false;
    name.autocomplete = 'off';
    nameLabel.htmlFor = name.id = 'chooser-name';
    const list = make('select', 'chooser-list');
    list.size = 8;
    list.setAttribute('aria-label', 'Log files');
    list.append(new Option('Reading the list...', ''));
    list.disabled = true;
    list.addEventListener('change', () => { name.value = list.value; });
    list.addEventListener('dblclick', () => { if (list.value) choose(list.value); });
    const type = make('div', 'chooser-label', 'Files of type: Log Files (*.log)');
    const buttons = make('div', 'dialog-buttons');
    const open = make('button', 'default', 'Open');
    open.type = 'submit';
    const cancel = make('button', '', 'Cancel');
    cancel.type = 'button';
    cancel.addEventListener('click', closeChooser);
    buttons.append(open, cancel);
    body.addEventListener('submit', (event) => {
      event.preventDefault();
      if (name.value) choose(name.value);
    });
    body.append(nameLabel, name, list, type, buttons);
    chooser.append(bar, body);
    $('desktop').append(chooser);
    listedBefore = lastState ? lastState.logFilesListed : 0;
    post(COMMAND_FILE_OPEN, '');
    name.focus();
    updateBlocker();
  }

  function showList(state) {
    if (!chooser || state.logFilesListed === listedBefore) return;
    listedBefore = state.logFilesListed;
    const list = chooser.querySelector('.chooser-list');
    list.textContent = '';
    for (const file of state.logFiles) list.append(new Option(file, file));
    list.disabled = state.logFiles.length === 0;
    if (!state.logFiles.length) list.append(new Option('No log files', ''));
  }

  // Only a name the program listed is sent; the program checks it again all the same.
  function choose(file) {
    const known = lastState && lastState.logFiles.includes(file);
    if (!known) {
      openLocalBox('Open', `${file}\nFile not found.\nOnly the log files listed can be opened.`, ['OK']);
      return;
    }
    closeChooser();
    post(COMMAND_FILE_OPEN, file);
  }

  function closeChooser() {
    if (!chooser) return;
    chooser.remove();
    chooser = null;
    updateBlocker();
  }

  function upload(file) {
    fetch(`api/upload?name=${encodeURIComponent(file.name)}`, {
      method: 'POST',
      headers: { 'Content-Type': 'application/octet-stream' },
      body: file,
      credentials: 'same-origin',
      cache: 'no-store',
    }).then(async (r) => {
      if (!r.ok) openLocalBox('Message Log', (await r.text()).trim() || `The log was not taken (${r.status})`, ['OK']);
    }, () => openLocalBox('Message Log', 'The log could not be sent to Telvara.', ['OK']));
  }

  function render(state) {
    lastState = state;
    showList(state);
  }

  function key(event) {
    if (chooser) {
      if (event.key === 'Escape') {
        event.preventDefault();
        closeChooser();
      }
      return true;
    }
    if (!event.ctrlKey || event.altKey || event.shiftKey) return false;
    const command = { n: COMMAND_FILE_NEW, o: COMMAND_FILE_OPEN, s: COMMAND_FILE_SAVE }[event.key.toLowerCase()];
    if (!command) return false;
    event.preventDefault();
    closeMenus();
    if (command === COMMAND_FILE_OPEN) openChooser();
    else post(command, '');
    return true;
  }

  // A file dragged over the window is taken by it, not opened by the browser.
  const carriesFiles = (event) => event.dataTransfer && Array.from(event.dataTransfer.types).includes('Files');
  document.addEventListener('dragover', (event) => {
    if (!carriesFiles(event)) return;
    event.preventDefault();
    event.dataTransfer.dropEffect = offline === null && !windowBlocked() ? 'copy' : 'none';
  });
  document.addEventListener('drop', (event) => {
    if (!carriesFiles(event)) return;
    event.preventDefault();
    const file = event.dataTransfer.files[0];
    if (file && offline === null && !windowBlocked()) upload(file);
  });

  localCommands.open = openChooser;
  pageParts.push({ render, key, open: () => chooser !== null });
}());
