// The HTML report in a real browser (headless Chromium through
// playwright-core), at a 1280x800 window:
//  - a tree with an identical, a differing, a missing, a failed pair,
//    pictures of different sizes and a name made of markup goes through the
//    built glimra; the page must list every pair that is not identical,
//    take no element from a name, log no error, show each view, follow and
//    answer links (index.html#NAME, the back button) and mark what
//    --update accepted;
//  - a full-page screenshot pair of 3446x10728 and one of 1280x720, both
//    rendered here: every view fits the pane, never enlarged, z switches
//    to actual size, the wheel zooms and dragging pans, in step.
//
//   node report_test.js GLIMRA WORKDIR [SCREENSHOT]
//   node report_test.js GLIMRA WORKDIR --docs DIR   the views' screenshots
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
  const panes = {side: 3, difference: 1, slider: 1, blink: 1, overlay: 1, box: 3};
  for (const [view, count] of Object.entries(panes)) {
    await page.click('#views button[data-view="' + view + '"]');
    check((await page.$$('#stage .pane')).length === count, 'view ' + view + ' shows ' + count + ' panes');
    await loaded(page);
    check(await imagesLoaded(page), 'view ' + view + ' loads its pictures');
    if (view !== 'box') {
      check(await page.$$eval('#stage img', (images) => images.every((i) => i.getBoundingClientRect().width <= i.naturalWidth)),
            'view ' + view + ' never enlarges a small picture unless zoomed');
    }
  }
  await page.click('#views button[data-view="side"]');
  await checkLinks(page, report);
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

async function loaded(page) {
  await page.waitForFunction(() => [...document.querySelectorAll('#stage img')].every((i) => i.complete));
}

const title = (page) => page.textContent('#title');

// index.html#NAME opens that pair, the address follows the choice, the
// back button returns, and an unknown name opens the first pair and says so.
async function checkLinks(page, report) {
  const index = 'file://' + path.resolve(report, 'index.html');
  await page.click('#pairs li >> text=sizes.bmp');
  check(page.url().endsWith('#sizes.bmp'), 'the address follows the chosen pair (' + page.url() + ')');
  check((await page.$$('#stage .pane')).length === 2, 'pictures of two sizes show A and B');
  check((await page.textContent('#facts')).includes('40 x 30 against 30 x 40'), 'both sizes are told');
  await page.click('#pairs li >> text=onerror');
  check(page.url().endsWith('#' + encodeURIComponent(evil)), 'a name of markup is encoded in the address');
  await page.goBack();
  await page.waitForFunction(() => document.getElementById('title').textContent === 'sizes.bmp');
  check((await title(page)) === 'sizes.bmp', 'the back button returns to the pair before');
  await page.goto(index + '#' + encodeURIComponent(evil));
  check((await title(page)) === evil, 'a link opens the pair it names');
  await page.goto(index + '#same.bmp');
  check((await title(page)) === 'same.bmp', 'a link opens a pair whose status is hidden at first');
  await page.goto(index + '#no-such-pair.png');
  check((await title(page)) === await page.textContent('#pairs li'), 'an unknown name opens the first pair');
  check(await page.isVisible('#note') && (await page.textContent('#note')).includes('no-such-pair.png'),
        'and says so');
  // Keys choose views (their number) and the scale (z).
  await page.keyboard.press('2');
  check((await page.$$('#views button.on[data-view="difference"]')).length === 1, 'key 2 shows the difference');
  await page.keyboard.press('z');
  check(await page.evaluate(() => document.body.dataset.scale) === '1', 'z shows actual size');
}

// A run with --update: the report shows what was found, and marks what was
// updated.
async function checkUpdated(browser) {
  const copy = path.join(work, 'update');
  fs.rmSync(copy, {recursive: true, force: true});
  fs.cpSync(path.join(work, 'a'), path.join(copy, 'a'), {recursive: true});
  const report = path.join(copy, 'report');
  runGlimra([path.join(copy, 'a'), path.join(work, 'b'), '--update', '--report=' + report]);
  const page = await open(browser, report);
  await page.click('#pairs li >> text=changed.bmp');
  check((await page.textContent('#pairs li.selected')).includes('updated'), 'an updated pair is marked in the list');
  check((await page.textContent('#facts')).includes('B is now the reference'), 'and in its facts');
  check((await page.textContent('#facts')).includes('20 (1.667 %)'), 'with what was found');
  await page.close();
}

// A page of text, boxes and a table, `sections` long; `changed` rewords
// one paragraph.
function screenshotPage(sections, changed) {
  let html = '<!doctype html><html><body style="margin:0;padding:20px;font:15px sans-serif;column-count:3">';
  for (let i = 0; i < sections; ++i) {
    const words = 'quick brown foxes jump over lazy dogs while pixels render crisp glyphs'.split(' ');
    const text = Array.from({length: 60}, (_, k) => words[(k * 7 + i) % words.length]).join(' ');
    html += '<h2 style="color:#1b4f9c">Section ' + (i + 1) + '</h2><p>' +
            (changed && i === 1 ? text.replace(/foxes/g, 'boxes') : text) + '</p>' +
            '<div style="border:1px solid #bbb;border-radius:8px;padding:8px;transform:rotate(-2deg)">' +
            '<i>A rotated box ' + i + '</i></div>';
  }
  return html + '</body></html>';
}

// Renders the pair `name` (A and B, B reworded) at `width` x `height`
// CSS pixels times `scale`.
async function renderPair(browser, dir, name, width, height, scale, sections) {
  fs.mkdirSync(path.join(dir, 'a'), {recursive: true});
  fs.mkdirSync(path.join(dir, 'b'), {recursive: true});
  const page = await browser.newPage({viewport: {width, height}, deviceScaleFactor: scale});
  for (const side of ['a', 'b']) {
    await page.setContent(screenshotPage(sections, side === 'b'));
    await page.screenshot({path: path.join(dir, side, name)});
  }
  await page.close();
}

// Every view of both screenshot pairs fits the pane; z, the wheel and
// dragging change what all panes show alike. With `docs`, each view of
// the 1280x720 pair is kept there as report-VIEW.png.
async function testScreenshots(browser, docs) {
  const dir = path.join(work, 'screenshots');
  fs.rmSync(dir, {recursive: true, force: true});
  await renderPair(browser, dir, 'full-page.png', 1723, 5364, 2, 90);
  await renderPair(browser, dir, 'window.png', 1280, 720, 1, 6);
  const report = path.join(dir, 'report');
  runGlimra([path.join(dir, 'a'), path.join(dir, 'b'), '--report=' + report, '--threshold=0.1', '--antialiasing']);
  const page = await open(browser, report);
  for (const [name, width] of [['full-page.png', 3446], ['window.png', 1280]]) {
    await page.click('#pairs li >> text=' + name);
    for (const view of ['side', 'difference', 'slider', 'blink', 'overlay', 'box']) {
      await page.click('#views button[data-view="' + view + '"]');
      await loaded(page);
      const shown = await page.$$eval('#stage .pane', (panes) => panes.map((pane) => {
        const image = pane.querySelector('img');
        return {pane: pane.clientWidth, image: image.getBoundingClientRect().width, natural: image.naturalWidth};
      }));
      for (const s of shown) {
        check(s.natural === width, name + ' ' + view + ': the picture is whole');
        if (view !== 'box') {
          check(s.image <= s.pane + 0.5 && s.image <= width + 0.5, name + ' ' + view + ': fits the pane (' +
                s.image + ' of ' + s.pane + ')');
          check(s.image >= Math.min(width, s.pane) - 0.5, name + ' ' + view + ': takes the pane\'s width');
        }
      }
      if (docs && name === 'window.png') await page.screenshot({path: path.join(docs, 'report-' + view + '.png')});
    }
    await checkZoomAndPan(page, name);
  }
  if (docs) {
    await page.click('#pairs li >> text=full-page.png');
    await page.click('#views button[data-view="side"]');
    await loaded(page);
    await page.screenshot({path: path.join(docs, 'report-full-page.png')});
  }
  await page.close();
}

async function transforms(page) {
  return page.$$eval('#stage .layer', (layers) => layers.map((l) => l.style.transform));
}

async function checkZoomAndPan(page, name) {
  await page.click('#views button[data-view="side"]');
  await page.keyboard.press('z');
  check(await page.evaluate(() => document.body.dataset.scale) === '1', name + ': z shows actual size');
  await page.keyboard.press('z');
  const before = Number(await page.evaluate(() => document.body.dataset.scale));
  const box = await page.$eval('#stage .pane', (pane) => JSON.parse(JSON.stringify(pane.getBoundingClientRect())));
  await page.mouse.move(box.x + 50, box.y + 50);
  await page.mouse.wheel(0, -100);
  const zoomed = Number(await page.evaluate(() => document.body.dataset.scale));
  check(zoomed > before, name + ': the wheel zooms in (' + before + ' to ' + zoomed + ')');
  await page.mouse.down();
  await page.mouse.move(box.x + 20, box.y + 10, {steps: 3});
  await page.mouse.up();
  const moved = await transforms(page);
  check(new Set(moved).size === 1, name + ': every pane shows the same part (' + moved.join(' | ') + ')');
  check(moved[0].startsWith('translate(-'), name + ': dragging pans (' + moved[0] + ')');
}

(async () => {
  const browser = await chromium.launch({
    executablePath: chromiumPath,
    args: ['--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-background-networking',
           '--disable-component-update', '--disable-sync'],
  });
  try {
    const docs = rest[0] === '--docs' ? rest[1] : null;
    if (!docs) {
      await testReport(browser);
      await checkUpdated(browser);
    }
    await testScreenshots(browser, docs);
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
