// docs/assistant-web.png: the page with the built-in simulated unit, after Verify.
import { launchChromium } from './browser.mjs';
import { startServer } from '../../scripts/serve-web.mjs';

const [site, out] = process.argv.slice(2);
const server = await startServer({ root: site });
const context = await launchChromium({ viewport: { width: 1030, height: 500 } });
const page = await context.newPage();
// No MIDI system on a build machine: the stand-in, with no devices, answers for the browser.
await page.addInitScript({ path: new URL('webmidi-standin.js', import.meta.url).pathname });
await page.addInitScript(() => __webMidiStandIn.configure({ permission: 'granted', ports: [] }));
await page.goto(new URL('index.html?simulated-unit', server.url).href);
await page.waitForSelector('body.ready', { timeout: 60000 });
await page.locator('#control1003').click();
await page.waitForFunction(() => document.getElementById('control1004').value !== '', null, { timeout: 60000 });
await page.locator('#assistant').screenshot({ path: out });
await context.close();
await server.close();
