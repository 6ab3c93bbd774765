// For matrix-bench: loads matrixd's page in Debian's chromium N times, each in a fresh context,
// and prints as JSON the bytes of the page's files (as sent, headers excluded) and the time from
// navigation start to the state shown (every output's lit input drawn).
//   node pagetiming.mjs URL N
import { chromium } from 'playwright-core';

const [url, runs = '10'] = process.argv.slice(2);
const browser = await chromium.launch({
  executablePath: '/usr/bin/chromium', headless: true,
  args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
    '--disable-background-networking', '--disable-component-update', '--disable-sync'],
});
const toStateMs = [];
let bytes = 0;
for (let run = 0; run < Number(runs) + 1; run++) {
  const context = await browser.newContext({ viewport: { width: 360, height: 780 } });
  const page = await context.newPage();
  await page.goto(url, { waitUntil: 'commit' });
  await page.waitForFunction(() =>
    document.querySelectorAll('.output .inputs button[aria-pressed="true"]').length === 4 &&
    document.getElementById('badge').dataset.kind === 'answering');
  const shown = await page.evaluate(() => performance.now());
  const files = await page.evaluate(() =>
    [performance.getEntriesByType('navigation')[0], ...performance.getEntriesByType('resource')]
      .filter((e) => !e.name.includes('/api/'))
      .reduce((sum, e) => sum + e.encodedBodySize, 0));
  // The first run warms the browser itself up; not counted.
  if (run > 0) toStateMs.push(shown);
  bytes = files;
  await context.close();
}
await browser.close();
console.log(JSON.stringify({ bytes, toStateMs }));
