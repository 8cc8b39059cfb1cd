// A stand-in for the browser's Web MIDI, injected before the page's own
// scripts (Playwright's page.addInitScript). It models the behaviour a page
// can rely on from a real browser, and it is strict: every use a browser
// would refuse throws the same exception here and is also written to a list
// of violations, so a test fails even when the page swallowed the exception.
//
// The far end (the test) drives it through window.__webMidiStandIn.
(function () {
  'use strict';

  if (window.__webMidiStandIn) return;

  // ---- the far end's view: devices, their ports and the wire --------------

  const violations = [];
  const warnings = [];
  const sendListeners = new Set();
  const devices = new Map(); // port id -> PortRecord
  const accesses = new Set(); // every MIDIAccess handed out
  let permission = 'granted'; // for requests with sysex
  let permissionWithoutSysex = 'granted';
  let seq = 0;

  function hex(bytes, max = 16) {
    const shown = Array.from(bytes.slice(0, max), (b) => b.toString(16).padStart(2, '0'));
    return shown.join(' ') + (bytes.length > max ? ` ... (${bytes.length} bytes)` : '');
  }

  function violation(text) {
    violations.push(text);
    return text;
  }

  function fail(ErrorType, name, text) {
    const message = violation(text);
    if (ErrorType === TypeError) return new TypeError(message);
    return new DOMException(message, name);
  }

  // Length of a message by its status byte; 0 for bytes that start none.
  function messageLength(status) {
    if (status < 0x80) return 0;
    if (status < 0xf0) return (status & 0xe0) === 0xc0 ? 2 : 3;
    switch (status) {
      case 0xf1:
      case 0xf3:
        return 2;
      case 0xf2:
        return 3;
      case 0xf6:
      case 0xf8:
      case 0xfa:
      case 0xfb:
      case 0xfc:
      case 0xfe:
      case 0xff:
        return 1;
      default:
        return 0; // f0 (variable), f4 f5 f7 f9 fd
    }
  }

  const isRealTime = (b) => b >= 0xf8 && b !== 0xf9 && b !== 0xfd;

  // Splits data handed to send() into messages; returns a reason string when
  // the data is not a sequence of complete messages.
  function splitOutgoing(bytes) {
    const messages = [];
    let i = 0;
    while (i < bytes.length) {
      const status = bytes[i];
      if (status < 0x80) {
        return {
          error:
            i === 0
              ? `data byte ${hex([status])} where a status byte must start the message (running status is not allowed)`
              : `data byte ${hex([status])} at offset ${i} follows a complete message (running status is not allowed)`,
        };
      }
      if (status === 0xf0) {
        let j = i + 1;
        while (j < bytes.length && bytes[j] !== 0xf7) {
          if (bytes[j] >= 0x80 && !isRealTime(bytes[j])) {
            return { error: `status byte ${hex([bytes[j]])} at offset ${j} inside a System Exclusive message` };
          }
          ++j;
        }
        if (j === bytes.length) return { error: `System Exclusive message from offset ${i} has no terminating f7` };
        messages.push(bytes.slice(i, j + 1));
        i = j + 1;
        continue;
      }
      const length = messageLength(status);
      if (length === 0) return { error: `byte ${hex([status])} at offset ${i} does not start a valid message` };
      if (i + length > bytes.length) return { error: `message ${hex(bytes.slice(i))} at offset ${i} is incomplete` };
      for (let k = 1; k < length; ++k) {
        if (bytes[i + k] >= 0x80) {
          return { error: `message at offset ${i} is incomplete: status byte ${hex([bytes[i + k]])} where a data byte belongs` };
        }
      }
      messages.push(bytes.slice(i, i + length));
      i += length;
    }
    if (messages.length === 0) return { error: 'no MIDI message in the data' };
    return { messages };
  }

  // Splits a byte stream from a device into messages the way a browser's
  // input does: real-time bytes at once, SysEx from f0 to f7, running status
  // expanded, anything broken dropped.
  class InputParser {
    constructor() {
      this.pending = [];
      this.running = 0;
      this.inSysEx = false;
      this.dropped = 0;
    }

    feed(bytes, emit) {
      for (const b of bytes) {
        if (b >= 0xf8) {
          if (isRealTime(b)) emit(Uint8Array.of(b));
          else ++this.dropped;
          continue;
        }
        if (this.inSysEx) {
          if (b < 0x80) {
            this.pending.push(b);
            continue;
          }
          if (b === 0xf7) {
            this.pending.push(b);
            emit(Uint8Array.from(this.pending));
            this.pending = [];
            this.inSysEx = false;
            continue;
          }
          // Another status byte cuts the SysEx short: it is lost.
          ++this.dropped;
          this.pending = [];
          this.inSysEx = false;
        }
        if (b >= 0x80) {
          if (this.pending.length) ++this.dropped;
          this.pending = [];
          if (b === 0xf0) {
            this.inSysEx = true;
            this.running = 0;
            this.pending = [b];
            continue;
          }
          const length = messageLength(b);
          this.running = b < 0xf0 ? b : 0;
          if (length === 0) {
            ++this.dropped;
            continue;
          }
          this.pending = [b];
        } else {
          if (this.pending.length === 0) {
            if (!this.running) {
              ++this.dropped;
              continue;
            }
            this.pending = [this.running];
          }
          this.pending.push(b);
        }
        if (this.pending.length === messageLength(this.pending[0])) {
          emit(Uint8Array.from(this.pending));
          this.pending = [];
        }
      }
    }
  }

  // One port of the system, shared by every MIDIAccess that shows it.
  class PortRecord {
    constructor(config) {
      if (!config || typeof config.id !== 'string' || !config.id) throw new TypeError('a port needs a string id');
      if (config.type !== 'input' && config.type !== 'output') {
        throw new TypeError(`port ${config.id}: type must be "input" or "output"`);
      }
      this.id = config.id;
      this.type = config.type;
      this.name = config.name ?? null;
      this.manufacturer = config.manufacturer ?? null;
      this.version = config.version ?? null;
      this.connected = config.connected !== false;
      this.busy = config.busy === true; // held exclusively by another program
      this.views = new Set(); // MIDIPort objects showing this port
      // Output side.
      this.queue = []; // {key, seq, bytes, view}
      this.baud = 0;
      this.wireFree = 0;
      this.inFlight = null; // {item, start, end}
      this.timer = 0;
      this.sent = [];
      // Input side.
      this.parser = new InputParser();
    }

    byteMs() {
      return this.baud ? 10000 / this.baud : 0;
    }

    schedule() {
      if (this.timer) clearTimeout(this.timer);
      this.timer = 0;
      let due = Infinity;
      if (this.inFlight) due = this.inFlight.end;
      else if (this.queue.length) due = this.queue[0].key;
      if (due === Infinity) return;
      const delay = Math.max(0, Math.ceil(due - performance.now()));
      this.timer = setTimeout(() => {
        this.timer = 0;
        this.pump();
      }, delay);
    }

    pump() {
      for (;;) {
        const now = performance.now();
        if (this.inFlight) {
          if (this.inFlight.end > now) break;
          const { item, end } = this.inFlight;
          this.inFlight = null;
          this.deliver(item, item.bytes, end);
          continue;
        }
        const next = this.queue[0];
        if (!next || next.key > now) break;
        if (!next.view.isOpenForSending()) break; // waits for the implicit open
        this.queue.shift();
        if (!this.baud) {
          this.deliver(next, next.bytes, now);
          continue;
        }
        const start = Math.max(next.key, this.wireFree);
        const end = start + next.bytes.length * this.byteMs();
        this.wireFree = end;
        this.inFlight = { item: next, start, end };
      }
      this.schedule();
      for (const view of this.views) view.settleDrains();
    }

    deliver(item, bytes, time) {
      this.sent.push({ data: Array.from(bytes), time });
      for (const listener of sendListeners) {
        try {
          listener(this.id, Uint8Array.from(bytes), time);
        } catch (e) {
          warnings.push(`onSend listener threw: ${e && e.message}`);
        }
      }
    }

    enqueue(view, messages, timestamp) {
      const key = Math.max(timestamp, performance.now());
      for (const bytes of messages) this.queue.push({ key, seq: ++seq, bytes, view });
      this.queue.sort((a, b) => a.key - b.key || a.seq - b.seq);
      this.pump();
    }

    // Drops what a view queued; with `onlyFuture`, only what is not yet due.
    // A SysEx caught half way on the wire is ended with f7 unless the device
    // is gone.
    dropQueued(view, onlyFuture) {
      const now = performance.now();
      this.queue = this.queue.filter((item) => item.view !== view || (onlyFuture && item.key <= now));
      if (!onlyFuture && this.inFlight && this.inFlight.item.view === view) {
        const { item, start } = this.inFlight;
        this.inFlight = null;
        if (!this.connected) {
          this.wireFree = now;
          this.schedule();
          return;
        }
        const onWire = Math.max(0, Math.min(item.bytes.length, Math.floor((now - start) / this.byteMs())));
        this.wireFree = now;
        if (onWire > 0) {
          const bytes = item.bytes.slice(0, onWire);
          if (bytes[0] === 0xf0 && bytes[bytes.length - 1] !== 0xf7) bytes.push(0xf7);
          this.deliver(item, bytes, now);
        }
      }
      this.schedule();
    }

    hasQueued(view) {
      return this.queue.some((item) => item.view === view) || (this.inFlight && this.inFlight.item.view === view);
    }
  }

  function portRecord(id) {
    const record = devices.get(id);
    if (!record) throw new Error(`no such port: ${id}`);
    return record;
  }

  // The ports of one device: those sharing the name of the given port.
  function deviceOf(id) {
    const record = portRecord(id);
    if (record.name === null) return [record];
    return [...devices.values()].filter((r) => r.name === record.name);
  }

  function setPorts(list) {
    if (!Array.isArray(list)) throw new TypeError('ports must be a list');
    devices.clear();
    for (const config of list) {
      const record = new PortRecord(config);
      if (devices.has(record.id)) throw new TypeError(`duplicate port id ${record.id}`);
      devices.set(record.id, record);
    }
  }

  // ---- event plumbing ------------------------------------------------------

  const handlerSlots = new WeakMap();

  // An on<type> attribute that behaves like a browser's event handler: it
  // keeps its place among the listeners when replaced.
  function defineHandler(proto, type, onSet) {
    Object.defineProperty(proto, 'on' + type, {
      configurable: true,
      enumerable: true,
      get() {
        const slots = handlerSlots.get(this);
        return (slots && slots[type] && slots[type].fn) || null;
      },
      set(value) {
        let slots = handlerSlots.get(this);
        if (!slots) handlerSlots.set(this, (slots = {}));
        const fn = typeof value === 'function' || (value && typeof value === 'object') ? value : null;
        if (!fn) {
          if (slots[type]) EventTarget.prototype.removeEventListener.call(this, type, slots[type].wrapper);
          slots[type] = null;
          return;
        }
        if (!slots[type]) {
          const slot = { fn, wrapper: null };
          slot.wrapper = function (event) {
            const f = slot.fn;
            return typeof f === 'function' ? f.call(this, event) : undefined;
          };
          slots[type] = slot;
          EventTarget.prototype.addEventListener.call(this, type, slot.wrapper);
        } else {
          slots[type].fn = fn;
        }
        if (onSet) onSet.call(this);
      },
    });
  }

  const construction = Symbol('standin');

  class MIDIConnectionEvent extends Event {
    #port;
    constructor(type, init = {}) {
      super(type, init);
      this.#port = init.port ?? null;
    }
    get port() {
      return this.#port;
    }
  }

  class MIDIMessageEvent extends Event {
    #data;
    constructor(type, init = {}) {
      super(type, init);
      this.#data = init.data ?? null;
    }
    get data() {
      return this.#data;
    }
  }

  // ---- maps ----------------------------------------------------------------

  class MIDIPortMapBase {
    #entries;
    constructor(token, entries) {
      if (token !== construction) throw fail(TypeError, '', 'Illegal constructor');
      this.#entries = entries; // () => [[id, port], ...] of connected ports
    }
    get size() {
      return this.#entries().length;
    }
    get(key) {
      const found = this.#entries().find(([id]) => id === String(key));
      return found ? found[1] : undefined;
    }
    has(key) {
      return this.#entries().some(([id]) => id === String(key));
    }
    keys() {
      return this.#entries().map(([id]) => id)[Symbol.iterator]();
    }
    values() {
      return this.#entries().map(([, port]) => port)[Symbol.iterator]();
    }
    entries() {
      return this.#entries()[Symbol.iterator]();
    }
    forEach(callback, thisArg) {
      if (typeof callback !== 'function') throw fail(TypeError, '', 'forEach needs a function');
      for (const [id, port] of this.#entries()) callback.call(thisArg, port, id, this);
    }
    [Symbol.iterator]() {
      return this.entries();
    }
  }
  class MIDIInputMap extends MIDIPortMapBase {}
  class MIDIOutputMap extends MIDIPortMapBase {}
  Object.defineProperty(MIDIInputMap.prototype, Symbol.toStringTag, { value: 'MIDIInputMap' });
  Object.defineProperty(MIDIOutputMap.prototype, Symbol.toStringTag, { value: 'MIDIOutputMap' });

  // ---- access and ports ----------------------------------------------------

  class MIDIAccess extends EventTarget {
    #sysex;
    #inputs;
    #outputs;
    #views = new Map(); // id -> MIDIPort
    constructor(token, sysex) {
      if (token !== construction) throw fail(TypeError, '', 'Illegal constructor');
      super();
      this.#sysex = sysex;
      for (const record of devices.values()) this.#views.set(record.id, this._makeView(record));
      const listed = (type) => () =>
        [...this.#views.values()].filter((p) => p.type === type && p._record.connected).map((p) => [p.id, p]);
      this.#inputs = new MIDIInputMap(construction, listed('input'));
      this.#outputs = new MIDIOutputMap(construction, listed('output'));
    }
    _makeView(record) {
      const view =
        record.type === 'input' ? new MIDIInput(construction, this, record) : new MIDIOutput(construction, this, record);
      record.views.add(view);
      return view;
    }
    get inputs() {
      return this.#inputs;
    }
    get outputs() {
      return this.#outputs;
    }
    get sysexEnabled() {
      return this.#sysex;
    }
  }
  defineHandler(MIDIAccess.prototype, 'statechange');

  class MIDIPort extends EventTarget {
    #access;
    #record;
    #connection = 'closed';
    #drains = [];
    constructor(token, access, record) {
      if (token !== construction) throw fail(TypeError, '', 'Illegal constructor');
      super();
      this.#access = access;
      this.#record = record;
    }
    get _record() {
      return this.#record;
    }
    get _access() {
      return this.#access;
    }
    get id() {
      return this.#record.id;
    }
    get manufacturer() {
      return this.#record.manufacturer;
    }
    get name() {
      return this.#record.name;
    }
    get type() {
      return this.#record.type;
    }
    get version() {
      return this.#record.version;
    }
    get state() {
      return this.#record.connected ? 'connected' : 'disconnected';
    }
    get connection() {
      return this.#connection;
    }

    // Events go to the port first, then to its MIDIAccess.
    _announce() {
      this.dispatchEvent(new MIDIConnectionEvent('statechange', { port: this }));
      this.#access.dispatchEvent(new MIDIConnectionEvent('statechange', { port: this }));
    }

    _setConnection(value, announce) {
      if (this.#connection === value) return;
      this.#connection = value;
      if (announce) this._announce();
    }

    // The steps of opening a port; returns false when the port is held by
    // another program.
    _openNow() {
      if (this.#connection === 'open' || this.#connection === 'pending') return true;
      if (!this.#record.connected) {
        this._setConnection('pending', true);
        return true;
      }
      if (this.#record.busy) return false;
      this._setConnection('open', true);
      if (this.#record.type === 'output') this.#record.pump();
      return true;
    }

    _implicitOpen() {
      if (this.#connection !== 'closed') return;
      setTimeout(() => {
        if (!this._openNow() && this.#record.type === 'output') this.#record.dropQueued(this, false);
      }, 0);
    }

    isOpenForSending() {
      return this.#connection === 'open';
    }

    settleDrains() {
      if (!this.#drains.length || this.#record.hasQueued(this)) return;
      const drains = this.#drains;
      this.#drains = [];
      for (const resolve of drains) resolve();
    }

    open() {
      return new Promise((resolve, reject) => {
        setTimeout(() => {
          if (this._openNow()) resolve(this);
          else reject(new DOMException(`port ${this.id} is in use by another program`, 'InvalidAccessError'));
        }, 0);
      });
    }

    close() {
      return new Promise((resolve) => {
        setTimeout(async () => {
          if (this.#connection === 'closed') return resolve(this);
          const record = this.#record;
          if (record.type === 'output') {
            if (!record.connected || this.#connection === 'pending') {
              record.dropQueued(this, false);
            } else {
              record.dropQueued(this, true);
              if (record.hasQueued(this)) await new Promise((done) => this.#drains.push(done));
            }
          }
          this._setConnection('closed', true);
          resolve(this);
        }, 0);
      });
    }

    // The device went away or came back.
    _deviceChanged() {
      const record = this.#record;
      if (!record.connected) {
        if (this.#connection === 'open') this.#connection = 'pending';
        if (record.type === 'output') record.dropQueued(this, false);
      } else if (this.#connection === 'pending') {
        this.#connection = record.busy ? 'closed' : 'open';
      }
      this._announce();
    }
  }
  defineHandler(MIDIPort.prototype, 'statechange');

  class MIDIInput extends MIDIPort {
    addEventListener(type, listener, options) {
      super.addEventListener(type, listener, options);
      if (String(type) === 'midimessage' && listener) this._implicitOpen();
    }
    _deliver(bytes) {
      if (this.connection !== 'open') return false;
      if (bytes[0] === 0xf0 && !this._access.sysexEnabled) return false;
      this.dispatchEvent(new MIDIMessageEvent('midimessage', { data: bytes }));
      return true;
    }
  }
  defineHandler(MIDIInput.prototype, 'midimessage', function () {
    this._implicitOpen();
  });

  function toOctet(value, index) {
    let x = Number(value); // throws for Symbol and BigInt as the binding does
    if (!Number.isInteger(x) || x < 0 || x > 255) {
      warnings.push(`send: element ${index} (${String(value)}) is not a byte; it is taken modulo 256`);
    }
    if (!Number.isFinite(x)) return 0;
    x = Math.trunc(x) % 256;
    return x < 0 ? x + 256 : x;
  }

  class MIDIOutput extends MIDIPort {
    send(data, timestamp = 0) {
      const where = `send on ${this.id}`;
      if (arguments.length < 1) throw fail(TypeError, '', `${where}: no data`);
      if (data === null || (typeof data !== 'object' && typeof data !== 'function') || !(Symbol.iterator in data)) {
        throw fail(TypeError, '', `${where}: data is not a sequence of bytes`);
      }
      let bytes;
      try {
        bytes = Array.from(data, toOctet);
      } catch (e) {
        throw fail(TypeError, '', `${where}: data is not a sequence of bytes (${e && e.message})`);
      }
      let when;
      try {
        when = timestamp === undefined ? 0 : Number(timestamp);
      } catch (e) {
        throw fail(TypeError, '', `${where}: timestamp is not a number`);
      }
      if (!Number.isFinite(when)) throw fail(TypeError, '', `${where}: timestamp ${String(timestamp)} is not finite`);
      const split = splitOutgoing(bytes);
      if (split.error) throw fail(TypeError, '', `${where}: ${split.error}`);
      if (!this._access.sysexEnabled && split.messages.some((m) => m[0] === 0xf0)) {
        throw fail(
          DOMException,
          'InvalidAccessError',
          `${where}: System Exclusive message without sysex access (${hex(bytes)})`,
        );
      }
      if (!this._record.connected) {
        throw fail(DOMException, 'InvalidStateError', `${where}: port is disconnected`);
      }
      this._implicitOpen();
      this._record.enqueue(this, split.messages, when);
    }

    clear() {
      this._record.dropQueued(this, false);
    }
  }

  // ---- entry point ---------------------------------------------------------

  function requestMIDIAccess(options = {}) {
    let sysex = false;
    let optionsError = null;
    if (options !== undefined && options !== null && typeof options !== 'object') {
      optionsError = fail(TypeError, '', 'requestMIDIAccess: options must be a dictionary');
    } else if (options) {
      sysex = Boolean(options.sysex);
    }
    return new Promise((resolve, reject) => {
      if (optionsError) return reject(optionsError);
      setTimeout(() => {
        const answer = sysex ? permission : permissionWithoutSysex;
        if (answer !== 'granted') {
          reject(
            new DOMException(
              sysex ? 'MIDI access with System Exclusive was refused' : 'MIDI access was refused',
              'NotAllowedError',
            ),
          );
          return;
        }
        const access = new MIDIAccess(construction, sysex);
        accesses.add(access);
        resolve(access);
      }, 0);
    });
  }

  function views(id) {
    return [...portRecord(id).views];
  }

  function setConnected(id, connected) {
    const changed = deviceOf(id).filter((r) => r.connected !== connected);
    for (const record of changed) record.connected = connected;
    for (const record of changed) for (const view of record.views) view._deviceChanged();
    return changed.map((r) => r.id);
  }

  if (window.isSecureContext) {
    Object.defineProperty(Navigator.prototype, 'requestMIDIAccess', {
      configurable: true,
      enumerable: true,
      writable: true,
      value: function requestMIDIAccessStandIn(options) {
        return requestMIDIAccess(options);
      },
    });
    const globals = {
      MIDIAccess,
      MIDIPort,
      MIDIInput,
      MIDIOutput,
      MIDIInputMap,
      MIDIOutputMap,
      MIDIMessageEvent,
      MIDIConnectionEvent,
    };
    for (const [name, value] of Object.entries(globals)) {
      Object.defineProperty(window, name, { configurable: true, writable: true, value });
    }

    // Permission queries for "midi" answer from the same configuration.
    if (navigator.permissions && navigator.permissions.query) {
      const nativeQuery = navigator.permissions.query.bind(navigator.permissions);
      navigator.permissions.query = function (descriptor) {
        if (descriptor && descriptor.name === 'midi') {
          const status = new EventTarget();
          const state = descriptor.sysex ? permission : permissionWithoutSysex;
          Object.defineProperties(status, {
            name: { value: 'midi' },
            state: { value: state === 'granted' ? 'granted' : 'denied' },
            onchange: { value: null, writable: true },
          });
          return Promise.resolve(status);
        }
        return nativeQuery(descriptor);
      };
    }
  }

  // ---- hooks for the test --------------------------------------------------

  window.__webMidiStandIn = {
    get permission() {
      return permission;
    },
    set permission(value) {
      if (value !== 'granted' && value !== 'denied') throw new TypeError('permission is "granted" or "denied"');
      permission = value;
    },
    get permissionWithoutSysex() {
      return permissionWithoutSysex;
    },
    set permissionWithoutSysex(value) {
      if (value !== 'granted' && value !== 'denied') throw new TypeError('permission is "granted" or "denied"');
      permissionWithoutSysex = value;
    },
    get ports() {
      return [...devices.values()].map((r) => ({
        id: r.id,
        name: r.name,
        manufacturer: r.manufacturer,
        type: r.type,
        version: r.version,
        state: r.connected ? 'connected' : 'disconnected',
      }));
    },
    set ports(list) {
      if (accesses.size) throw new Error('ports are set before the page asks for MIDI access');
      setPorts(list);
    },
    configure({ permission: p, permissionWithoutSysex: q, ports } = {}) {
      if (p !== undefined) this.permission = p;
      if (q !== undefined) this.permissionWithoutSysex = q;
      if (ports !== undefined) this.ports = ports;
    },
    onSend(callback) {
      if (typeof callback !== 'function') throw new TypeError('onSend needs a function');
      sendListeners.add(callback);
      return () => sendListeners.delete(callback);
    },
    setBaud(id, baud) {
      const record = portRecord(id);
      if (record.type !== 'output') throw new Error(`${id} is not an output`);
      if (!(baud >= 0) || !Number.isFinite(baud)) throw new TypeError('baud is a positive number, or 0 for no limit');
      record.baud = baud;
    },
    receive(id, bytes) {
      const record = portRecord(id);
      if (record.type !== 'input') throw new Error(`${id} is not an input`);
      let delivered = 0;
      if (!record.connected) return 0;
      record.parser.feed(Array.from(bytes, (b) => b & 0xff), (message) => {
        for (const view of record.views) if (view._deliver(message.slice())) ++delivered;
      });
      return delivered;
    },
    disconnect(id) {
      return setConnected(id, false);
    },
    connect(id) {
      return setConnected(id, true);
    },
    setBusy(id, busy) {
      portRecord(id).busy = Boolean(busy);
    },
    connection(id) {
      return views(id).map((v) => v.connection);
    },
    violations() {
      return violations.slice();
    },
    warnings() {
      return warnings.slice();
    },
    sent(id) {
      return portRecord(id).sent.map((s) => s.data);
    },
    sentLog(id) {
      return portRecord(id).sent.map((s) => ({ data: s.data.slice(), time: s.time }));
    },
    droppedInput(id) {
      return portRecord(id).parser.dropped;
    },
  };
})();
