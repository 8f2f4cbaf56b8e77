// The Node client of glimra's server mode: one `glimra --serve` process per
// client, requests pipelined over its standard input, each answer matched
// to its request by id. No dependencies.
'use strict';
const {spawn} = require('child_process');
const fs = require('fs');
const path = require('path');

// The binary: the `binary` option, then GLIMRA_BINARY, then the PATH.
function findBinary(given) {
  if (given) return given;
  if (process.env.GLIMRA_BINARY) return process.env.GLIMRA_BINARY;
  for (const dir of (process.env.PATH || '').split(path.delimiter)) {
    for (const name of ['glimra', 'glimra.exe']) {
      const candidate = path.join(dir, name);
      if (dir && fs.existsSync(candidate)) return candidate;
    }
  }
  throw new Error('glimra was not found: pass {binary}, set GLIMRA_BINARY or put glimra on the PATH');
}

class Glimra {
  constructor(options = {}) {
    this.binary = findBinary(options.binary);
    this.jobs = options.jobs;
    this.nextId = 1;
    this.pending = new Map();
    this.server = null;
    this.lost = null;  // why the last server ended, told on the next call
  }

  start() {
    const args = ['--serve'].concat(this.jobs ? ['--jobs=' + this.jobs] : []);
    const server = spawn(this.binary, args, {stdio: ['pipe', 'pipe', 'inherit']});
    let buffered = '';
    server.stdout.setEncoding('utf8');
    server.stdout.on('data', (text) => {
      buffered += text;
      let end;
      while ((end = buffered.indexOf('\n')) >= 0) {
        this.answer(buffered.slice(0, end));
        buffered = buffered.slice(end + 1);
      }
    });
    server.on('error', (error) => this.ended(server, error));
    server.on('exit', (code, signal) => this.ended(server, new Error(
      'the glimra server ended (' + (signal ? 'signal ' + signal : 'status ' + code) + ')')));
    server.stdin.on('error', () => {});
    this.server = server;
    this.idle();
  }

  answer(line) {
    const result = JSON.parse(line);
    const waiting = this.pending.get(result.id);
    if (!waiting) return;
    this.pending.delete(result.id);
    waiting.resolve(result);
    this.idle();
  }

  ended(server, error) {
    if (this.server !== server) return;
    this.server = null;
    if (this.closing) return;
    this.lost = error;
    for (const waiting of this.pending.values()) waiting.reject(error);
    this.pending.clear();
  }

  // The server keeps the Node process alive only while answers are due.
  idle() {
    if (!this.server) return;
    const busy = this.pending.size > 0;
    for (const handle of [this.server, this.server.stdout, this.server.stdin]) {
      if (busy) handle.ref(); else handle.unref();
    }
  }

  compare(a, b, options = {}) {
    if (this.lost) {
      const error = this.lost;
      this.lost = null;
      return Promise.reject(error);
    }
    if (!this.server) this.start();
    const {diff, ...rest} = options;
    const id = this.nextId++;
    const request = {id, a, b};
    if (diff) request.diff = diff;
    if (Object.keys(rest).length > 0) request.options = rest;
    return new Promise((resolve, reject) => {
      this.pending.set(id, {resolve, reject});
      this.idle();
      this.server.stdin.write(JSON.stringify(request) + '\n');
    });
  }

  // Ends the server once it has answered what it was asked.
  close() {
    const server = this.server;
    if (!server) return Promise.resolve();
    this.closing = true;
    return new Promise((resolve) => {
      server.once('exit', () => resolve());
      server.ref();
      server.stdin.end();
    });
  }
}

async function openGlimra(options = {}) {
  const client = new Glimra(options);
  client.start();
  return client;
}

module.exports = {openGlimra, Glimra};
