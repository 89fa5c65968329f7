// Loads the browser's modules in Node, for the tests and the benchmark.
// Emscripten 3.1.6 writes them as ES modules named .js, which Node takes
// for CommonJS, and whose Node branch uses require and __dirname: they are
// copied as .mjs into a folder of their own, with those two provided, and
// told where their files are.
import { copyFileSync, mkdtempSync, readdirSync, rmSync } from 'node:fs';
import { createRequire } from 'node:module';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { pathToFileURL } from 'node:url';

const copies = [];
process.on('exit', () => copies.forEach((folder) => rmSync(folder, { recursive: true, force: true })));

export async function loadCoreInNode(dist, { variant = 'plain', threads = 1 } = {}) {
  const folder = mkdtempSync(join(tmpdir(), 'rzt2-web-modules-'));
  copies.push(folder);
  for (const name of readdirSync(dist)) {
    const module = /^rzt2core(-threads)?\.js$/.test(name) || name === 'core.js';
    copyFileSync(join(dist, name), join(folder, module ? name.replace(/\.js$/, '.mjs') : name));
  }
  globalThis.require = createRequire(import.meta.url);
  globalThis.__dirname = folder;
  const main = join(folder, variant === 'threads' ? 'rzt2core-threads.mjs' : 'rzt2core.mjs');
  const { loadCore } = await import(pathToFileURL(join(folder, 'core.mjs')).href);
  return loadCore({
    variant,
    threads,
    moduleUrl: pathToFileURL(main).href,
    moduleArgs: { locateFile: (file) => join(folder, file), mainScriptUrlOrBlob: pathToFileURL(main).href },
  });
}
