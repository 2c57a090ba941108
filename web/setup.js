// The "Modem Set Up" dialog. The program opens it and says what it shows (the
// profile's values as stored, the device each Com number opens, the serial devices it
// found); this page lays it out as its template, in dialog units, and answers with the
// controls as they stand at OK, or with "cancel". The program asks for confirmation,
// writes the profile and closes the dialog.
'use strict';

(function setupDialog() {
  const COMMAND_SETUP_ANSWER = 3;
  // Dialog units of the dialog's 8-point font, in pixels.
  const DLU_X = 1.5;
  const DLU_Y = 1.625;
  const WIDTH = 340;  // the template's 218, and the devices beside it
  const HEIGHT = 200;
  const RADIO_PX = 13;  // as setup.css draws a radio button

  // [x, y, width, height, caption] in dialog units, as the template has them.
  const GROUPS = [
    [6, 4, 163, 26, 'Comm Port'], [6, 34, 163, 26, 'Baud Rate'], [6, 62, 204, 26, 'Modem'],
    [6, 109, 204, 26, 'Output Device'], [6, 154, 204, 41, 'Action on Incoming Calls'],
    [217, 4, 116, 96, 'Com Port Devices'],
  ];
  // Radio buttons without captions: a label below each, centred on it.
  // [group, x of each, y, width, height, y of the labels, labels, value of the first]
  const BARE_RADIOS = [
    ['port', [63, 95, 125, 152], 10, 11, 10, 19, ['Com1', 'Com2', 'Com3', 'Com4'], 1],
    ['speed', [63, 95, 125, 153], 39, 10, 9, 49, ['115200', '57600', '38400', '19200'], 0],
    ['type', [43, 71, 107, 140, 164, 187], 68, 10, 9, 78,
      ['Rockwell', 'IS_101', 'US Robotics', 'Cirrus', 'Sierra', 'UMC'], 0],
  ];
  // Radio buttons with captions: [group, [[x, y, width, height, caption], ...]].
  const CAPTIONED_RADIOS = [
    ['device', [[42, 121, 39, 8, 'Handset'], [87, 121, 64, 8, 'Modem Speaker'], [157, 121, 50, 8, 'Sound Card']]],
    ['action', [[18, 167, 60, 10, 'Call the Master'], [87, 167, 65, 10, 'Page the Master'],
      [157, 167, 49, 10, 'Do Nothing']]],
  ];
  const LABELS = [
    [13, 72, 24, 8, 'Type'], [7, 95, 76, 8, 'Modem Initialize String:'], [6, 138, 48, 16, 'Num. of Rings Before Answer'],
    [111, 138, 50, 16, 'Delay in Min. Between Calls'], [8, 178, 26, 16, 'Phone Number'],
    [110, 178, 26, 16, 'Pager Number'], [170, 38, 46, 8, 'Security Code'],
  ];
  // [name, x, y, width, height, longest text the program keeps]
  const EDITS = [['init', 84, 93, 126, 14, 59], ['phone', 35, 181, 72, 12, 29], ['pager', 137, 181, 72, 12, 29],
    ['security', 175, 48, 35, 12, 15]];
  // [name, x, y, width, entries]; the list's dropped-down height is the browser's.
  const LISTS = [['rings', 56, 140, 48, ['1', '2', '3', '4', '5', '6']],
    ['delay', 162, 140, 48, ['5', '10', '15', '20', '30', '60']]];

  let dialog = null;  // the dialog's element while it is open
  let shownRevision = -1;

  function px(units, unit) { return `${Math.round(units * unit)}px`; }
  function place(el, x, y, w, h) {
    el.style.left = px(x, DLU_X);
    el.style.top = px(y, DLU_Y);
    if (w !== undefined) el.style.width = px(w, DLU_X);
    if (h !== undefined) el.style.height = px(h, DLU_Y);
    return el;
  }
  function make(tag, className, text) {
    const el = document.createElement(tag);
    if (className) el.className = className;
    if (text !== undefined) el.textContent = text;
    return el;
  }
  function radio(name, value, label) {
    const input = make('input');
    input.type = 'radio';
    input.name = name;
    input.value = String(value);
    if (label) input.setAttribute('aria-label', label);
    return input;
  }

  function build() {
    const root = make('div', 'window dialog setup');
    root.id = 'setup';
    root.setAttribute('role', 'dialog');
    root.setAttribute('aria-label', 'Modem Set Up');
    const bar = make('div', 'titlebar');
    bar.append(make('span', 'titletext', 'Modem Set Up'));
    const buttons = make('span', 'titlebuttons');
    const close = make('button', 'tbutton close');
    close.type = 'button';
    close.tabIndex = -1;
    close.setAttribute('aria-label', 'Close');
    close.append(make('span', 'glyph-close', '\u2715'));
    close.addEventListener('click', cancel);
    buttons.append(close);
    bar.append(buttons);

    const form = make('form', 'setup-client');
    form.style.width = px(WIDTH, DLU_X);
    form.style.height = px(HEIGHT, DLU_Y);
    form.addEventListener('submit', (event) => {
      event.preventDefault();
      ok();
    });
    for (const [x, y, w, h, caption] of GROUPS) {
      const group = place(make('fieldset', 'setup-group'), x, y, w, h);
      group.append(make('legend', '', caption));
      form.append(group);
    }
    for (const [name, xs, y, w, h, labelY, labels, first] of BARE_RADIOS) {
      xs.forEach((x, i) => {
        // The system's own radio size, at the top left of the button's rectangle.
        form.append(place(radio(name, first + i, labels[i]), x, y));
        const label = place(make('span', 'setup-under', labels[i]), x + RADIO_PX / 2 / DLU_X, labelY);
        form.append(label);
      });
    }
    for (const [name, buttonsOf] of CAPTIONED_RADIOS) {
      buttonsOf.forEach(([x, y, w, h, caption], i) => {
        const label = place(make('label', 'setup-radio'), x, y, w, h);
        label.append(radio(name, i), make('span', '', caption));
        form.append(label);
      });
    }
    for (const [x, y, w, h, text] of LABELS) {
      form.append(place(make('span', h > 8 ? 'setup-label' : 'setup-label one-line', text), x, y, w, h));
    }
    for (const [name, x, y, w, h, longest] of EDITS) {
      const edit = place(make('input', 'setup-edit'), x, y, w, h);
      edit.type = 'text';
      edit.name = name;
      edit.maxLength = longest;
      edit.spellcheck = false;
      edit.autocomplete = 'off';
      form.append(edit);
    }
    for (const [name, x, y, w, entries] of LISTS) {
      const list = place(make('select', 'setup-list'), x, y, w, 12);
      list.name = name;
      entries.forEach((text, i) => list.append(new Option(text, String(i))));
      form.append(list);
    }
    // Beside the template: what each Com number opens, and the devices of the machine.
    for (let com = 1; com <= 4; com += 1) {
      const y = 14 + (com - 1) * 10;
      form.append(place(make('span', 'setup-label', `Com${com}`), 223, y, 20, 8));
      const device = place(make('span', 'setup-device'), 245, y, 74, 8);
      device.dataset.com = String(com);
      form.append(device);
      const mark = place(make('span', 'setup-mark'), 321, y, 8, 8);
      mark.dataset.com = String(com);
      form.append(mark);
    }
    form.append(place(make('span', 'setup-label setup-map-label'), 223, 58, 104, 8));
    const map = place(make('select', 'setup-list'), 223, 68, 104, 12);
    map.name = 'map';
    form.append(map);
    form.append(place(make('span', 'setup-label setup-found'), 223, 84, 104, 8));

    const okButton = place(make('button', 'setup-button default', 'OK'), 179, 8, 32, 13);
    okButton.type = 'submit';
    const cancelButton = place(make('button', 'setup-button', 'Cancel'), 179, 22, 32, 14);
    cancelButton.type = 'button';
    cancelButton.addEventListener('click', cancel);
    form.append(okButton, cancelButton);
    form.addEventListener('change', (event) => {
      if (event.target.name === 'port') showMapLabel();
    });

    root.append(bar, form);
    return root;
  }

  function form() { return dialog.querySelector('form'); }
  function control(name) { return form().elements.namedItem(name); }

  function checkGroup(name, value) {
    for (const input of form().querySelectorAll(`input[name="${name}"]`)) input.checked = Number(input.value) === value;
  }

  // An entry outside the list shows as an empty field, which OK reads as no entry.
  function selectEntry(list, index) {
    let empty = list.querySelector('option[value=""]');
    if (index >= 0 && index < list.options.length - (empty ? 1 : 0)) {
      if (empty) empty.remove();
      list.value = String(index);
    } else {
      if (!empty) {
        empty = new Option('', '');
        list.prepend(empty);
      }
      list.value = '';
    }
  }

  function checkedPort() {
    const input = form().querySelector('input[name="port"]:checked');
    return input ? Number(input.value) : 2;  // OK takes Com2 when none is checked
  }

  function showMapLabel() {
    dialog.querySelector('.setup-map-label').textContent = `Device for Com${checkedPort()}:`;
  }

  function fill(setup) {
    for (const name of ['port', 'speed', 'type', 'device', 'action']) checkGroup(name, setup[name]);
    selectEntry(control('rings'), setup.rings);
    selectEntry(control('delay'), setup.delay);
    for (const [name] of EDITS) control(name).value = setup[name];
    const map = control('map');
    map.textContent = '';
    map.append(new Option('(as it is)', ''));
    for (const path of setup.serialDevices) map.append(new Option(path, path));
    map.value = setup.serialDevices.includes(setup.map) ? setup.map : '';
    const count = setup.serialDevices.length;
    dialog.querySelector('.setup-found').textContent =
      count === 0 ? 'No serial device found' : `${count} serial device${count === 1 ? '' : 's'} found`;
    showMapLabel();
  }

  function showDevices(setup) {
    for (const port of setup.ports) {
      const device = dialog.querySelector(`.setup-device[data-com="${port.com}"]`);
      const mark = dialog.querySelector(`.setup-mark[data-com="${port.com}"]`);
      if (!device || !mark) continue;
      device.textContent = port.device;
      device.title = port.device;
      mark.textContent = port.exists ? '\u2713' : '\u2717';
      mark.title = port.exists ? 'The device is there' : 'There is no such device';
      mark.classList.toggle('missing', !port.exists);
    }
  }

  function setBusy(busy) {
    for (const button of dialog.querySelectorAll('.setup-button')) button.disabled = busy;
  }

  function answer(data) {
    setBusy(true);
    post(COMMAND_SETUP_ANSWER, data).then((ok) => {
      if (!ok && dialog) setBusy(false);
    });
  }

  function chosen(name) {
    const input = form().querySelector(`input[name="${name}"]:checked`);
    return input ? Number(input.value) : null;
  }
  function entry(name) {
    const value = control(name).value;
    return value === '' ? null : Number(value);
  }

  function ok() {
    if (!dialog || dialog.querySelector('.setup-button').disabled) return;
    answer(JSON.stringify({
      port: chosen('port'), speed: chosen('speed'), type: chosen('type'), device: chosen('device'),
      action: chosen('action'), rings: entry('rings'), delay: entry('delay'),
      init: control('init').value, phone: control('phone').value, pager: control('pager').value,
      security: control('security').value, map: control('map').value,
    }));
  }

  function cancel() {
    if (dialog) answer('cancel');
  }

  function render(state) {
    const setup = state.setup;
    if (!setup) {
      if (dialog) dialog.remove();
      dialog = null;
      shownRevision = -1;
      return;
    }
    const opened = !dialog;
    if (opened) {
      dialog = build();
      $('desktop').append(dialog);
    }
    if (setup.revision !== shownRevision) {
      shownRevision = setup.revision;
      fill(setup);
    }
    showDevices(setup);
    // The buttons wait while the program's question about the values is open.
    setBusy((state.boxes || []).some((b) => b.modal));
    if (opened) {
      const first = form().querySelector('input[name="port"]:checked') || form().querySelector('.setup-button');
      first.focus();
    }
  }

  // The dialog has the keyboard while it is open: Enter is OK, Escape is Cancel.
  function key(event) {
    if (!dialog) return false;
    if (event.key === 'Escape') {
      event.preventDefault();
      cancel();
    } else if (event.key === 'Enter' && event.target.tagName !== 'SELECT' && event.target.tagName !== 'BUTTON') {
      event.preventDefault();
      ok();
    }
    return true;
  }

  pageParts.push({ render, key, open: () => dialog !== null });
}());
