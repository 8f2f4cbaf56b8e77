// The HTML report in a real browser (headless Chromium through
// playwright-core): a tree with an identical, a differing, a missing, a
// failed pair, pictures of different sizes and a name made of markup goes
// through the built glimra; the page must list every pair that is not
// identical, take no element from a name, log no error, show each view and
// keep a screenshot.
//
//   node report_test.js GLIMRA WORKDIR [SCREENSHOT]
//   node report_test.js GLIMRA WORKDIR --demo A B SCREENSHOT
//
// Exits 77 (skipped) where Chromium or playwright-core is missing, or 1
// with GLIMRA_BROWSER_REQUIRED set (the CI step that installs them).
'use strict';
const fs = require('fs');
const path = require('path');
const {execFileSync} = require('child_process');

const chromiumPath = '/usr/bin/chromium';
const missingStatus = process.env.GLIMRA_BROWSER_REQUIRED ? 1 : 77;
let chromium;
try {
  ({chromium} = require('playwright-core'));
} catch (error) {
  console.log('playwright-core is not installed: skipped');
  process.exit(missingStatus);
}
if (!fs.existsSync(chromiumPath)) {
  console.log('Chromium is not installed: skipped');
  process.exit(missingStatus);
}

const [glimra, work, ...rest] = process.argv.slice(2);
const failures = [];
function check(condition, what) {
  if (!condition) failures.push(what);
}

// A 24-bit BMP of width x height whose pixel x, y is colour(x, y) = [r, g, b].
function bmp(file, width, height, colour) {
  const pitch = Math.ceil(width * 3 / 4) * 4;
  const data = Buffer.alloc(54 + pitch * height);
  data.write('BM', 0, 'latin1');
  data.writeUInt32LE(data.length, 2);
  data.writeUInt32LE(54, 10);
  data.writeUInt32LE(40, 14);
  data.writeInt32LE(width, 18);
  data.writeInt32LE(height, 22);
  data.writeUInt16LE(1, 26);
  data.writeUInt16LE(24, 28);
  for (let y = 0; y < height; ++y) {
    for (let x = 0; x < width; ++x) {
      const [r, g, b] = colour(x, y);
      const at = 54 + (height - 1 - y) * pitch + 3 * x;
      data[at] = b;
      data[at + 1] = g;
      data[at + 2] = r;
    }
  }
  fs.writeFileSync(file, data);
}

const scene = (x, y) => [(x * 6) & 255, (y * 8) & 255, 160];
const changed = (x, y) => (x >= 10 && x < 15 && y >= 8 && y < 12 ? [255, 40, 40] : scene(x, y));
const evil = '<img src=x onerror="window.injected=1"> & \'q\'.bmp';

function makeTrees() {
  fs.rmSync(work, {recursive: true, force: true});
  for (const side of ['a', 'b']) fs.mkdirSync(path.join(work, side), {recursive: true});
  bmp(path.join(work, 'a/same.bmp'), 20, 10, scene);
  bmp(path.join(work, 'b/same.bmp'), 20, 10, scene);
  bmp(path.join(work, 'a/changed.bmp'), 40, 30, scene);
  bmp(path.join(work, 'b/changed.bmp'), 40, 30, changed);
  bmp(path.join(work, 'a/only-a.bmp'), 8, 8, scene);
  bmp(path.join(work, 'a/sizes.bmp'), 40, 30, scene);
  bmp(path.join(work, 'b/sizes.bmp'), 30, 40, scene);
  bmp(path.join(work, 'a', evil), 16, 16, scene);
  bmp(path.join(work, 'b', evil), 16, 16, changed);
  // A PNG cut short: it fails to load.
  const png = Buffer.from('89504e470d0a1a0a0000000d49484452000000100000001008020000', 'hex');
  fs.writeFileSync(path.join(work, 'a/cut.png'), png);
  fs.copyFileSync(path.join(work, 'a/same.bmp'), path.join(work, 'b/cut.png'));
}

function runGlimra(args) {
  try {
    execFileSync(glimra, args, {stdio: 'pipe'});
  } catch (error) {
    // Status 1 is the answer "different"; anything else is not.
    if (error.status !== 1) throw error;
  }
}

async function open(browser, report) {
  const page = await browser.newPage({viewport: {width: 1280, height: 800}});
  page.on('console', (message) => { if (message.type() === 'error') failures.push('console: ' + message.text()); });
  page.on('pageerror', (error) => failures.push('page error: ' + error.message));
  page.on('requestfailed', (request) => failures.push('not loaded: ' + request.url()));
  await page.goto('file://' + path.resolve(report, 'index.html'));
  return page;
}

async function imagesLoaded(page) {
  return page.$$eval('#stage img', (images) => images.length > 0 && images.every((i) => i.complete && i.naturalWidth > 0));
}

async function testReport(browser) {
  makeTrees();
  const report = path.join(work, 'report');
  runGlimra([path.join(work, 'a'), path.join(work, 'b'), '--report=' + report]);
  const page = await open(browser, report);

  const listed = await page.$$eval('#pairs li', (items) => items.map((i) => i.textContent));
  for (const name of ['changed.bmp', 'only-a.bmp', 'sizes.bmp', 'cut.png', evil]) {
    check(listed.includes(name), 'listed: ' + name + ' (the list holds ' + JSON.stringify(listed) + ')');
  }
  check(!listed.includes('same.bmp'), 'identical pairs are hidden at first');
  check(await page.evaluate(() => window.injected === undefined && document.querySelectorAll('[onerror]').length === 0),
        'no element or script from a name');

  // The identical one appears once its status is chosen.
  await page.click('#summary button[data-status="identical"]');
  check((await page.$$eval('#pairs li', (items) => items.map((i) => i.textContent))).includes('same.bmp'),
        'identical pairs on request');

  await page.click('#pairs li[data-index] >> text=changed.bmp');
  check((await page.textContent('#title')) === 'changed.bmp', 'the chosen pair is shown');
  check((await page.textContent('#facts')).includes('20 (1.667 %)'), 'the facts of the pair');
  const stages = {side: 'figure', slider: 'input[type=range]', blink: 'figure img', overlay: '.overlay', zoom: '.window'};
  for (const [view, selector] of Object.entries(stages)) {
    await page.click('#views button[data-view="' + view + '"]');
    check((await page.$$(`#stage ${selector}`)).length > 0, 'view ' + view + ' shows ' + selector);
    await page.waitForFunction(() => [...document.querySelectorAll('#stage img')].every((i) => i.complete));
    check(await imagesLoaded(page), 'view ' + view + ' loads its pictures');
  }
  await page.click('#views button[data-view="side"]');
  if (rest[0]) await page.screenshot({path: rest[0]});

  // The keys move between pairs.
  const before = await page.textContent('#title');
  await page.keyboard.press('j');
  check((await page.textContent('#title')) !== before, 'j moves to the next pair');
  await page.keyboard.press('k');
  check((await page.textContent('#title')) === before, 'k moves back');

  // The markup name shows as text, its pictures too.
  await page.click('#pairs li >> text=onerror');
  check((await page.textContent('#title')) === evil, 'a name of markup is shown as text');
  check(await imagesLoaded(page), 'pictures of a pair named with markup load');
  check(await page.evaluate(() => window.injected === undefined), 'no script from a name');
}

async function demo(browser, a, b, screenshot) {
  const report = path.join(work, 'demo-report');
  fs.rmSync(report, {recursive: true, force: true});
  runGlimra([a, b, '--report=' + report]);
  const page = await open(browser, report);
  await page.click('#views button[data-view="side"]');
  await page.screenshot({path: screenshot});
}

(async () => {
  const browser = await chromium.launch({
    executablePath: chromiumPath,
    args: ['--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-background-networking',
           '--disable-component-update', '--disable-sync'],
  });
  try {
    if (rest[0] === '--demo') await demo(browser, rest[1], rest[2], rest[3]);
    else await testReport(browser);
  } finally {
    await browser.close();
  }
  if (failures.length > 0) {
    console.log('FAILED:\n  ' + failures.join('\n  '));
    process.exit(1);
  }
  console.log('1 passed, 0 failed');
})().catch((error) => {
  console.log('FAILED: ' + error.stack);
  process.exit(1);
});
