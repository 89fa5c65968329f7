// The page's worker (a module worker: new Worker('worker.js', {type:
// 'module'})): it loads the core, with WebAssembly threads when the page is
// cross-origin isolated, and answers the page's messages. The protocol is
// in web/README.md.
import { loadCore } from './core.js';

// Emscripten 3.1.6 knows a worker by importScripts, which module workers
// lack; the module never calls it there (its threads are classic workers).
self.importScripts ??= () => {
  throw new Error('a module worker loads no classic scripts');
};

const isolated = self.crossOriginIsolated === true;
// As `rzt2 -j N`: every thread the core uses, the processors the browser
// reports (at most 16) when threads can be had, else one.
const threads = isolated ? Math.max(1, Math.min(navigator.hardwareConcurrency || 1, 16)) : 1;
// The pictures' pixels may take half the memory the browser reports (its
// figure stops at 8 GiB), at most 3 GiB: the rest of WebAssembly's 4 GiB
// is the module's own. A 16000 x 12000 picture converts under it, with
// threads and without.
const defaultBudget = Math.min(((navigator.deviceMemory || 4) * 2 ** 30) / 2, 3 * 2 ** 30);

const ready = loadCore({ variant: isolated ? 'threads' : 'plain', threads }).then((core) => {
  const largestPicture = core.setMemoryBudget(defaultBudget);
  self.postMessage({
    type: 'ready',
    variant: core.variant,
    threads,
    memoryBudget: defaultBudget,
    largestPicture,
    ...core.settings(),
  });
  return core;
});

function reply(id, result, transfer = []) {
  self.postMessage({ id, type: 'result', ...result }, transfer);
}

// A viewer's pixels, handed over without a copy.
function replyPicture(id, picture) {
  if (picture.pixels === undefined) return reply(id, picture);
  return reply(id, picture, [picture.pixels.buffer]);
}

async function handle(core, message) {
  const { id, type } = message;
  switch (type) {
    case 'convert':
    case 'export': {
      const request = { ...message, kind: type, threads };
      const end = await core.runJob(id, request, (event) => {
        if (event.bytes !== undefined) {
          const { bytes, ...rest } = event;
          const buffer = bytes.buffer.byteLength === bytes.byteLength ? bytes.buffer : bytes.slice().buffer;
          self.postMessage({ id, ...rest, bytes: buffer }, [buffer]);
        } else {
          self.postMessage({ id, ...event });
        }
      });
      return end;
    }
    case 'cancel':
      return core.cancel(message.job);
    case 'setMemoryBudget':
      return reply(id, { largestPicture: core.setMemoryBudget(message.bytes) });
    case 'info':
      return reply(id, { report: core.info(message.name, message.bytes) });
    case 'check':
      return reply(id, core.check(message.name, message.bytes));
    case 'openMap':
      return reply(id, core.openMap(message.bytes));
    case 'preview':
      return replyPicture(id, core.mapPreview(message.view));
    case 'frame':
      return replyPicture(id, core.mapFrame(message.view, message.level, message.column, message.row));
    case 'closeMap':
      return reply(id, core.closeMap(message.view) ?? {});
    default:
      throw new Error(`no request is called ${type}`);
  }
}

self.onmessage = async ({ data }) => {
  const core = await ready;
  try {
    await handle(core, data);
  } catch (error) {
    self.postMessage({ id: data.id, type: 'refused', message: String(error.message ?? error) });
  }
};
