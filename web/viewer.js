// The map viewer: one map file shown the way a phone viewer shows it, from
// the file's own frames. The stored level nearest to the zoom is drawn,
// each frame at its place, scaled smoothly between levels and copied 1:1
// at a level's own zoom; the preview stands in for frames still coming,
// and alone farther out than half the coarsest level's zoom. A frame that
// does not decode is a white square with a red cross, its cause in the
// status line.
//
// Zooms are canvas pixels (the screen's own) per picture pixel. Drag, a
// finger or the arrow keys pan; the wheel, two fingers or + and - zoom;
// Home fits the picture; Escape closes.

const fullScale = 10000;
const maxZoom = 8;
const sameZoom = 1e-9;
const background = 'rgb(128, 128, 128)';
const outlineColour = 'rgb(0, 120, 255)';
const damageColour = 'rgb(220, 0, 0)';
const panParts = 4; // an arrow key pans by a quarter of the view
const wheelStep = 120; // one notch of a wheel
const framesInFlight = 4; // asked of the worker at once; the rest wait their turn
const cacheBytes = 256 * 2 ** 20;

// A stored level as the viewer uses it: the picture pixels one frame covers.
function viewLevel(level) {
  const cover = (side) => Math.max(1, Math.floor((side * fullScale) / level.scale));
  const coverWidth = cover(level.frameWidth);
  return { ...level, coverWidth, coverHeight: cover(level.frameHeight), zoom: level.frameWidth / coverWidth };
}

// The level nearest to zoom by ratio; the finer one on a tie.
export function nearestLevel(levels, zoom) {
  let best = 0;
  let bestDistance = Infinity;
  levels.forEach((level, i) => {
    const distance = Math.abs(Math.log(level.zoom / zoom));
    const finer = level.zoom > levels[best].zoom;
    if (distance < bestDistance - sameZoom || (distance <= bestDistance + sameZoom && finer)) {
      best = i;
      bestDistance = distance;
    }
  });
  return best;
}

// The next zoom step in or out, within [minZoom, maxZoom]: every level's own
// zoom is a step, and the steps between go by at most the square root of 2.
export function nextZoom(levels, zoom, minZoom, zoomIn) {
  const anchors = [maxZoom, minZoom, ...levels.map((l) => l.zoom).filter((z) => z > minZoom && z < maxZoom)];
  anchors.sort((a, b) => a - b);
  const steps = [anchors[0]];
  for (let i = 1; i < anchors.length; ++i) {
    const ratio = anchors[i] / anchors[i - 1];
    if (ratio <= 1 + sameZoom) continue;
    const parts = Math.max(1, Math.ceil(Math.log2(ratio) * 2 - sameZoom));
    for (let k = 1; k < parts; ++k) steps.push(anchors[i - 1] * ratio ** (k / parts));
    steps.push(anchors[i]);
  }
  if (zoomIn) return steps.find((step) => step > zoom * (1 + sameZoom)) ?? steps[steps.length - 1];
  return steps.findLast((step) => step < zoom * (1 - sameZoom)) ?? steps[0];
}

// The origin along one axis: the picture centred when smaller than the
// view, else kept covering it; whole pixels, so frames keep their size.
function clampAxis(origin, extent, view) {
  if (extent <= view) return Math.round((extent - view) / 2);
  return Math.min(Math.max(Math.round(origin), 0), Math.ceil(extent - view));
}

// Rounding half up is the same for every edge shifted by whole pixels.
const edge = (position) => Math.floor(position + 0.5);

export class MapViewer {
  // dialog: the viewer's <dialog>; core: the CoreClient.
  constructor(dialog, core) {
    this.dialog = dialog;
    this.core = core;
    this.canvas = dialog.querySelector('canvas');
    this.context = this.canvas.getContext('2d', { alpha: false });
    this.status = {
      level: dialog.querySelector('[data-status=level]'),
      zoom: dialog.querySelector('[data-status=zoom]'),
      point: dialog.querySelector('[data-status=point]'),
      frame: dialog.querySelector('[data-status=frame]'),
      damage: dialog.querySelector('[data-status=damage]'),
    };
    this.outlineButton = dialog.querySelector('[data-action=outline]');
    this.keysNote = dialog.querySelector('.viewer-keys');
    this.bindControls();
    this.resizeObserver = new ResizeObserver(() => this.resize());
  }

  bindControls() {
    const actions = {
      fit: () => this.fit(),
      'zoom-in': () => this.zoomStep(true),
      'zoom-out': () => this.zoomStep(false),
      outline: () => this.setOutlines(!this.outlines),
      keys: () => (this.keysNote.hidden = !this.keysNote.hidden),
      close: () => this.dialog.close(),
    };
    for (const [name, action] of Object.entries(actions)) {
      this.dialog.querySelector(`[data-action=${name}]`).addEventListener('click', action);
    }
    this.dialog.addEventListener('close', () => this.close());
    this.canvas.addEventListener('keydown', (event) => this.onKey(event));
    this.canvas.addEventListener('wheel', (event) => this.onWheel(event), { passive: false });
    this.pointers = new Map();
    this.canvas.addEventListener('pointerdown', (event) => this.onPointerDown(event));
    this.canvas.addEventListener('pointermove', (event) => this.onPointerMove(event));
    for (const type of ['pointerup', 'pointercancel']) {
      this.canvas.addEventListener(type, (event) => this.onPointerUp(event));
    }
    this.canvas.addEventListener('pointerleave', () => {
      this.hover = null;
      this.showStatus();
    });
  }

  // Opens a map's bytes (kept by the caller) in the dialog; rejects with the
  // cause when it is no map that can be read.
  async open(name, bytes) {
    const opened = await this.core.request({ type: 'openMap', bytes: bytes.slice(0) });
    if (opened.view === undefined) throw new Error(opened.cause);
    this.view = opened.view;
    this.levels = opened.levels.map(viewLevel);
    const first = this.levels[0];
    this.pictureWidth = Math.max(1, opened.imageWidth || first.columns * first.coverWidth);
    this.pictureHeight = Math.max(1, opened.imageHeight || first.rows * first.coverHeight);
    this.cache = new Map(); // "level,column,row" -> {bitmap} | {cause}, oldest first
    this.cachedBytes = 0;
    this.queue = [];
    this.inFlight = new Set();
    this.damage = '';
    this.preview = null;
    this.previewAbsent = false;
    this.fitted = true;
    this.outlines = false;
    this.outlineButton.setAttribute('aria-pressed', 'false');
    this.hover = null;
    this.wheelAngle = 0;
    this.dialog.querySelector('.viewer-title').textContent = `${name} - RZT2 map viewer`;
    this.dialog.showModal();
    this.resizeObserver.observe(this.canvas);
    this.canvas.focus();
    this.resize();
    this.loadPreview();
  }

  close() {
    this.resizeObserver.disconnect();
    if (this.view === undefined) return;
    const view = this.view;
    this.view = undefined;
    for (const entry of this.cache.values()) entry.bitmap?.close();
    this.cache.clear();
    this.preview?.close();
    for (const line of Object.values(this.status)) line.textContent = '';
    this.core.request({ type: 'closeMap', view }).catch(() => {});
  }

  async loadPreview() {
    const view = this.view;
    const answer = await this.core.request({ type: 'preview', view });
    if (view !== this.view) return;
    if (answer.pixels === undefined) {
      this.previewAbsent = true;
    } else {
      this.preview = await toBitmap(answer);
    }
    this.viewChanged();
  }

  resize() {
    const scale = window.devicePixelRatio || 1;
    const box = this.canvas.getBoundingClientRect();
    const width = Math.max(1, Math.round(box.width * scale));
    const height = Math.max(1, Math.round(box.height * scale));
    if (width === this.canvas.width && height === this.canvas.height && this.zoom !== undefined) return;
    const before = [this.canvas.width, this.canvas.height];
    this.canvas.width = width;
    this.canvas.height = height;
    if (this.fitted || this.zoom === undefined) {
      this.zoom = this.fitZoom();
      this.origin = [0, 0];
    } else {
      // The picture point in the middle stays there.
      this.origin = this.origin.map((o, i) => Math.round(o + before[i] / 2 - [width, height][i] / 2));
    }
    this.viewChanged();
  }

  fitZoom() {
    return Math.min(this.canvas.width / this.pictureWidth, this.canvas.height / this.pictureHeight, maxZoom);
  }

  minZoom() {
    return Math.min(this.fitZoom(), ...this.levels.map((l) => l.zoom));
  }

  get level() {
    return this.levels[this.levelIndex];
  }

  showsFrames() {
    const coarsest = Math.min(...this.levels.map((l) => l.zoom));
    return this.previewAbsent || this.zoom >= coarsest / 2;
  }

  fit() {
    this.zoom = this.fitZoom();
    this.fitted = true;
    this.viewChanged();
  }

  zoomStep(zoomIn) {
    const anchor = this.hover ?? [this.canvas.width / 2, this.canvas.height / 2];
    this.zoomAbout(nextZoom(this.levels, this.zoom, this.minZoom(), zoomIn), anchor);
  }

  zoomAbout(zoom, [x, y]) {
    const fixed = this.toPicture(x, y);
    this.zoom = Math.min(Math.max(zoom, this.minZoom()), maxZoom);
    this.origin = [fixed[0] * this.zoom - x, fixed[1] * this.zoom - y];
    this.fitted = false;
    this.viewChanged();
  }

  panBy(dx, dy) {
    this.origin = [this.origin[0] + dx, this.origin[1] + dy];
    this.fitted = false;
    this.viewChanged();
  }

  setOutlines(on) {
    this.outlines = on;
    this.outlineButton.setAttribute('aria-pressed', String(on));
    this.draw();
  }

  toPicture(x, y) {
    return [(x + this.origin[0]) / this.zoom, (y + this.origin[1]) / this.zoom];
  }

  // After any change of zoom, place or size: keeps the picture in view,
  // picks the level, asks for the missing frames, draws.
  viewChanged() {
    if (this.view === undefined) return;
    this.origin = [
      clampAxis(this.origin[0], this.pictureWidth * this.zoom, this.canvas.width),
      clampAxis(this.origin[1], this.pictureHeight * this.zoom, this.canvas.height),
    ];
    this.levelIndex = nearestLevel(this.levels, this.zoom);
    this.requestFrames();
    this.draw();
    this.showStatus();
  }

  // The frames of the level shown that meet the canvas, in rows.
  visibleFrames() {
    const level = this.level;
    if (!this.showsFrames()) return [];
    const span = (origin, view, cover, count) => {
      const size = cover * this.zoom;
      const first = Math.max(Math.floor(origin / size) - 1, 0);
      const last = Math.min(Math.floor((origin + view) / size) + 1, count - 1);
      return [first, last];
    };
    const [firstColumn, lastColumn] = span(this.origin[0], this.canvas.width, level.coverWidth, level.columns);
    const [firstRow, lastRow] = span(this.origin[1], this.canvas.height, level.coverHeight, level.rows);
    const frames = [];
    for (let row = firstRow; row <= lastRow; ++row) {
      for (let column = firstColumn; column <= lastColumn; ++column) {
        const rect = this.frameRect(column, row);
        if (rect.right > 0 && rect.bottom > 0 && rect.left < this.canvas.width && rect.top < this.canvas.height) {
          frames.push({ column, row, rect, key: `${level.level},${column},${row}` });
        }
      }
    }
    return frames;
  }

  frameRect(column, row) {
    const { coverWidth, coverHeight } = this.level;
    const left = edge(column * coverWidth * this.zoom - this.origin[0]);
    const top = edge(row * coverHeight * this.zoom - this.origin[1]);
    const right = edge((column + 1) * coverWidth * this.zoom - this.origin[0]);
    const bottom = edge((row + 1) * coverHeight * this.zoom - this.origin[1]);
    return { left, top, right, bottom, width: right - left, height: bottom - top };
  }

  // The middle of the view first; a newer view replaces the frames waiting.
  requestFrames() {
    const middle = [this.canvas.width / 2, this.canvas.height / 2];
    const distance = ({ rect }) =>
      (rect.left + rect.width / 2 - middle[0]) ** 2 + (rect.top + rect.height / 2 - middle[1]) ** 2;
    this.queue = this.visibleFrames()
      .filter(({ key }) => !this.cache.has(key) && !this.inFlight.has(key))
      .sort((a, b) => distance(a) - distance(b))
      .map(({ column, row, key }) => ({ level: this.level.level, column, row, key }));
    this.pump();
  }

  pump() {
    while (this.inFlight.size < framesInFlight && this.queue.length > 0) {
      const wanted = this.queue.shift();
      this.inFlight.add(wanted.key);
      this.loadFrame(wanted);
    }
  }

  async loadFrame({ level, column, row, key }) {
    const view = this.view;
    let entry;
    try {
      const answer = await this.core.request({ type: 'frame', view, level, column, row });
      entry = answer.pixels === undefined ? { cause: answer.cause } : { bitmap: await toBitmap(answer) };
    } catch (error) {
      entry = { cause: error.message };
    }
    if (view !== this.view) {
      entry.bitmap?.close();
      return;
    }
    this.inFlight.delete(key);
    this.remember(key, entry);
    if (entry.cause !== undefined) this.damage = `frame ${column}, ${row} of level ${level}: ${entry.cause}`;
    this.pump();
    this.draw();
    this.showStatus();
  }

  // The decoded frames, the oldest dropped past the cache's bytes.
  remember(key, entry) {
    this.cache.set(key, entry);
    this.cachedBytes += entry.bitmap ? entry.bitmap.width * entry.bitmap.height * 4 : 0;
    for (const [oldKey, old] of this.cache) {
      if (this.cachedBytes <= cacheBytes) break;
      this.cache.delete(oldKey);
      if (old.bitmap) {
        this.cachedBytes -= old.bitmap.width * old.bitmap.height * 4;
        old.bitmap.close();
      }
    }
  }

  draw() {
    if (this.view === undefined) return;
    const context = this.context;
    const { width, height } = this.canvas;
    context.fillStyle = background;
    context.fillRect(0, 0, width, height);
    context.imageSmoothingEnabled = true;
    context.imageSmoothingQuality = 'high';
    // Frames at the right and bottom are padded past the picture: only the
    // picture's own area is drawn, as an export holds it.
    const picture = [-this.origin[0], -this.origin[1], this.pictureWidth * this.zoom, this.pictureHeight * this.zoom];
    context.save();
    context.beginPath();
    context.rect(...picture);
    context.clip();
    const frames = this.visibleFrames();
    const missing = !this.showsFrames() || frames.some(({ key }) => !this.cache.has(key));
    if (missing && this.preview) context.drawImage(this.preview, ...picture);
    for (const { rect, key } of frames) {
      const entry = this.cache.get(key);
      if (entry?.bitmap) context.drawImage(entry.bitmap, rect.left, rect.top, rect.width, rect.height);
      else if (entry?.cause !== undefined) drawDamage(context, rect);
    }
    context.restore();
    if (this.outlines) {
      context.strokeStyle = outlineColour;
      context.lineWidth = 1;
      for (const { rect } of frames) context.strokeRect(rect.left + 0.5, rect.top + 0.5, rect.width - 1, rect.height - 1);
    }
  }

  showStatus() {
    if (this.view === undefined) return;
    const level = this.level;
    this.status.level.textContent = this.showsFrames() ? `Level ${level.scale / 100} %` : 'Preview';
    this.status.zoom.textContent = `Zoom ${Number((this.zoom * 100).toPrecision(3))} %`;
    const point = this.hover ? this.toPicture(...this.hover) : null;
    const inside = point && point[0] >= 0 && point[1] >= 0 && point[0] < this.pictureWidth && point[1] < this.pictureHeight;
    this.status.point.textContent = inside ? `x ${Math.floor(point[0])}, y ${Math.floor(point[1])}` : '';
    this.status.frame.textContent = inside ? this.describeFrameAt(point) : '';
    this.status.damage.textContent = this.damage;
  }

  describeFrameAt([x, y]) {
    const level = this.level;
    if (!this.showsFrames()) return '';
    const column = Math.floor(x / level.coverWidth);
    const row = Math.floor(y / level.coverHeight);
    if (column >= level.columns || row >= level.rows) return '';
    const name = `frame ${column}, ${row} of level ${level.level}`;
    const entry = this.cache.get(`${level.level},${column},${row}`);
    return entry?.cause !== undefined ? `${name}: ${entry.cause}` : name;
  }

  onKey(event) {
    const stepX = Math.max(Math.floor(this.canvas.width / panParts), 1);
    const stepY = Math.max(Math.floor(this.canvas.height / panParts), 1);
    const keys = {
      ArrowLeft: () => this.panBy(-stepX, 0),
      ArrowRight: () => this.panBy(stepX, 0),
      ArrowUp: () => this.panBy(0, -stepY),
      ArrowDown: () => this.panBy(0, stepY),
      '+': () => this.zoomStep(true),
      '=': () => this.zoomStep(true),
      '-': () => this.zoomStep(false),
      Home: () => this.fit(),
    };
    const action = keys[event.key];
    if (action === undefined || event.ctrlKey || event.metaKey || event.altKey) return;
    event.preventDefault();
    action();
  }

  canvasPoint(event) {
    const box = this.canvas.getBoundingClientRect();
    const scale = this.canvas.width / box.width;
    return [(event.clientX - box.left) * scale, (event.clientY - box.top) * scale];
  }

  onWheel(event) {
    event.preventDefault();
    // Fine-grained wheels and touchpads send parts of a notch.
    const notch = event.deltaMode === WheelEvent.DOM_DELTA_PIXEL ? 100 : 3;
    this.wheelAngle -= (event.deltaY / notch) * wheelStep;
    this.hover = this.canvasPoint(event);
    for (; this.wheelAngle >= wheelStep; this.wheelAngle -= wheelStep) this.zoomStep(true);
    for (; this.wheelAngle <= -wheelStep; this.wheelAngle += wheelStep) this.zoomStep(false);
  }

  onPointerDown(event) {
    this.canvas.focus();
    this.canvas.setPointerCapture(event.pointerId);
    this.pointers.set(event.pointerId, this.canvasPoint(event));
    this.pinch = null;
    this.canvas.classList.add('dragging');
  }

  onPointerMove(event) {
    const at = this.canvasPoint(event);
    const from = this.pointers.get(event.pointerId);
    if (event.pointerType === 'mouse') this.hover = at;
    if (from === undefined) {
      this.showStatus();
      return;
    }
    this.pointers.set(event.pointerId, at);
    if (this.pointers.size === 1) {
      this.panBy(from[0] - at[0], from[1] - at[1]);
      return;
    }
    // Two fingers: the zoom follows their distance, about their middle.
    const [a, b] = [...this.pointers.values()];
    const spread = Math.hypot(a[0] - b[0], a[1] - b[1]);
    const middle = [(a[0] + b[0]) / 2, (a[1] + b[1]) / 2];
    if (this.pinch) this.zoomAbout((this.zoom * spread) / this.pinch, middle);
    this.pinch = spread;
  }

  onPointerUp(event) {
    this.pointers.delete(event.pointerId);
    this.pinch = null;
    if (this.pointers.size === 0) this.canvas.classList.remove('dragging');
  }
}

function toBitmap({ width, height, pixels }) {
  const data = new ImageData(pixels, width, height);
  return createImageBitmap(data, { premultiplyAlpha: 'none', colorSpaceConversion: 'none' });
}

function drawDamage(context, rect) {
  context.save();
  context.beginPath();
  context.rect(rect.left, rect.top, rect.width, rect.height);
  context.clip();
  context.fillStyle = 'white';
  context.fillRect(rect.left, rect.top, rect.width, rect.height);
  context.strokeStyle = damageColour;
  context.lineWidth = 2;
  context.beginPath();
  context.moveTo(rect.left, rect.top);
  context.lineTo(rect.right, rect.bottom);
  context.moveTo(rect.right, rect.top);
  context.lineTo(rect.left, rect.bottom);
  context.stroke();
  context.strokeRect(rect.left + 1, rect.top + 1, rect.width - 2, rect.height - 2);
  context.restore();
}
