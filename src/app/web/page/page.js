// The assistant's page on the main thread: draws the controls of template 102 where the
// program (PageDialog.cpp, on its own thread) says, hands the clicks over, and shows the boxes.
// It never waits for the program.
var Vantro = Vantro || {};

(function () {
  if (typeof document === 'undefined') return;  // the program's workers load this script too

  // Dialog units in pixels, for the template's font (8 point, 6 x 13 pixels a base unit).
  var DU_X = 1.5, DU_Y = 1.625;
  var IDOK = 1, IDCANCEL = 2;
  var ID_STATUS = 1004, ID_PATH = 1005, ID_PROGRESS = 1008;

  var dialog, aboutBox, menu, fileInput, controls = {}, steps = [], blocked = 0;

  function px(el, x, y, w, h) {
    el.style.left = x * DU_X + 'px';
    el.style.top = y * DU_Y + 'px';
    if (w !== undefined) el.style.width = w * DU_X + 'px';
    if (h !== undefined) el.style.height = h * DU_Y + 'px';
  }

  function send(id) {
    if (!blocked) _vantro_page_command(id);
  }

  function reply(value) {
    var n = lengthBytesUTF8(value) + 1;
    var p = _malloc(n);
    stringToUTF8(value, p, n);
    _vantro_page_reply(p);
    _free(p);
  }

  // A modal box over the page: the caption, the text and its buttons.
  function modal(caption, build) {
    var shade = document.createElement('div');
    shade.className = 'shade';
    var box = document.createElement('div');
    box.className = 'box';
    box.setAttribute('role', 'dialog');
    box.setAttribute('aria-modal', 'true');
    var title = document.createElement('div');
    title.className = 'caption';
    title.textContent = caption;
    box.appendChild(title);
    build(box, function () { shade.remove(); --blocked; });
    shade.appendChild(box);
    document.body.appendChild(shade);
    ++blocked;
    var first = box.querySelector('button');
    if (first) first.focus();
  }

  Vantro.page = {
    begin: function (caption, width, height) {
      document.title = caption;
      dialog = document.getElementById('assistant');
      dialog.querySelector('.caption-text').textContent = caption;
      var body = dialog.querySelector('.client');
      body.style.width = width * DU_X + 'px';
      body.style.height = height * DU_Y + 'px';
      menu = document.getElementById('menu');
      fileInput = document.getElementById('hex-file');
    },

    control: function (kind, text, id, x, y, w, h, visible) {
      var body = dialog.querySelector('.client'), el;
      switch (kind) {
        case 'Button': case 'DefaultButton':
          el = document.createElement('button');
          el.textContent = text;
          if (kind === 'DefaultButton') el.className = 'default';
          el.addEventListener('click', function () { send(id); });
          break;
        case 'Combo':
          el = document.createElement('select');
          h = 12;  // closed; the template's height is the dropped list's
          break;
        case 'Edit':
          el = document.createElement('input');
          el.readOnly = true;
          break;
        case 'Progress':
          el = document.createElement('progress');
          el.max = 1;
          el.value = 0;
          break;
        case 'Bitmap':
          el = document.createElement('img');
          el.src = 'connections.png';
          el.alt = 'A USB to 5-pin MIDI interface between the computer and the unit\'s MIDI IN and OUT, and the unit\'s mains adapter';
          w = h = undefined;  // the picture's own size
          break;
        case 'EtchedLine': case 'BlackRule':
          el = document.createElement('div');
          el.className = kind === 'EtchedLine' ? 'etched' : 'rule';
          break;
        default:  // Text, Step
          el = document.createElement('div');
          el.className = h <= 8 ? 'text line' : 'text';  // one line in the template stays one
          el.textContent = text;
          if (kind === 'Step') steps.push(el);
      }
      el.classList.add('control');
      if (id > 0) el.id = 'control' + id;
      if (!visible) el.hidden = true;
      px(el, x, y, w, h);
      body.appendChild(el);
      if (id > 0) controls[id] = el;
    },

    aboutBox: function (caption, width, height) {
      aboutBox = {caption: caption, width: width, height: height, controls: []};
    },
    aboutControl: function (kind, text, id, x, y, w, h) {
      aboutBox.controls.push({kind: kind, text: text, id: id, x: x, y: y, w: w, h: h});
    },

    ready: function () {
      document.body.classList.add('ready');
      document.addEventListener('keydown', function (e) {
        if (blocked) return;
        if (e.key === 'Escape') send(IDCANCEL);
        else if (e.key === 'Enter' && !(document.activeElement instanceof HTMLButtonElement))
          send(IDOK);
      });
      dialog.addEventListener('contextmenu', function (e) {
        e.preventDefault();
        Vantro.page.openMenu(e.clientX, e.clientY);
      });
      dialog.querySelector('.caption-icon').addEventListener('click', function (e) {
        var r = e.target.getBoundingClientRect();
        Vantro.page.openMenu(r.left, r.bottom);
      });
      document.addEventListener('click', function (e) {
        if (!menu.contains(e.target) && !e.target.classList.contains('caption-icon'))
          menu.hidden = true;
      });
    },

    openMenu: function (x, y) {
      if (blocked || !menu.children.length) return;
      menu.style.left = x + 'px';
      menu.style.top = y + 'px';
      menu.hidden = false;
    },

    ended: function () {
      document.body.classList.add('ended');
      document.getElementById('ended').hidden = false;
    },

    ports: function (id, names, selected, hint) {
      var list = controls[id];
      list.textContent = '';
      names.split('\n').forEach(function (name, i, all) {
        if (i === all.length - 1 && name === '') return;
        var option = document.createElement('option');
        option.textContent = name;
        option.title = name;
        list.appendChild(option);
      });
      list.selectedIndex = selected;
      list.title = list.options.length ? '' : hint;
      list.dataset.hint = hint;
    },

    selected: function (id) { return controls[id].selectedIndex; },
    text: function (id, value) { controls[id].value = value; },
    progress: function (done, total) {
      var bar = controls[ID_PROGRESS];
      bar.max = Math.max(total, 1);
      bar.value = done;
    },
    enable: function (id, on) { controls[id].disabled = !on; },
    focus: function (id) { controls[id].focus(); },
    busy: function (on) { document.body.classList.toggle('busy', !!on); },
    boldSteps: function () { steps.forEach(function (s) { s.classList.add('bold'); }); },
    icons: function () {},
    printed: function (text) { console.log(text); },

    menuSeparator: function () {
      menu.appendChild(document.createElement('hr'));
    },
    menuItem: function (id, text) {
      var item = document.createElement('button');
      var amp = text.indexOf('&');
      item.textContent = amp >= 0 ? text.slice(0, amp) + text.slice(amp + 1) : text;
      item.addEventListener('click', function () {
        menu.hidden = true;
        if (!blocked) _vantro_page_sys_command(id);
      });
      menu.appendChild(item);
    },

    // kind 0: OK; 1: Yes and No; 2: Yes and No with No the default.
    box: function (text, kind) {
      modal('VANTRO', function (box, close) {
        var body = document.createElement('div');
        body.className = 'message';
        body.textContent = text.replace(/\r\n/g, '\n');
        box.appendChild(body);
        var row = document.createElement('div');
        row.className = 'buttons';
        (kind ? ['Yes', 'No'] : ['OK']).forEach(function (label) {
          var b = document.createElement('button');
          b.textContent = label;
          b.addEventListener('click', function () { close(); reply(label.toLowerCase()); });
          row.appendChild(b);
        });
        box.appendChild(row);
      });
      if (kind === 2) document.querySelector('.shade:last-child .buttons button:last-child').focus();
    },

    about: function () {
      modal(aboutBox.caption, function (box, close) {
        var body = document.createElement('div');
        body.className = 'about';
        body.style.width = aboutBox.width * DU_X + 'px';
        body.style.height = aboutBox.height * DU_Y + 'px';
        aboutBox.controls.forEach(function (c) {
          var el;
          if (c.kind === 'Icon') {
            el = document.createElement('img');
            el.src = 'icon-32.png';
            el.alt = '';
          } else if (c.kind === 'DefaultButton') {
            el = document.createElement('button');
            el.textContent = c.text;
            el.addEventListener('click', function () { close(); reply('ok'); });
          } else {
            el = document.createElement('div');
            el.textContent = c.text;
          }
          el.classList.add('control');
          px(el, c.x, c.y, c.kind === 'Icon' ? undefined : c.w, c.kind === 'Icon' ? undefined : c.h);
          body.appendChild(el);
        });
        box.appendChild(body);
      });
    },

    // The file chooser (the browser's): the file is read here, into the program's files;
    // nothing leaves the page.
    chooseFile: function () {
      fileInput.value = '';
      var done = false;
      var finish = function (value) {
        if (done) return;
        done = true;
        fileInput.onchange = fileInput.oncancel = null;
        reply(value);
      };
      fileInput.onchange = function () {
        var file = fileInput.files[0];
        if (!file) { finish(''); return; }
        file.arrayBuffer().then(function (data) {
          FS.writeFile('/files/' + file.name, new Uint8Array(data));
          finish(file.name);
        }, function () { finish(''); });
      };
      fileInput.oncancel = function () { finish(''); };
      fileInput.click();
    },

    // What the program tells first when the browser gave no Web MIDI (0 when it did).
    midiProblemNotice: function () {
      var midi = Module.vantroMidi;
      if (midi.access) return 0;
      return midi.text('The page cannot reach MIDI devices: ' + midi.problem + '.\n\n' +
          'The VANTRO unit can be upgraded from this page in Chrome or Edge (on Windows, macOS, ' +
          'Linux or ChromeOS) once the page may use MIDI devices with System Exclusive ' +
          'messages, which the unit\'s bootloader speaks. Safari has no Web MIDI, and Firefox ' +
          'offers it only through its site-permission add-on. Until then the page works with ' +
          'the simulated unit (add ?simulated-unit to its address).');
    }
  };

  // The page's query is the program's command line: ?simulated-unit&sim-fault=max-sysex:100
  // runs it as --simulated-unit --sim-fault max-sysex:100.
  var args = [];
  new URLSearchParams(location.search).forEach(function (value, key) {
    args.push('--' + key);
    if (value !== '') args.push(value);
  });
  Module.arguments = args;
  Module.preRun = [].concat(Module.preRun || [], [function () {
    FS.mkdir('/files');
    FS.chdir('/files');
  }]);
})();
