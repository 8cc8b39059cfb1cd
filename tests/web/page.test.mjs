// The assistant's page in Debian's Chromium, its MIDI through the Web MIDI stand-in, whose one
// device is vantro-unit-sim at the other end of a pipe. Run: tests/web/run-page-tests.sh
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { execFile, spawnSync } from 'node:child_process';
import { mkdtemp, readFile, rm } from 'node:fs/promises';
import os from 'node:os';
import path from 'node:path';
import { promisify } from 'node:util';
import { fileURLToPath } from 'node:url';
import { launchChromium } from './browser.mjs';
import { startServer } from '../../scripts/serve-web.mjs';
import { bridgeUnit } from './unit-bridge.mjs';

const here = path.dirname(fileURLToPath(import.meta.url));
const need = (name) => {
  if (!process.env[name]) throw new Error(`${name} is not set (see run-page-tests.sh)`);
  return process.env[name];
};
const site = need('VANTRO_SITE');
const unitSim = need('VANTRO_UNIT_SIM');
const cli = need('VANTRO_CLI');
const example = need('VANTRO_EXAMPLE_HEX');

const PORTS = [
  { id: 'unit-in', name: 'UM-ONE', manufacturer: 'Roland', type: 'input' },
  { id: 'unit-out', name: 'UM-ONE', manufacturer: 'Roland', type: 'output' },
];
const ID = { quit: 1, in: 1000, out: 1001, verify: 1003, status: 1004, path: 1005, browse: 1006,
  upgrade: 1007, progress: 1008 };
// Longer than any wait of the page's own: only a fault ends a test this early.
const LONG = { timeout: 60000 };

let server, context, work;
const opened = [];

before(async () => {
  server = await startServer({ root: site });
  work = await mkdtemp(path.join(os.tmpdir(), 'vantro-page-'));
  context = await launchChromium({ viewport: { width: 1100, height: 560 } });
});

after(async () => {
  await Promise.all(opened.map((o) => o.bridge.close()));
  await context?.close();
  await server?.close();
  if (work) await rm(work, { recursive: true, force: true });
});

// A page with the stand-in's device bridged to a unit started with unitArgs.
async function openPage({ permission = 'granted', unitArgs = [], query = '', dump, ports = PORTS, noWebMidi = false } = {}) {
  const page = await context.newPage();
  await page.addInitScript({ path: path.join(here, 'webmidi-standin.js') });
  // A browser without Web MIDI (Safari): the stand-in goes again before the page runs.
  if (noWebMidi) await page.addInitScript(() => { delete Navigator.prototype.requestMIDIAccess; delete navigator.requestMIDIAccess; });
  await page.addInitScript(([permission, ports]) =>
    __webMidiStandIn.configure({ permission, ports }), [permission, ports]);
  const args = [unitSim, '--stdio', ...unitArgs];
  if (dump) args.push('--flash-out', dump);
  const bridge = await bridgeUnit(page, args, { input: 'unit-in', output: 'unit-out', stderr: 'pipe', socket: true });
  const o = { page, bridge };
  opened.push(o);
  const errors = [];
  page.on('pageerror', (e) => errors.push(e.message));
  if (process.env.VANTRO_PAGE_LOG) page.on('console', (m) => console.log('page:', m.text()));
  o.errors = errors;
  await page.goto(new URL(`index.html${query}`, server.url).href);
  await page.waitForSelector('body.ready', LONG);
  return o;
}

const control = (page, id) => page.locator(`#control${id}`);

// The text of the box on top, once one is up.
async function boxText(page) {
  const message = page.locator('.shade .message').last();
  await message.waitFor(LONG);
  return message.textContent();
}

async function answer(page, label) {
  await page.locator('.shade .buttons button', { hasText: label }).last().click();
}

async function verify(page) {
  await control(page, ID.verify).click();
  await page.waitForFunction((id) => document.getElementById(`control${id}`).value !== '', ID.status, LONG);
  return control(page, ID.status).inputValue();
}

async function browse(page, file) {
  const [chooser] = await Promise.all([page.waitForEvent('filechooser', LONG),
    control(page, ID.browse).click()]);
  await chooser.setFiles(file);
  await page.waitForFunction((id) => document.getElementById(`control${id}`).value !== '', ID.path, LONG);
}

async function violations(page) {
  return page.evaluate(() => __webMidiStandIn.violations());
}

// The flash the command-line tool leaves on its own simulated unit, from the same start.
async function flashAfterCliUpgrade() {
  const dump = path.join(work, 'reference.bin');
  await promisify(execFile)(cli, ['upgrade', '--simulated-unit', '--no', '--sim-flash-out', dump, example]);
  return readFile(dump);
}

test('the six steps: ports, Verify, Browse, Upgrade with the page answering, Quit; the flash is the file', async () => {
  const dump = path.join(work, 'page.bin');
  const { page, bridge, errors } = await openPage({ dump });
  assert.equal(await page.evaluate(() => crossOriginIsolated), true);
  for (const id of [ID.in, ID.out]) {
    assert.deepEqual(await control(page, id).locator('option').allTextContents(), ['UM-ONE']);
  }
  assert.equal(await verify(page), 'OK - BL V1.2, FW V3.4');
  await browse(page, example);
  assert.equal(await control(page, ID.path).inputValue(), path.basename(example));

  await control(page, ID.upgrade).click();
  await page.waitForFunction((id) => document.getElementById(`control${id}`).value > 0, ID.progress, LONG);
  // While the unit is being written the page still answers: its menu opens and closes.
  await page.locator('.caption-icon').click();
  await page.waitForSelector('#menu:not([hidden])', { timeout: 2000 });
  await page.locator('#menu button', { hasText: 'About VANTRO...' }).waitFor({ timeout: 2000 });
  await page.mouse.click(5, 540);
  await page.waitForSelector('#menu', { state: 'hidden', timeout: 2000 });

  const report = await boxText(page);
  assert.match(report, /^VANTRO Update is completed and OK!/);
  await answer(page, 'No');
  await page.locator('.caption-icon').click();
  await page.locator('#menu button', { hasText: 'About VANTRO...' }).click();
  await page.locator('.shade .about', { hasText: 'VANTRO, Version 1.1' }).waitFor(LONG);
  await page.locator('.shade .about button', { hasText: 'OK' }).click();
  await control(page, ID.quit).click();
  await page.waitForSelector('#ended:not([hidden])', LONG);
  assert.deepEqual(await violations(page), []);
  assert.deepEqual(errors, []);
  const status = await bridge.close();
  assert.equal(status.code, 0, JSON.stringify(status));
  assert.ok((await readFile(dump)).equals(await flashAfterCliUpgrade()), 'the unit holds what the CLI writes');
});

test('a device pulled during an upgrade is a port failure within 2 s, never a success', async () => {
  const { page } = await openPage({ unitArgs: ['--baud', '31250'] });
  assert.equal(await verify(page), 'OK - BL V1.2, FW V3.4');
  await browse(page, example);
  await control(page, ID.upgrade).click();
  await page.waitForFunction((id) => document.getElementById(`control${id}`).value > 2, ID.progress, LONG);
  const pulled = Date.now();
  await page.evaluate(() => __webMidiStandIn.disconnect('unit-out'));
  const told = await boxText(page);
  assert.ok(Date.now() - pulled < 2000, `told after ${Date.now() - pulled} ms`);
  assert.match(told, /The MIDI port "UM-ONE" is gone/);
  for (let texts = [told]; ;) {
    await answer(page, 'OK');
    if (await page.locator('.shade').count() === 0) break;
    texts.push(await boxText(page));
    assert.doesNotMatch(texts.at(-1), /completed and OK/);
  }
  assert.deepEqual(await violations(page), []);
});

test('a device plugged in or pulled out shows in the lists', async () => {
  const other = { id: 'synth-out', name: 'Synth', manufacturer: 'Other', type: 'output', connected: false };
  const { page } = await openPage({ ports: [...PORTS, other] });
  const outs = () => control(page, ID.out).locator('option').allTextContents();
  assert.deepEqual(await outs(), ['UM-ONE']);
  await page.evaluate(() => __webMidiStandIn.connect('synth-out'));
  await page.waitForFunction((id) => document.getElementById(`control${id}`).options.length === 2, ID.out, LONG);
  assert.deepEqual(await outs(), ['UM-ONE', 'Synth']);
  await page.evaluate(() => __webMidiStandIn.disconnect('synth-out'));
  await page.waitForFunction((id) => document.getElementById(`control${id}`).options.length === 1, ID.out, LONG);
  assert.deepEqual(await violations(page), []);
});

test('MIDI refused, or no Web MIDI: the page says which browsers work and stays usable with the simulated unit', async () => {
  const { page } = await openPage({ permission: 'denied', query: '?simulated-unit' });
  const told = await boxText(page);
  assert.match(told, /permission to use MIDI devices with System Exclusive messages was refused/);
  assert.match(told, /Chrome or Edge/);
  await answer(page, 'OK');
  assert.deepEqual(await control(page, ID.out).locator('option').allTextContents(), ['VANTRO simulated unit']);
  assert.equal(await verify(page), 'OK - BL V1.2, FW V3.4');

  const safari = (await openPage({ noWebMidi: true })).page;
  assert.match(await boxText(safari), /^The page cannot reach MIDI devices: this browser has no Web MIDI\./);
});

test('a link that loses long replies is found before anything is erased', async () => {
  const dump = path.join(work, 'max-sysex.bin');
  const { page, bridge } = await openPage({ unitArgs: ['--fault', 'max-sysex:100'], dump });
  assert.equal(await verify(page), 'OK - BL V1.2, FW V3.4');
  await browse(page, example);
  await control(page, ID.upgrade).click();
  const report = await boxText(page);
  assert.match(report, /^VANTRO Update FAILED:/);
  assert.match(report, /did not send back a block of its flash memory, so nothing was erased/);
  await answer(page, 'OK');
  assert.equal((await bridge.close()).code, 0);
  const fresh = path.join(work, 'fresh.bin');
  spawnSync(unitSim, ['--stdio', '--flash-out', fresh], { input: '' });
  assert.ok((await readFile(dump)).equals(await readFile(fresh)), 'the unit is unchanged');
});
