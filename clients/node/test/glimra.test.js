// The Node client against the built glimra (GLIMRA_BINARY): answers equal
// to the command line's, pipelining, options, a server that dies, close.
'use strict';
const test = require('node:test');
const assert = require('node:assert');
const path = require('path');
const {execFileSync} = require('child_process');
const {openGlimra} = require('..');

const root = path.resolve(__dirname, '../../..');
const rendered = path.join(root, 'tests/data/perceptual');
const before = path.join(root, 'examples/before.png');
const after = path.join(root, 'examples/after.png');

function cli(args) {
  try {
    return JSON.parse(execFileSync(process.env.GLIMRA_BINARY, args.concat(['--json'])).toString());
  } catch (error) {
    return JSON.parse(error.stdout.toString());
  }
}

function withoutTimeAndId(result) {
  const {milliseconds, id, ...rest} = result;
  return rest;
}

test('answers are the command line\'s JSON', async () => {
  const g = await openGlimra();
  const none = path.join(rendered, 'hinting-none.png');
  const full = path.join(rendered, 'hinting-full.png');
  const result = await g.compare(none, full, {threshold: 0.1, antialiasing: true});
  assert.deepStrictEqual(withoutTimeAndId(result),
                         withoutTimeAndId(cli([none, full, '--threshold=0.1', '--antialiasing'])));
  assert.strictEqual(result.differingPixels, 166);
  assert.strictEqual((await g.compare(before, before)).status, 'identical');
  await g.close();
});

test('requests are pipelined and answered in order', async () => {
  const g = await openGlimra({jobs: 2});
  const results = await Promise.all(Array.from({length: 50}, (_, i) => g.compare(before, i % 2 ? after : before)));
  results.forEach((r, i) => assert.strictEqual(r.status, i % 2 ? 'different' : 'identical'));
  await g.close();
});

test('a malformed request is an answer, not an error', async () => {
  const g = await openGlimra();
  const result = await g.compare(before, after, {frobnicate: true});
  assert.strictEqual(result.status, 'failed');
  assert.match(result.message, /Unknown option frobnicate/);
  await g.close();
});

test('a dead server is a clear error on the next call, and a new one on the call after', async () => {
  const g = await openGlimra();
  await g.compare(before, after);
  // An idle server does not keep Node alive: hold it while waiting here.
  g.server.ref();
  const ended = new Promise((resolve) => g.server.once('exit', resolve));
  g.server.kill('SIGKILL');
  await ended;
  await assert.rejects(g.compare(before, after), /glimra server ended/);
  assert.strictEqual((await g.compare(before, after)).status, 'different');
  await g.close();
});
