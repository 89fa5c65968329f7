// The browser's modules against rzt2 on the same files: the same maps byte
// for byte (but for the random block, bytes 64 to 103), the same failures
// and causes, the same export and info report, with threads and without.
// RZT2_WEB_DIST is the folder scripts/build-web fills, RZT2 the native
// command-line tool.
import assert from 'node:assert/strict';
import { execFileSync, spawnSync } from 'node:child_process';
import { mkdtempSync, readFileSync, readdirSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { after, before, describe, test } from 'node:test';

import { loadCoreInNode } from './node_core.mjs';

const dist = process.env.RZT2_WEB_DIST;
const rzt2 = process.env.RZT2;
const loadCore = (options) => loadCoreInNode(dist, options);

const pictures = mkdtempSync(join(tmpdir(), 'rzt2-web-'));
after(() => rmSync(pictures, { recursive: true, force: true }));
execFileSync('/usr/bin/python3', [new URL('make_pictures.py', import.meta.url).pathname, pictures]);
const read = (name) => readFileSync(join(pictures, name));

// rzt2 in the pictures' folder: its outputs in a folder of their own, and
// its report, one JSON object per file.
function native(args, names) {
  const out = mkdtempSync(join(pictures, 'native-'));
  const run = spawnSync(rzt2, [...args, '--ignore-settings', '-q', '-j', '1', '-o', out, '--report', '-', ...names], {
    cwd: pictures,
    encoding: 'utf8',
  });
  const report = run.stdout.trim().split('\n').filter(Boolean).map((line) => JSON.parse(line));
  const outputs = Object.fromEntries(readdirSync(out).map((name) => [name, readFileSync(join(out, name))]));
  return { report, outputs };
}

// Bytes 64 to 103 of a map are its random block.
function assertSameMap(web, made, name) {
  assert.equal(web.length, made.length, `${name}: sizes differ`);
  const masked = (bytes) => Buffer.concat([bytes.subarray(0, 64), bytes.subarray(104)]);
  assert.ok(masked(Buffer.from(web)).equals(masked(made)), `${name}: bytes differ`);
}

async function run(core, request) {
  const events = [];
  const end = await core.runJob(++lastJob, request, (event) => events.push(event));
  const outputs = Object.fromEntries(events.filter((e) => e.bytes).map((e) => [e.name, e.bytes]));
  return { end, events, outputs, errors: events.filter((e) => e.type === 'error') };
}
let lastJob = 0;

const batch = ['opaque.png', 'photo.jpg', 'clear.png', 'broken.png'];
const files = (names) => names.map((name) => ({ name, bytes: read(name) }));

for (const variant of ['plain', 'threads']) {
  describe(`the ${variant} module`, () => {
    let core;
    before(async () => {
      core = await loadCore({ variant, threads: 2 });
      core.setMemoryBudget(2 ** 30);
    });
    after(() => core.close());

    for (const palette of [0, 1]) {
      test(`converts opaque pictures as rzt2 does, palette ${palette}, PNG frames`, async () => {
        const names = ['opaque.png', 'photo.jpg'];
        const made = native(['convert', '--format', 'png', '--palette', palette ? 'adaptive' : 'fixed'], names);
        const settings = { PaletteMode: palette, EncoderCode: 2 };
        const web = await run(core, { kind: 'convert', files: files(names), settings, threads: 2 });
        assert.deepEqual(Object.keys(web.outputs).sort(), ['opaque.rzt2', 'photo.rzt2']);
        for (const name of Object.keys(web.outputs)) assertSameMap(web.outputs[name], made.outputs[name], name);
        assert.deepEqual([web.end.files, web.end.failed, web.end.cancelled], [2, 0, false]);
      });

      test(`converts a picture with transparent areas as rzt2 does, palette ${palette}`, async () => {
        const made = native(['convert', '--palette', palette ? 'adaptive' : 'fixed'], ['clear.png']);
        const web = await run(core, { kind: 'convert', files: files(['clear.png']), settings: { PaletteMode: palette } });
        assertSameMap(web.outputs['clear.rzt2'], made.outputs['clear.rzt2'], 'clear.rzt2');
      });
    }

    test('a damaged picture fails with the cause rzt2 gives, and the others are made', async () => {
      const made = native(['convert'], batch);
      const web = await run(core, { kind: 'convert', files: files(batch), threads: 2 });
      const failed = made.report.find((r) => r.input === 'broken.png');
      assert.deepEqual(web.errors.map((e) => [e.message, e.cause]), [['Error loading file broken.png!', failed.cause]]);
      assert.deepEqual(Object.keys(web.outputs).sort(), ['clear.rzt2', 'opaque.rzt2', 'photo.rzt2']);
      assert.deepEqual([web.end.files, web.end.failed, web.end.cancelled], [4, 1, false]);
    });

    test('the 100 % level of a picture with transparent areas is rzt2\'s', async () => {
      const map = (await run(core, { kind: 'convert', files: files(['clear.png']) })).outputs['clear.rzt2'];
      const exported = await run(core, { kind: 'export', files: [{ name: 'clear.rzt2', bytes: map }], format: 'png' });
      const made = native(['convert'], ['clear.png']).outputs['clear.rzt2'];
      const mapPath = join(mkdtempSync(join(pictures, 'clear-')), 'clear.rzt2');
      execFileSync('/bin/sh', ['-c', 'cat > "$1"', 'sh', mapPath], { input: made });
      const nativeExport = native(['export', '--format', 'png'], [mapPath]).outputs['clear.png'];
      assert.ok(Buffer.from(exported.outputs['clear.png']).equals(nativeExport), 'the 100 % level differs');
    });

    test('exports a map to PNG as rzt2 does, and reports on it as rzt2 info --json', async () => {
      const map = (await run(core, { kind: 'convert', files: files(['opaque.png']) })).outputs['opaque.rzt2'];
      const made = native(['convert'], ['opaque.png']);
      const nativeMap = made.outputs['opaque.rzt2'];
      const exported = await run(core, { kind: 'export', files: [{ name: 'opaque.rzt2', bytes: nativeMap }], format: 'png' });
      const mapFolder = mkdtempSync(join(pictures, 'map-'));
      const mapPath = join(mapFolder, 'opaque.rzt2');
      execFileSync('/bin/sh', ['-c', 'cat > "$1"', 'sh', mapPath], { input: nativeMap });
      const nativeExport = native(['export', '--format', 'png'], [mapPath]).outputs['opaque.png'];
      assert.ok(Buffer.from(exported.outputs['opaque.png']).equals(nativeExport), 'the exported PNG differs');

      const info = JSON.parse(execFileSync(rzt2, ['info', '--json', 'opaque.rzt2'], { cwd: mapFolder, encoding: 'utf8' }));
      assert.deepEqual([core.info('opaque.rzt2', nativeMap)], info);
      assert.deepEqual(core.check('opaque.rzt2', map), { file: 'opaque.rzt2', problems: [] });
    });

    test('refuses a PDF, naming the programs that convert it, and goes on', async () => {
      const web = await run(core, { kind: 'convert', files: files(['drawing.pdf', 'clear.png']) });
      assert.deepEqual(
        web.errors.map((e) => [e.message, e.cause]),
        [[
          'Error loading file drawing.pdf!',
          'PDF pictures are converted by the desktop program rzt2tool and the command-line tool rzt2, not in the browser',
        ]],
      );
      assert.deepEqual(Object.keys(web.outputs), ['clear.rzt2']);
    });

    test('refuses a picture over the memory budget from its header, saying the largest it takes', async () => {
      // Its pixels alone would fit: refused at the header, not when allocated.
      assert.equal(core.setMemoryBudget(120e6), 20e6);
      try {
        const web = await run(core, { kind: 'convert', files: files(['huge.png', 'clear.png']) });
        assert.deepEqual(
          web.errors.map((e) => [e.message, e.cause]),
          [[
            'Error loading file huge.png!',
            'needs more memory than the browser grants: pictures of at most 20 megapixels are converted here',
          ]],
        );
        assert.deepEqual(Object.keys(web.outputs), ['clear.rzt2']);
      } finally {
        core.setMemoryBudget(2 ** 30);
      }
    });

    test('shows a map: its levels, and each frame as the export holds it', async () => {
      const made = native(['convert', '--frame', '64x48'], ['opaque.png']);
      const view = core.openMap(made.outputs['opaque.rzt2']);
      try {
        assert.equal(view.levels[0].scale, 10000);
        assert.deepEqual([view.imageWidth, view.imageHeight], [413, 287]);
        const { frameWidth, frameHeight, columns, rows } = view.levels[0];
        const frame = core.mapFrame(view.view, view.levels[0].level, columns - 1, rows - 1);
        assert.deepEqual([frame.width, frame.height], [frameWidth, frameHeight]);
        // The last frame against the same pixels of rzt2's export, read by PIL.
        const mapPath = join(pictures, 'viewed.rzt2');
        execFileSync('/bin/sh', ['-c', 'cat > "$1"', 'sh', mapPath], { input: made.outputs['opaque.rzt2'] });
        const png = native(['export', '--format', 'png'], ['viewed.rzt2']).outputs['viewed.png'];
        const left = (columns - 1) * frameWidth;
        const top = (rows - 1) * frameHeight;
        const region = execFileSync('/usr/bin/python3', ['-c', [
          'import sys, io',
          'from PIL import Image',
          'picture = Image.open(io.BytesIO(sys.stdin.buffer.read())).convert("RGBA")',
          `right, bottom = min(${left + frameWidth}, picture.width), min(${top + frameHeight}, picture.height)`,
          `sys.stdout.buffer.write(picture.crop((${left}, ${top}, right, bottom)).tobytes())`,
        ].join('\n')], { input: png });
        const shownWidth = Math.min(frameWidth, 413 - left);
        for (let y = 0; y < region.length / (4 * shownWidth); ++y) {
          const row = Buffer.from(frame.pixels.buffer, y * frameWidth * 4, shownWidth * 4);
          assert.ok(row.equals(region.subarray(y * shownWidth * 4, (y + 1) * shownWidth * 4)), `row ${y} differs`);
        }
        assert.equal(core.mapFrame(view.view, view.levels[0].level, columns, 0).cause, 'invalid parameter');
      } finally {
        core.closeMap(view.view);
      }
    });
  });
}

test('a stop asked of a job with threads abandons the file being written', async () => {
  const core = await loadCore({ variant: 'threads', threads: 2 });
  const id = ++lastJob;
  const events = [];
  const request = { kind: 'convert', files: files(['large.png', 'photo.jpg']), threads: 2 };
  const end = await core.runJob(id, request, (event) => {
    events.push(event);
    if (event.type === 'batch' && event.zoom !== null) core.cancel(id);
  });
  core.close();
  assert.equal(end.cancelled, true);
  assert.deepEqual(events.filter((e) => e.type === 'fileEnded' || e.type === 'error'), []);
});
