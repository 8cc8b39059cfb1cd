// The page's side of the Web MIDI backend (WebMidiBackend.cpp), on the main thread only: the
// one MIDIAccess, the ports the program has open (by handle), and what the browser tells.
var vantroMidiOnMainThread = typeof window !== 'undefined' && typeof navigator !== 'undefined';

Module.vantroMidi = {
  access: null,
  problem: '',
  handles: new Map(),

  // Asks for MIDI with System Exclusive messages; settles (never rejects) with what came of it.
  start: function () {
    var self = this;
    if (!navigator.requestMIDIAccess) {
      self.problem = 'this browser has no Web MIDI';
      return Promise.resolve();
    }
    return navigator.requestMIDIAccess({sysex: true}).then(function (access) {
      self.access = access;
      access.addEventListener('statechange', function (e) { self.changed(e.port); });
    }, function (e) {
      self.problem = (e && e.name === 'NotAllowedError')
          ? 'the permission to use MIDI devices with System Exclusive messages was refused'
          : 'Web MIDI did not start: ' + String((e && e.message) || e).replace(/\.$/, '');
    });
  },

  text: function (s) {
    var n = lengthBytesUTF8(s) + 1;
    var p = _malloc(n);
    stringToUTF8(s, p, n);
    return p;
  },

  map: function (kind) {
    return kind ? this.access.outputs : this.access.inputs;
  },

  // "id\tname\n" for each connected port of the kind (0: inputs, 1: outputs).
  portsText: function (kind) {
    var out = '';
    var clean = function (s) { return String(s || '').replace(/[\t\n\r]/g, ' '); };
    if (this.access) {
      this.map(kind).forEach(function (port) {
        if (port.state === 'connected')
          out += clean(port.id) + '\t' + clean(port.name) + '\n';
      });
    }
    return this.text(out);
  },

  // 0 when open; otherwise why not, as a text for the program.
  open: function (kind, handle, id) {
    var port = this.access ? this.map(kind).get(id) : undefined;
    if (!port || port.state !== 'connected')
      return this.text('it is no longer connected.');
    var self = this;
    this.handles.set(handle, port);
    if (kind === 0) {
      port.onmidimessage = function (e) {
        if (!self.handles.has(handle)) return;
        var data = e.data;
        var p = _malloc(data.length);
        HEAPU8.set(data, p);
        _vantro_webmidi_received(handle, p, data.length);
        _free(p);
      };
    }
    port.open().catch(function () {
      if (self.handles.has(handle)) _vantro_webmidi_gone(handle);
    });
    return 0;
  },

  close: function (handle) {
    var port = this.handles.get(handle);
    if (!port) return;
    this.handles.delete(handle);
    var stillUsed = false;
    this.handles.forEach(function (p) { if (p === port) stillUsed = true; });
    if (port.type === 'input' && !stillUsed) port.onmidimessage = null;
    if (!stillUsed) port.close().catch(function () {});
  },

  // Sends the program's copy (p, n bytes) and frees it; a refusal fails the port with the
  // browser's words.
  send: function (handle, p, n) {
    var port = this.handles.get(handle);
    var data = HEAPU8.slice(p, p + n);  // a copy: the browser may not keep a view of the heap
    _free(p);
    if (!port) return;
    try {
      port.send(data);
    } catch (e) {
      var why = this.text('the browser refused the message: ' + ((e && e.message) || e));
      _vantro_webmidi_refused(handle, why);
      _free(why);
    }
  },

  problemText: function () {
    return this.text(this.problem || 'no Web MIDI');
  },

  // A port came, went or changed: an open one that has gone fails at once; the lists follow.
  changed: function (port) {
    if (port && port.state === 'disconnected') {
      this.handles.forEach(function (p, handle) { if (p === port) _vantro_webmidi_gone(handle); });
    }
    _vantro_webmidi_changed();
  }
};

// The program starts once the browser has answered (its port lists are there from the start).
if (vantroMidiOnMainThread) {
  Module.preRun = [].concat(Module.preRun || [], [function () {
    addRunDependency('webmidi');
    Module.vantroMidi.start().then(function () { removeRunDependency('webmidi'); });
  }]);
}
