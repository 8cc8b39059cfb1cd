// Checks the Web MIDI stand-in, the static server and the process bridge in
// Debian's Chromium.  Run: tests/web/run-standin-test.sh
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { mkdir, mkdtemp, rm, symlink, writeFile } from 'node:fs/promises';
import http from 'node:http';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { launchChromium } from './browser.mjs';
import { startServer } from '../../scripts/serve-web.mjs';
import { bridgeUnit } from './unit-bridge.mjs';

const here = path.dirname(fileURLToPath(import.meta.url));
const standIn = path.join(here, 'webmidi-standin.js');

const PORTS = [
  { id: 'unit-in', name: 'VANTRO Unit', manufacturer: 'Test', type: 'input' },
  { id: 'unit-out', name: 'VANTRO Unit', manufacturer: 'Test', type: 'output' },
  { id: 'synth-out', name: 'Other Synth', manufacturer: 'Test', type: 'output' },
];

let server;
let context;
const bridges = []; // closed in after() too, so a failed test leaves no process behind
const WAIT = { timeout: 10000 };

before(async () => {
  server = await startServer({ root: path.join(here, 'fixtures') });
  context = await launchChromium();
});

after(async () => {
  await Promise.all(bridges.map((bridge) => bridge.close()));
  await context?.close();
  await server?.close();
});

// Polls for a condition the test waits on, for at most WAIT.timeout.
async function until(condition) {
  const end = Date.now() + WAIT.timeout;
  while (!condition()) {
    if (Date.now() > end) throw new Error(`gave up waiting for ${condition}`);
    await new Promise((resolve) => setTimeout(resolve, 5));
  }
}

async function bridge(page, command, options) {
  const b = await bridgeUnit(page, command, options);
  bridges.push(b);
  return b;
}

async function openPage(config) {
  const page = await context.newPage();
  await page.addInitScript({ path: standIn });
  await page.addInitScript((c) => window.__webMidiStandIn.configure(c), config);
  await page.goto(server.url + 'standin-page.html');
  await page.evaluate(() => app.ready);
  return page;
}

test('stand-in lists ports, checks sends and models the wire like a browser', async () => {
  const page = await openPage({ permission: 'granted', ports: PORTS });
  try {
    assert.equal(await page.evaluate(() => crossOriginIsolated), true, 'COOP/COEP headers make the page isolated');

    // Ports through the maps.
    const listed = await page.evaluate(() => {
      const { inputs, outputs } = app.access;
      const each = [];
      outputs.forEach((port, key, map) => each.push([key, port.name, map === outputs]));
      return {
        sysex: app.access.sysexEnabled,
        sizes: [inputs.size, outputs.size],
        inputKeys: [...inputs.keys()],
        outputIds: [...outputs.values()].map((p) => p.id),
        iterated: [...outputs].map(([k, p]) => k === p.id && p.type),
        entries: [...inputs.entries()].map(([k, p]) => [k, p.name, p.manufacturer, p.state, p.connection]),
        each,
        has: [inputs.has('unit-in'), inputs.has('unit-out')],
        get: outputs.get('unit-out') === outputs.get('unit-out') && outputs.get('nope') === undefined,
        isInput: inputs.get('unit-in') instanceof MIDIInput && inputs.get('unit-in') instanceof MIDIPort,
      };
    });
    assert.deepEqual(listed, {
      sysex: true,
      sizes: [1, 2],
      inputKeys: ['unit-in'],
      outputIds: ['unit-out', 'synth-out'],
      iterated: ['output', 'output'],
      entries: [['unit-in', 'VANTRO Unit', 'Test', 'connected', 'closed']],
      each: [
        ['unit-out', 'VANTRO Unit', true],
        ['synth-out', 'Other Synth', true],
      ],
      has: [true, false],
      get: true,
      isInput: true,
    });

    // Refused SysEx permission rejects; without SysEx the request is granted
    // but SysEx sends are refused.
    const refused = await page.evaluate(async () => {
      __webMidiStandIn.permission = 'denied';
      const error = await navigator.requestMIDIAccess({ sysex: true }).then(
        () => null,
        (e) => ({ isDOMException: e instanceof DOMException, name: e.name }),
      );
      const plain = await navigator.requestMIDIAccess();
      let sysexSend = null;
      try {
        plain.outputs.get('unit-out').send([0xf0, 0x7d, 0xf7]);
      } catch (e) {
        sysexSend = e.name;
      }
      return { error, sysexEnabled: plain.sysexEnabled, sysexSend };
    });
    assert.deepEqual(refused, {
      error: { isDOMException: true, name: 'NotAllowedError' },
      sysexEnabled: false,
      sysexSend: 'InvalidAccessError',
    });

    // A SysEx with a timestamp 50 ms ahead leaves no earlier than that.
    const timed = await page.evaluate(
      () =>
        new Promise((resolve) => {
          const stop = __webMidiStandIn.onSend((id, bytes, time) => {
            stop();
            resolve({ id, bytes: Array.from(bytes), early: due - performance.now(), stamped: time - due });
          });
          const due = performance.now() + 50;
          app.access.outputs.get('unit-out').send([0xf0, 0x7d, 0x01, 0x02, 0xf7], due);
        }),
    );
    assert.equal(timed.id, 'unit-out');
    assert.deepEqual(timed.bytes, [0xf0, 0x7d, 0x01, 0x02, 0xf7]);
    assert.ok(timed.early <= 0, `delivered ${timed.early} ms before its timestamp`);
    assert.ok(timed.stamped >= 0);

    // Bad data throws TypeError, and is recorded even if the page hides it.
    const rejected = await page.evaluate(() => {
      const out = app.access.outputs.get('unit-out');
      const names = [];
      for (const data of [
        [0x90, 0x3c, 0x64, 0x3e, 0x64], // running status
        [0xf0, 0x7d, 0x01, 0x02], // SysEx without f7
        [0x90, 0x3c], // incomplete
      ]) {
        try {
          out.send(data);
          names.push('sent');
        } catch (e) {
          names.push(e.constructor.name);
        }
      }
      return names;
    });
    assert.deepEqual(rejected, ['TypeError', 'TypeError', 'TypeError']);

    // With a wire of 31,250 baud two 100-byte messages need 64 ms.
    const paced = await page.evaluate(
      () =>
        new Promise((resolve) => {
          __webMidiStandIn.setBaud('synth-out', 31250);
          const sysex = [0xf0, ...new Array(98).fill(0x11), 0xf7];
          const times = [];
          const stop = __webMidiStandIn.onSend((id, bytes, time) => {
            if (id !== 'synth-out') return;
            times.push(performance.now() - start);
            if (times.length === 2) {
              stop();
              resolve(times);
            }
          });
          const start = performance.now();
          const out = app.access.outputs.get('synth-out');
          out.send(sysex);
          out.send(sysex);
        }),
    );
    assert.ok(paced[0] >= 32 && paced[1] >= 64, `paced sends left at ${paced} ms`);

    // A byte stream into the input arrives as one event per message.
    await page.evaluate(() => app.listen('unit-in'));
    await page.waitForFunction(() => app.access.inputs.get('unit-in').connection === 'open', undefined, WAIT);
    const delivered = await page.evaluate(() =>
      __webMidiStandIn.receive('unit-in', [0x90, 0x3c, 0x64, 0x3e, 0x00, 0xf0, 0x7d, 0x01, 0xf8, 0x02, 0xf7, 0xc0, 0x05]),
    );
    assert.equal(delivered, 5);
    const messages = await page.evaluate(() => app.messages.map((m) => m.data));
    assert.deepEqual(messages, [
      [0x90, 0x3c, 0x64],
      [0x90, 0x3e, 0x00], // running status on input is expanded
      [0xf8], // real-time byte inside the SysEx comes out at once
      [0xf0, 0x7d, 0x01, 0x02, 0xf7],
      [0xc0, 0x05],
    ]);

    // The device goes away: state changes reach the page, sends then throw.
    const gone = await page.evaluate(async () => {
      const out = app.access.outputs.get('unit-out');
      const portEvents = [];
      out.onstatechange = (e) => portEvents.push(e.port.state);
      app.stateChanges.length = 0;
      __webMidiStandIn.disconnect('unit-out');
      let thrown = null;
      try {
        out.send([0x90, 0x3c, 0x64]);
      } catch (e) {
        thrown = e.name;
      }
      return {
        changes: app.stateChanges.slice(),
        portEvents,
        thrown,
        listed: app.access.outputs.has('unit-out'),
      };
    });
    assert.deepEqual(gone.changes, [
      { id: 'unit-in', state: 'disconnected', connection: 'pending' },
      { id: 'unit-out', state: 'disconnected', connection: 'pending' },
    ]);
    assert.deepEqual(gone.portEvents, ['disconnected']);
    assert.equal(gone.thrown, 'InvalidStateError');
    assert.equal(gone.listed, false);

    // Every refused use is on record.
    const violations = await page.evaluate(() => __webMidiStandIn.violations());
    assert.equal(violations.length, 5, violations.join('\n'));
    assert.match(violations[0], /System Exclusive message without sysex access/);
    assert.match(violations[1], /running status/);
    assert.match(violations[2], /no terminating f7/);
    assert.match(violations[3], /incomplete/);
    assert.match(violations[4], /disconnected/);
  } finally {
    await page.close();
  }
});

test('bridge carries bytes to a process and back, and reports its end', async () => {
  const page = await openPage({ permission: 'granted', ports: PORTS });
  try {
    const echo = await bridge(page, [process.execPath, '-e', 'process.stdin.pipe(process.stdout)'], {
      input: 'unit-in',
      output: 'unit-out',
    });
    await page.evaluate(() => app.listen('unit-in'));
    await page.evaluate(() => app.access.outputs.get('unit-out').send([0xf0, 0x7d, 0x10, 0x20, 0x30, 0xf7]));
    await page.waitForFunction(() => app.messages.length > 0, undefined, WAIT);
    assert.deepEqual(await page.evaluate(() => app.messages.map((m) => m.data)), [[0xf0, 0x7d, 0x10, 0x20, 0x30, 0xf7]]);
    const closed = await echo.close();
    assert.equal(closed.killed, false);
    assert.ok(closed.code === 0 || closed.signal === 'SIGTERM', JSON.stringify(closed));
    assert.deepEqual(closed.errors, []);

    // A process that dies is reported, and bytes for it are not lost silently.
    const dying = await bridge(page, [process.execPath, '-e', 'process.exit(3)'], {
      input: 'unit-in',
      output: 'synth-out',
    });
    assert.deepEqual(await dying.exited, { code: 3, signal: null });
    await page.evaluate(() => app.access.outputs.get('synth-out').send([0xfe]));
    await until(() => dying.errors.length > 0);
    const ended = await dying.close();
    assert.equal(ended.code, 3);
    assert.equal(ended.errors.length, 1, ended.errors.join('\n'));
    assert.match(ended.errors[0], /after it exited/);
  } finally {
    await page.close();
  }
});

test('server keeps to its folder and labels what it serves', async () => {
  const root = await mkdtemp(path.join(os.tmpdir(), 'serve-root-'));
  const outside = await mkdtemp(path.join(os.tmpdir(), 'serve-outside-'));
  const own = await startServer({ root: path.join(root) });
  try {
    await mkdir(path.join(root, 'app'));
    await writeFile(path.join(root, 'app', 'unit.wasm'), Buffer.from([0, 0x61, 0x73, 0x6d]));
    await writeFile(path.join(outside, 'secret.txt'), 'secret');
    await symlink(outside, path.join(root, 'app', 'link'));
    // Raw request paths, not normalised by a URL parser on the way.
    const get = (p) =>
      new Promise((resolve, reject) => {
        http
          .get({ host: '127.0.0.1', port: own.port, path: p }, (res) => {
            res.resume();
            res.on('end', () => resolve({ status: res.statusCode, headers: res.headers }));
          })
          .on('error', reject);
      });
    const wasm = await get('/app/unit.wasm');
    assert.equal(wasm.status, 200);
    assert.equal(wasm.headers['content-type'], 'application/wasm');
    assert.equal(wasm.headers['cross-origin-embedder-policy'], 'require-corp');
    assert.equal(wasm.headers['cross-origin-opener-policy'], 'same-origin');
    for (const p of ['/../' + path.basename(outside) + '/secret.txt', '/app/%2e%2e/%2e%2e/' + path.basename(outside) + '/secret.txt', '/app/link/secret.txt']) {
      const refused = await get(p);
      assert.ok(refused.status === 403 || refused.status === 404, `${p}: ${refused.status}`);
    }
  } finally {
    await own.close();
    await rm(root, { recursive: true, force: true });
    await rm(outside, { recursive: true, force: true });
  }
});
