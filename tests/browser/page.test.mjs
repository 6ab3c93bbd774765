// matrixd's page in Debian's chromium, as a person uses it: by touch, mouse and keyboard, at a
// phone's width and a desktop's, with the simulator as the switcher.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { chromium } from 'playwright-core';
import { Rig, artifacts, buttonFrame, codes, password } from './rig.mjs';

let browser;

// Playwright gives the browser a fresh profile of its own in a temporary folder.
before(async () => {
  browser = await chromium.launch({
    executablePath: '/usr/bin/chromium',
    headless: true,
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync'],
  });
});

after(async () => {
  await browser?.close();
});

const card = (page, output) => page.locator(`.output[data-output="${output}"]`);
const inputButton = (page, output, name) =>
  card(page, output).getByRole('button', { name, exact: true });
const pressedIn = async (page, output) =>
  card(page, output).locator('.inputs button[aria-pressed="true"]').allTextContents();
const until = async (what, check, timeoutMs = 5000) => {
  const end = Date.now() + timeoutMs;
  for (;;) {
    if (await check()) return;
    if (Date.now() > end) throw new Error(`timed out waiting for ${what}`);
    await new Promise((resolve) => setTimeout(resolve, 25));
  }
};

test('the page shows the state, routes by tap, mouse and keyboard, follows shares and the line', async () => {
  const rig = new Rig();
  await rig.start({ routes: '2413' });
  const context = await browser.newContext({ viewport: { width: 1280, height: 900 } });
  const page = await context.newPage();
  const problems = [];
  page.on('console', (message) => { if (message.type() === 'error') problems.push(message.text()); });
  page.on('pageerror', (error) => problems.push(String(error)));
  try {
    await page.goto(rig.origin + '/');
    await page.getByText('Switcher answering').waitFor();
    assert.equal(await page.title(), 'Hall matrix');
    assert.deepEqual(await pressedIn(page, 'A'), ['Input 2']);
    assert.deepEqual(await pressedIn(page, 'B'), ['Input 4']);
    assert.deepEqual(await pressedIn(page, 'C'), ['Blu-ray']);
    assert.deepEqual(await pressedIn(page, 'D'), ['Laptop']);
    assert.equal(await page.getByRole('group', { name: 'Projector (output B)' }).count(), 1);
    assert.equal(await page.getByLabel('EDID mode').locator('option').count(), 12);

    // A tap on Laptop for the projector: its frame on the line, then lit.
    const framesBefore = rig.frames().length;
    await inputButton(page, 'B', 'Laptop').click();
    await until('B3 lit', async () => (await pressedIn(page, 'B')).join() === 'Laptop');
    assert.deepEqual(rig.frames().slice(framesBefore), ['05 55 19 59 77']);
    // The keyboard: Tab to the next-input arrow of B and press it.
    await card(page, 'B').getByRole('button', { name: 'Projector: next input' }).focus();
    await page.keyboard.press('Enter');
    await until('B4 lit', async () => (await pressedIn(page, 'B')).join() === 'Input 4');

    // A change through a share shows without reload.
    const share = rig.writeToShare(buttonFrame(codes.C4));
    await until('C4 lit', async () => (await pressedIn(page, 'C')).join() === 'Input 4');
    fs.closeSync(share);

    // The EDID select and a preset.
    await page.getByLabel('EDID mode').selectOption({ label: '2D-7.1CH' });
    await until('EDID shown', async () => (await rig.daemon.output).includes('EDID mode 7 (2D-7.1CH)'));
    await page.getByRole('button', { name: 'Movie night' }).click();
    await page.getByText('Movie night applied').waitFor();
    assert.deepEqual(await pressedIn(page, 'A'), ['Input 2']);
    assert.deepEqual(await pressedIn(page, 'B'), ['Laptop']);

    // A press the switcher never confirms: pending, then the reason, and the real state again.
    await rig.control('power 1500', 'power off');
    await inputButton(page, 'D', 'Blu-ray').click();
    await until('pending shown', async () =>
      (await inputButton(page, 'D', 'Blu-ray').getAttribute('class')) === 'pending');
    await card(page, 'D').getByText('Blu-ray not switched: no reply within 500 ms').waitFor();
    assert.deepEqual(await pressedIn(page, 'D'), ['Laptop']);
    assert.equal(await inputButton(page, 'D', 'Blu-ray').getAttribute('class'), '');
    await rig.sim.waitFor('power on');

    // Unplugged: the badge says so, a press is refused with its reason, and it comes back.
    await rig.control('unplug', 'unplugged');
    await page.getByText('Switcher not answering').waitFor();
    await inputButton(page, 'A', 'Laptop').click();
    await card(page, 'A').getByText('Laptop not switched: the switcher is not answering').waitFor();
    assert.deepEqual(await pressedIn(page, 'A'), ['Input 2']);
    await rig.control('replug', 'replugged');
    await page.getByText('Switcher answering').waitFor({ timeout: 8000 });

    // matrixd itself gone: the page says so, retries, and is back by itself.
    await rig.daemon.stop();
    await page.getByText(/No connection to matrixd: retrying in \d+ s/).waitFor();
    await rig.startDaemon();
    await page.getByText('Switcher answering').waitFor({ timeout: 15000 });
    assert.deepEqual(problems.filter((p) => !p.includes('Failed to load resource') && !p.includes('WebSocket')), []);
  } finally {
    await context.close();
    await rig.stop();
  }
});

test('at 360 px nothing overflows, in light and dark; screenshots kept', async () => {
  const rig = new Rig();
  await rig.start({ routes: '1234' });
  fs.mkdirSync(artifacts, { recursive: true });
  try {
    for (const [scheme, width, height] of [['light', 360, 780], ['dark', 360, 780], ['light', 1280, 800], ['dark', 1280, 800]]) {
      const context = await browser.newContext({
        viewport: { width, height }, colorScheme: scheme, hasTouch: width < 400,
        isMobile: width < 400, deviceScaleFactor: width < 400 ? 2 : 1,
      });
      const page = await context.newPage();
      page.on('console', (m) => console.log('console:', m.text()));
      await page.goto(rig.origin + '/');
      await page.getByText('Switcher answering').waitFor({ timeout: 5000 }).catch(async (e) => { console.log(await page.content()); throw e; });
      if (width < 400) {
        await inputButton(page, 'C', 'Laptop').tap();
        await until('C3 lit', async () => (await pressedIn(page, 'C')).join() === 'Laptop');
      }
      const overflow = await page.evaluate(() => {
        const wide = [...document.querySelectorAll('body *')].filter((e) => {
          const box = e.getBoundingClientRect();
          return box.width > 0 && (box.right > window.innerWidth + 0.5 || box.left < -0.5);
        });
        return { scroll: document.documentElement.scrollWidth, wide: wide.map((e) => e.outerHTML.slice(0, 80)) };
      });
      assert.ok(overflow.scroll <= width, `${scheme} ${width}px: page is ${overflow.scroll}px wide`);
      assert.deepEqual(overflow.wide, []);
      const background = await page.evaluate(() => getComputedStyle(document.body).backgroundColor);
      assert.equal(background === 'rgb(18, 20, 23)', scheme === 'dark', background);
      await page.screenshot({ path: path.join(artifacts, `page-${width}px-${scheme}.png`), fullPage: true });
      await context.close();
    }
  } finally {
    await rig.stop();
  }
});

test('with a password the page asks for it and nothing else; a wrong one is refused', async () => {
  const rig = new Rig();
  await rig.start({ withPassword: true });
  const context = await browser.newContext();
  const page = await context.newPage();
  try {
    await page.goto(rig.origin + '/');
    await page.getByLabel('Password').waitFor();
    assert.equal(await page.locator('#panel').isVisible(), false);
    assert.equal(await page.locator('.output').count(), 0);
    await page.getByLabel('Password').fill('guess');
    await page.getByRole('button', { name: 'Log in' }).click();
    await page.getByText(/^wrong password; try again in 1 s$/).waitFor();
    assert.equal(await page.locator('#panel').isVisible(), false);
    // The right one, once the wait after the wrong one is over.
    await until('login', async () => {
      if (await page.locator('#panel').isVisible()) return true;
      await page.getByLabel('Password').fill(password);
      await page.getByRole('button', { name: 'Log in' }).click();
      await page.waitForTimeout(0);
      return page.locator('#panel').isVisible();
    }, 6000);
    await page.getByText('Switcher answering').waitFor();
    await inputButton(page, 'B', 'Laptop').click();
    await until('B3 lit', async () => (await pressedIn(page, 'B')).join() === 'Laptop');
    const cookies = await context.cookies();
    assert.equal(cookies.length, 1);
    assert.equal(cookies[0].httpOnly, true);
    assert.equal(cookies[0].sameSite, 'Strict');
    await page.getByRole('button', { name: 'Log out' }).click();
    await page.getByLabel('Password').waitFor();
    assert.ok(!rig.daemon.output.includes(password));
  } finally {
    await context.close();
    await rig.stop();
  }
});
