// 1000 comparisons of one 64x64 PNG pair through glimra's Node client,
// odiff 4.5's own long-lived server (odiff-bin's ODiffServer) or odiff's
// CLI, one after another as a test runner makes them; run once per
// process under GNU time by bench/serve.sh, which adds the CPU of the
// servers and their workers.
//
//   node bench/serve.js glimra|odiff-server|odiff-cli A B [COUNT]
'use strict';
const {execFile} = require('child_process');
const [kind, a, b, countText] = process.argv.slice(2);
const count = Number(countText || 1000);

async function main() {
  if (kind === 'glimra') {
    const {openGlimra} = require('../clients/node');
    const g = await openGlimra({jobs: 1});
    let last = null;
    for (let i = 0; i < count; ++i) last = await g.compare(a, b);
    if (last.status !== 'different') throw new Error('glimra: ' + JSON.stringify(last));
    await g.close();
  } else if (kind === 'odiff-server') {
    const {ODiffServer} = require('odiff-bin/server');
    const server = new ODiffServer(process.env.ODIFF_BINARY);
    let last = null;
    for (let i = 0; i < count; ++i) last = await server.compare(a, b, '/tmp/glimra-bench-odiff-diff.png', {threshold: 0});
    if (last.match !== false) throw new Error('odiff server: ' + JSON.stringify(last));
    // The server is killed, not waited for: its CPU is read first and told
    // on standard error, for bench/serve.sh to add.
    const fields = require('fs').readFileSync('/proc/' + server.process.pid + '/stat', 'utf8').split(') ')[1].split(' ');
    const ticks = Number(fields[11]) + Number(fields[12]);
    process.stderr.write('server-cpu-ms ' + (ticks * 10) + '\n');
    server.stop();
  } else {
    for (let i = 0; i < count; ++i) {
      await new Promise((resolve) => execFile(process.env.ODIFF_BINARY, [a, b, '--threshold', '0'], () => resolve()));
    }
  }
}
main();
