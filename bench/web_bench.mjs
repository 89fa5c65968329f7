// bench/run-web-bench's measures: node web_bench.mjs RZT2 DIST PICTURE.
import { spawnSync } from 'node:child_process';
import { mkdtempSync, readFileSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { basename, join } from 'node:path';
import { brotliCompressSync, constants, gzipSync } from 'node:zlib';

import { loadCoreInNode } from '../tests/web/node_core.mjs';

const [rzt2, dist, picture] = process.argv.slice(2);
const loadCore = (options) => loadCoreInNode(dist, options);
const bytes = readFileSync(picture);
const pngFrames = { EncoderCode: 2 };

function nativeSeconds(threads) {
  const out = mkdtempSync(join(tmpdir(), 'rzt2-bench-'));
  try {
    const start = process.hrtime.bigint();
    const run = spawnSync(rzt2, ['convert', '-q', '--ignore-settings', '--format', 'png', '-j', String(threads),
      '-o', out, picture]);
    if (run.status !== 0) throw new Error(`rzt2 failed: ${run.stderr}`);
    return Number(process.hrtime.bigint() - start) / 1e9;
  } finally {
    rmSync(out, { recursive: true, force: true });
  }
}

async function webSeconds(core, threads, id) {
  const start = process.hrtime.bigint();
  const end = await core.runJob(id, {
    kind: 'convert',
    files: [{ name: basename(picture), bytes }],
    settings: pngFrames,
    threads,
  }, () => {});
  if (end.failed !== 0) throw new Error('the module failed the file');
  return Number(process.hrtime.bigint() - start) / 1e9;
}

async function best(times, measure) {
  let fastest = Infinity;
  for (let i = 0; i < times; ++i) fastest = Math.min(fastest, await measure());
  return fastest;
}

let job = 0;
for (const [variant, threads] of [['plain', 1], ['threads', 2]]) {
  const core = await loadCore({ variant, threads });
  core.setMemoryBudget(2 ** 30);
  const web = await best(2, () => webSeconds(core, threads, ++job));
  const native = await best(2, () => nativeSeconds(threads));
  console.log(`${basename(picture)} to PNG frames, ${threads} thread${threads > 1 ? 's' : ''}: ` +
    `module (${variant}) ${web.toFixed(2)} s, rzt2 -j ${threads} ${native.toFixed(2)} s, ` +
    `${(web / native).toFixed(2)} times`);
  core.close();
}

const pageFiles = {
  plain: ['worker.js', 'core.js', 'rzt2core.js', 'rzt2core.wasm'],
  threads: ['worker.js', 'core.js', 'rzt2core-threads.js', 'rzt2core-threads.wasm', 'rzt2core-threads.worker.js'],
};
for (const [variant, files] of Object.entries(pageFiles)) {
  let raw = 0;
  let gzip = 0;
  let brotli = 0;
  for (const file of files) {
    const content = readFileSync(join(dist, file));
    raw += content.length;
    gzip += gzipSync(content, { level: 9 }).length;
    brotli += brotliCompressSync(content, { params: { [constants.BROTLI_PARAM_QUALITY]: 11 } }).length;
  }
  const mib = (n) => `${(n / 2 ** 20).toFixed(2)} MiB`;
  console.log(`page load (${variant}): ${mib(raw)}, gzip -9 ${mib(gzip)}, brotli ${mib(brotli)}`);
}
process.exit(0);
