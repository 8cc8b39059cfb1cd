// docs/assistant-web.png: the page with the built-in simulated unit, after Verify.
import path from 'node:path';
import os from 'node:os';
import { mkdtemp, rm } from 'node:fs/promises';
import { chromium } from 'playwright-core';
import { startServer } from '../../scripts/serve-web.mjs';

const [site, out] = process.argv.slice(2);
const server = await startServer({ root: site });
const profile = await mkdtemp(path.join(os.tmpdir(), 'vantro-shot-chromium-'));
const context = await chromium.launchPersistentContext(profile, {
  executablePath: '/usr/bin/chromium', headless: true, viewport: { width: 1030, height: 500 },
  args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
    '--disable-background-networking', '--disable-component-update', '--disable-sync'],
});
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
await rm(profile, { recursive: true, force: true });
