// The glue between JavaScript and the core's module (src/web/binding.cpp):
// it puts the page's files into the module's in-memory file system, runs
// jobs, hands each finished output back as bytes and removes what it put
// there, reads map files for the info report and the viewer. worker.js
// wraps it in a message protocol; the tests call it directly.
//
// Every file a job writes is complete when its "fileEnded" event comes
// (the core writes under a temporary name and renames), so nothing half
// written is ever handed over.

const pointerSize = 4;

// A Uint8Array view of bytes given as a view or an ArrayBuffer.
function asBytes(data) {
  if (data instanceof Uint8Array) return data;
  if (ArrayBuffer.isView(data)) return new Uint8Array(data.buffer, data.byteOffset, data.byteLength);
  return new Uint8Array(data);
}

// Names as a request gives them: relative paths without "." or ".." parts.
function checkName(name) {
  if (typeof name !== 'string' || name === '' || name.startsWith('/')) return false;
  return name.split('/').every((part) => part !== '' && part !== '.' && part !== '..');
}

export class Core {
  constructor(module, variant) {
    this.module = module;
    this.variant = variant;
    this.jobs = new Map();
    this.lastFolder = 0;
    this.views = new Map();
    module.onJobEvent = (id, text) => this.onJobEvent(id, text);
  }

  // Ends the module's threads, which would keep Node running; a page ends
  // its worker instead.
  close() {
    this.module.PThread?.terminateAllThreads();
  }

  // A string the module malloc'd, read and freed.
  takeString(pointer) {
    if (pointer === 0) return null;
    const text = this.module.UTF8ToString(pointer);
    this.module._free(pointer);
    return text;
  }

  // Calls fn with the strings copied into the module, freed afterwards.
  withStrings(strings, fn) {
    const pointers = strings.map((s) => {
      const size = this.module.lengthBytesUTF8(s) + 1;
      const pointer = this.module._malloc(size);
      this.module.stringToUTF8(s, pointer, size);
      return pointer;
    });
    try {
      return fn(...pointers);
    } finally {
      pointers.forEach((p) => this.module._free(p));
    }
  }

  newFolder(kind) {
    const folder = `/${kind}${++this.lastFolder}`;
    this.module.FS.mkdir(folder);
    return folder;
  }

  removeTree(path) {
    const FS = this.module.FS;
    if (!FS.analyzePath(path).exists) return;
    if (FS.isDir(FS.stat(path).mode)) {
      for (const entry of FS.readdir(path)) {
        if (entry !== '.' && entry !== '..') this.removeTree(`${path}/${entry}`);
      }
      FS.rmdir(path);
    } else {
      FS.unlink(path);
    }
  }

  writeFile(path, bytes) {
    const FS = this.module.FS;
    const parts = path.split('/');
    for (let i = 2; i < parts.length; ++i) {
      const folder = parts.slice(0, i).join('/');
      if (!FS.analyzePath(folder).exists) FS.mkdir(folder);
    }
    FS.writeFile(path, asBytes(bytes));
  }

  // The settings' declarations, the frame formats and the choices' values.
  settings() {
    return JSON.parse(this.takeString(this.module._rzt2_settings()));
  }

  // The bytes the pictures' pixels may take; answers the largest picture
  // then converted, in pixels.
  setMemoryBudget(bytes) {
    this.module._rzt2_set_memory_budget(bytes);
    return this.module._rzt2_largest_picture();
  }

  statusText(status) {
    return this.module.UTF8ToString(this.module._rzt2_status_text(status));
  }

  // Runs a job: {kind: "convert" | "export", files: [{name, bytes}],
  // settings, format, threads}. onEvent gets each event of the job; a
  // "fileEnded" of an output written carries its bytes (a Uint8Array) and
  // its file name. Resolves with the "end" event. Rejects a request that
  // describes no job, before any file is touched.
  runJob(id, request, onEvent) {
    const names = request.files.map((f) => f.name);
    if (!names.every(checkName)) return Promise.reject(new Error('files: a name is not a relative path'));
    if (new Set(names).size !== names.length) return Promise.reject(new Error('files: a name comes twice'));
    const folder = this.newFolder('job');
    return new Promise((resolve, reject) => {
      this.jobs.set(id, { folder, onEvent, resolve });
      try {
        for (const file of request.files) this.writeFile(`${folder}/${file.name}`, file.bytes);
        const description = JSON.stringify({
          kind: request.kind,
          folder,
          files: names,
          settings: request.settings ?? {},
          format: request.format,
          threads: request.threads ?? 1,
        });
        const refusal = this.takeString(this.withStrings([description], (p) => this.module._rzt2_start_job(id, p)));
        if (refusal !== null) throw new Error(refusal);
      } catch (error) {
        this.jobs.delete(id);
        this.removeTree(folder);
        reject(error);
      }
    });
  }

  cancel(id) {
    this.module._rzt2_cancel_job(id);
  }

  onJobEvent(id, pointer) {
    const event = JSON.parse(this.takeString(pointer));
    const job = this.jobs.get(id);
    if (job === undefined) return;
    if (event.type === 'fileEnded' && event.status === 'ok') {
      const path = `${job.folder}/${event.output}`;
      event.name = event.output.split('/').pop();
      event.bytes = this.module.FS.readFile(path);
      this.module.FS.unlink(path);
    }
    job.onEvent(event);
    if (event.type === 'end') {
      this.jobs.delete(id);
      this.removeTree(job.folder);
      job.resolve(event);
    }
  }

  // The object `rzt2 info --json NAME` prints for the file, parsed.
  info(name, bytes) {
    return JSON.parse(this.withMapFile(name, bytes, (p, n) => this.takeString(this.module._rzt2_info(p, n))))[0];
  }

  // {file, problems}: the problems `rzt2 check` finds, none for a sound file.
  check(name, bytes) {
    return JSON.parse(this.withMapFile(name, bytes, (p, n) => this.takeString(this.module._rzt2_check(p, n))));
  }

  withMapFile(name, bytes, fn) {
    const folder = this.newFolder('map');
    try {
      this.writeFile(`${folder}/map.rzt2`, bytes);
      return this.withStrings([`${folder}/map.rzt2`, name], fn);
    } finally {
      this.removeTree(folder);
    }
  }

  // A map for the viewer: {view, imageWidth, imageHeight, levels}, or
  // {status, cause} when it is no map file that can be read.
  openMap(bytes) {
    const folder = this.newFolder('view');
    this.writeFile(`${folder}/map.rzt2`, bytes);
    const statusPointer = this.module._malloc(4);
    try {
      const view = this.withStrings([`${folder}/map.rzt2`], (p) => this.module._rzt2_map_open(p, statusPointer));
      if (view === 0) {
        const status = this.module.HEAP32[statusPointer >> 2];
        this.removeTree(folder);
        return { status, cause: this.statusText(status) };
      }
      this.views.set(view, folder);
      return { view, ...JSON.parse(this.takeString(this.module._rzt2_map_levels(view))) };
    } finally {
      this.module._free(statusPointer);
    }
  }

  closeMap(view) {
    this.module._rzt2_map_close(view);
    const folder = this.views.get(view);
    this.views.delete(view);
    if (folder !== undefined) this.removeTree(folder);
  }

  // {width, height, pixels} (RGBA, a Uint8ClampedArray for ImageData), or
  // {status, cause} for a frame that cannot be shown.
  mapPreview(view) {
    return this.takePicture((size, pixels) => this.module._rzt2_map_preview(view, size, pixels));
  }

  mapFrame(view, level, column, row) {
    return this.takePicture((size, pixels) => this.module._rzt2_map_frame(view, level, column, row, size, pixels));
  }

  takePicture(call) {
    const out = this.module._malloc(3 * pointerSize);
    try {
      const status = call(out, out + 2 * pointerSize);
      if (status !== 0) return { status, cause: this.statusText(status) };
      const [width, height, pixels] = new Uint32Array(this.module.HEAPU8.buffer, out, 3);
      const copy = new Uint8ClampedArray(width * height * 4);
      copy.set(this.module.HEAPU8.subarray(pixels, pixels + copy.length));
      this.module._free(pixels);
      return { width, height, pixels: copy };
    } finally {
      this.module._free(out);
    }
  }
}

// Loads the module with threads ("threads") or without ("plain"); threads
// is the job's thread budget, for which the module starts its workers.
// moduleUrl and moduleArgs (Emscripten's module settings) serve hosts that
// keep the module elsewhere, such as Node.
export async function loadCore({ variant = 'plain', threads = 1, moduleUrl, moduleArgs = {} } = {}) {
  const file = variant === 'threads' ? './rzt2core-threads.js' : './rzt2core.js';
  const { default: createCore } = await import(moduleUrl ?? new URL(file, import.meta.url).href);
  const module = await createCore({ threadPoolSize: variant === 'threads' ? threads + 1 : 0, ...moduleArgs });
  return new Core(module, variant);
}
