// The page's figures, not a test: how soon it is ready to Verify after loading, an upgrade of
// the example through the page and the Web MIDI stand-in against the 31,250-baud wire bound
// (every byte at 320 us plus the unit's modelled flash times: 20 ms a page erase, 1.6 ms a block
// write), and the size of the static folder. Run: tests/web/bench-page.sh BUILD WEB_BUILD
import { readdir, stat } from 'node:fs/promises';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { launchChromium } from './browser.mjs';
import { startServer } from '../../scripts/serve-web.mjs';
import { bridgeUnit } from './unit-bridge.mjs';

const here = path.dirname(fileURLToPath(import.meta.url));
const site = process.env.VANTRO_SITE, unitSim = process.env.VANTRO_UNIT_SIM;
const example = process.env.VANTRO_EXAMPLE_HEX;
const BYTE_S = 10 / 31250, PAGE_ERASE_S = 0.020, ROW_WRITE_S = 0.0016;

let folderBytes = 0;
for (const name of await readdir(site)) folderBytes += (await stat(path.join(site, name))).size;

const server = await startServer({ root: site });
const context = await launchChromium();
const page = await context.newPage();
await page.addInitScript({ path: path.join(here, 'webmidi-standin.js') });
await page.addInitScript(() => {
  __webMidiStandIn.configure({ permission: 'granted', ports: [
    { id: 'unit-in', name: 'UM-ONE', manufacturer: 'Roland', type: 'input' },
    { id: 'unit-out', name: 'UM-ONE', manufacturer: 'Roland', type: 'output' }] });
  const receive = __webMidiStandIn.receive.bind(__webMidiStandIn);
  window.__receivedBytes = 0;
  __webMidiStandIn.receive = (id, bytes) => { window.__receivedBytes += bytes.length; return receive(id, bytes); };
});
const bridge = await bridgeUnit(page, [unitSim, '--stdio', '--baud', '31250', '--page-erase-us', '20000',
  '--row-write-us', '1600'], { input: 'unit-in', output: 'unit-out', stderr: 'pipe', socket: true });
const loading = Date.now();
await page.goto(new URL('index.html', server.url).href);
await page.waitForSelector('body.ready', { timeout: 60000 });
const readyMs = Date.now() - loading;
const statusAtReady = await page.locator('#control1004').inputValue();

// Verify, Browse and Upgrade on a ready page: the upgrade's wall time and its report.
async function upgrade(page, beforeUpgrade = async () => {}) {
  await page.locator('#control1003').click();
  await page.waitForFunction(() => document.getElementById('control1004').value !== '', null, { timeout: 60000 });
  const [chooser] = await Promise.all([page.waitForEvent('filechooser'), page.locator('#control1006').click()]);
  await chooser.setFiles(example);
  await page.waitForFunction(() => document.getElementById('control1005').value !== '');
  await beforeUpgrade();
  const started = Date.now();
  await page.locator('#control1007').click();
  const report = page.locator('.shade .message').last();
  await report.waitFor({ timeout: 120000 });
  const wall = (Date.now() - started) / 1000;
  return { wall, done: (await report.textContent()).startsWith('VANTRO Update is completed and OK!') };
}

let before;
const { wall, done } = await upgrade(page, async () => {
  before = await page.evaluate(() => ({ sent: __webMidiStandIn.sent('unit-out').length, received: window.__receivedBytes }));
});
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
const bound = (traffic.bytes + receivedBytes) * BYTE_S + traffic.erasePages * PAGE_ERASE_S + traffic.writes * ROW_WRITE_S;
console.log(`page ready to Verify ${readyMs} ms after loading began (the Verify button then ${statusAtReady === '' ? 'takes clicks' : 'is not needed'})`);
console.log(`upgrade through the page at 31250 baud: ${done ? 'completed' : 'NOT completed'}, ` +
  `wall ${wall.toFixed(3)} s, wire bound ${bound.toFixed(3)} s (${traffic.bytes + receivedBytes} bytes), ratio ${(wall / bound).toFixed(4)}`);
// The same upgrade against the page's built-in simulated unit (in-process ports, no Web MIDI):
// the program's own share, without the stand-in and the process.
const inPage = await context.newPage();
await inPage.addInitScript({ path: path.join(here, 'webmidi-standin.js') });
await inPage.addInitScript(() => __webMidiStandIn.configure({ permission: 'granted', ports: [] }));
await inPage.goto(new URL('index.html?simulated-unit&sim-baud=31250&sim-page-erase-us=20000&sim-row-write-us=1600',
  server.url).href);
await inPage.waitForSelector('body.ready', { timeout: 60000 });
const inPageRun = await upgrade(inPage);
console.log(`the same against the page's built-in unit: ${inPageRun.done ? 'completed' : 'NOT completed'}, ` +
  `wall ${inPageRun.wall.toFixed(3)} s, ratio ${(inPageRun.wall / bound).toFixed(4)} (the same bytes and bound)`);
console.log(`static folder: ${(folderBytes / 1e6).toFixed(3)} MB`);
await bridge.close();
await context.close();
await server.close();
