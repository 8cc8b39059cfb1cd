// The page's figures, not a test: how soon it is ready to Verify after loading, an upgrade of
// the example through the page and the Web MIDI stand-in against the 31,250-baud wire bound
// (every byte at 320 us plus the unit's modelled flash times: 20 ms a page erase, 1.6 ms a block
// write), and the size of the static folder. Run: tests/web/bench-page.sh BUILD WEB_BUILD
import { readdir, stat } from 'node:fs/promises';
import os from 'node:os';
import path from 'node:path';
import { mkdtemp, rm } from 'node:fs/promises';
import { fileURLToPath } from 'node:url';
import { chromium } from 'playwright-core';
import { startServer } from '../../scripts/serve-web.mjs';
import { bridgeUnit } from './unit-bridge.mjs';

const here = path.dirname(fileURLToPath(import.meta.url));
const site = process.env.VANTRO_SITE, unitSim = process.env.VANTRO_UNIT_SIM;
const example = process.env.VANTRO_EXAMPLE_HEX;
const BYTE_S = 10 / 31250, PAGE_ERASE_S = 0.020, ROW_WRITE_S = 0.0016;

let folderBytes = 0;
for (const name of await readdir(site)) folderBytes += (await stat(path.join(site, name))).size;

const server = await startServer({ root: site });
const profile = await mkdtemp(path.join(os.tmpdir(), 'vantro-bench-chromium-'));
const context = await chromium.launchPersistentContext(profile, {
  executablePath: '/usr/bin/chromium', headless: true,
  args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
    '--disable-background-networking', '--disable-component-update', '--disable-sync'],
});
const page = await context.newPage();
await page.addInitScript({ path: path.join(here, 'webmidi-standin.js') });
await page.addInitScript(() => {
  __webMidiStandIn.configure({ permission: 'granted', ports: [
    { id: 'unit-in', name: 'UM-ONE', manufacturer: 'Roland', type: 'input' },
    { id: 'unit-out', name: 'UM-ONE', manufacturer: 'Roland', type: 'output' }] });
  const receive = __webMidiStandIn.receive.bind(__webMidiStandIn);
  window.__receivedBytes = 0;
  window.__receivedAt = [];
  __webMidiStandIn.receive = (id, bytes) => {
    window.__receivedBytes += bytes.length;
    window.__receivedAt.push(performance.now());
    return receive(id, bytes);
  };
});
const bridge = await bridgeUnit(page, [unitSim, '--stdio', '--baud', '31250', '--page-erase-us', '20000',
  '--row-write-us', '1600'], { input: 'unit-in', output: 'unit-out', stderr: 'pipe', socket: true });
const loading = Date.now();
await page.goto(new URL('index.html', server.url).href);
await page.waitForSelector('body.ready', { timeout: 60000 });
const readyMs = Date.now() - loading;
const statusAtReady = await page.locator('#control1004').inputValue();

const value = (id) => page.locator(`#control${id}`).inputValue();
await page.locator('#control1003').click();
await page.waitForFunction(() => document.getElementById('control1004').value !== '', null, { timeout: 60000 });
const [chooser] = await Promise.all([page.waitForEvent('filechooser'), page.locator('#control1006').click()]);
await chooser.setFiles(example);
await page.waitForFunction(() => document.getElementById('control1005').value !== '');
const before = await page.evaluate(() => ({ sent: __webMidiStandIn.sent('unit-out').length, received: window.__receivedBytes }));
const started = Date.now();
await page.locator('#control1007').click();
const report = await page.locator('.shade .message').last();
await report.waitFor({ timeout: 120000 });
const wall = (Date.now() - started) / 1000;
const text = await report.textContent();
const traffic = await page.evaluate((skip) => {
  let bytes = 0, erasePages = 0, writes = 0;
  for (const b of __webMidiStandIn.sent('unit-out').slice(skip)) {
    bytes += b.length;
    if (b.length === 16 && b[4] === 0x11 && b[5] === 0x04) erasePages += (b[6] & 0xf) | (b[7] << 4);
    if (b.length === 528 && b[4] === 0x11 && b[5] === 0x03) ++writes;
  }
  return { bytes, erasePages, writes, received: window.__receivedBytes };
}, before.sent);
const receivedBytes = traffic.received - before.received;
// The page's own share: from a reply's arrival in the page to the next request leaving it.
const share = await page.evaluate((skip) => {
  const sent = __webMidiStandIn.sentLog('unit-out').slice(skip).map((e) => e.time);
  const got = window.__receivedAt;
  let total = 0, n = 0;
  for (const t of got) {
    const next = sent.find((s) => s >= t);
    if (next !== undefined) { total += next - t; ++n; }
  }
  return { total, n };
}, before.sent);
const bound = (traffic.bytes + receivedBytes) * BYTE_S + traffic.erasePages * PAGE_ERASE_S + traffic.writes * ROW_WRITE_S;
console.log(`page ready to Verify ${readyMs} ms after loading began (the Verify button then ${statusAtReady === '' ? 'takes clicks' : 'is not needed'})`);
console.log(`upgrade through the page at 31250 baud: ${text.startsWith('VANTRO Update is completed and OK!') ? 'completed' : 'NOT completed'}, ` +
  `wall ${wall.toFixed(3)} s, wire bound ${bound.toFixed(3)} s (${traffic.bytes + receivedBytes} bytes), ratio ${(wall / bound).toFixed(4)}`);
console.log(`  from a reply's arrival in the page to the next request: ${(share.total / Math.max(share.n, 1)).toFixed(2)} ms on average (${share.n} replies)`);
// The same upgrade against the page's built-in simulated unit (in-process ports, no Web MIDI):
// the program's own share, without the stand-in and the process.
const inPage = await context.newPage();
await inPage.addInitScript({ path: path.join(here, 'webmidi-standin.js') });
await inPage.addInitScript(() => __webMidiStandIn.configure({ permission: 'granted', ports: [] }));
await inPage.goto(new URL('index.html?simulated-unit&sim-baud=31250&sim-page-erase-us=20000&sim-row-write-us=1600',
  server.url).href);
await inPage.waitForSelector('body.ready', { timeout: 60000 });
await inPage.locator('#control1003').click();
await inPage.waitForFunction(() => document.getElementById('control1004').value !== '', null, { timeout: 60000 });
const [inPageChooser] = await Promise.all([inPage.waitForEvent('filechooser'), inPage.locator('#control1006').click()]);
await inPageChooser.setFiles(example);
await inPage.waitForFunction(() => document.getElementById('control1005').value !== '');
const inPageStarted = Date.now();
await inPage.locator('#control1007').click();
const inPageReport = inPage.locator('.shade .message').last();
await inPageReport.waitFor({ timeout: 120000 });
const inPageWall = (Date.now() - inPageStarted) / 1000;
const inPageDone = (await inPageReport.textContent()).startsWith('VANTRO Update is completed and OK!');
console.log(`the same against the page's built-in unit: ${inPageDone ? 'completed' : 'NOT completed'}, ` +
  `wall ${inPageWall.toFixed(3)} s, ratio ${(inPageWall / bound).toFixed(4)} (the same bytes and bound)`);
console.log(`static folder: ${(folderBytes / 1e6).toFixed(3)} MB`);
await bridge.close();
await context.close();
await server.close();
await rm(profile, { recursive: true, force: true });
