// Debian's Chromium, headless, on a fresh profile of its own, as every script here starts it:
// without the background networking this machine's closed network refuses.
import { mkdtemp, rm } from 'node:fs/promises';
import os from 'node:os';
import path from 'node:path';
import { chromium } from 'playwright-core';

// Resolves to the browser's context; close() ends it and removes the profile.
export async function launchChromium(options = {}) {
  const profile = await mkdtemp(path.join(os.tmpdir(), 'vantro-chromium-'));
  const context = await chromium.launchPersistentContext(profile, {
    executablePath: '/usr/bin/chromium',
    headless: true,
    ...options,
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync'],
  });
  const close = context.close.bind(context);
  context.close = async () => {
    await close();
    await rm(profile, { recursive: true, force: true });
  };
  return context;
}
