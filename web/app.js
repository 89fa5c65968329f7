// The page: pictures in, maps out, maps viewed and exported, all through
// the core in the page's worker (core-client.js). Each list row shows what
// became of its file: a failure with the desktop program's message and its
// cause beside it, and the other files go on.
import { CoreClient } from './core-client.js';
import { droppedFiles, isMap, pickedFiles, uniqueName } from './files.js';
import { canPickFolder, downloadAll, pickFolder, saveInto } from './save.js';
import { SettingsForm } from './settings-form.js';
import { MapViewer } from './viewer.js';

const $ = (selector) => document.querySelector(selector);
// A job's pictures together take at most this share of the memory budget
// in the worker; a larger batch runs as several jobs.
const jobShareOfBudget = 4;

const core = new CoreClient();
const pictures = []; // {name, file, row}
const maps = []; // {name, bytes, row, info}
let settingsForm;
let folder = null; // the folder maps and pictures are saved into, when picked
let busy = false;

function el(tag, attributes = {}, ...children) {
  const element = document.createElement(tag);
  for (const [name, value] of Object.entries(attributes)) {
    if (name === 'class') element.className = value;
    else if (name.startsWith('on')) element.addEventListener(name.slice(2), value);
    else element.setAttribute(name, value);
  }
  element.append(...children.filter((child) => child !== null && child !== undefined));
  return element;
}

function sizeText(bytes) {
  if (bytes < 1024) return `${bytes} bytes`;
  if (bytes < 2 ** 20) return `${(bytes / 1024).toFixed(0)} KB`;
  return `${(bytes / 2 ** 20).toFixed(1)} MB`;
}

function notify(text) {
  const notice = $('#notice');
  notice.textContent = text;
  notice.hidden = text === '';
}

// A row's state: working, done or failed, with a failure's cause under it.
function showState(row, kind, text, cause) {
  const state = row.querySelector('.file-state');
  state.className = `file-state ${kind}`;
  state.replaceChildren(el('span', {}, text), ...(cause ? [el('span', { class: 'cause' }, cause)] : []));
}

// ---- Files in ----

function addFiles(entries) {
  const taken = new Set(pictures.map((p) => p.name));
  const takenMaps = new Set(maps.map((m) => m.name));
  let added = 0;
  for (const { file, path } of entries) {
    if (isMap(file.name)) {
      const name = uniqueName(path, takenMaps);
      takenMaps.add(name);
      file.arrayBuffer().then((buffer) => addMap(name, new Uint8Array(buffer)));
    } else {
      const name = uniqueName(path, taken);
      taken.add(name);
      addPicture(name, file);
    }
    ++added;
  }
  if (added === 0) notify('Nothing to take: no pictures or maps among the files given.');
  else notify('');
  updateButtons();
}

function addPicture(name, file) {
  const picture = { name, file };
  picture.row = el(
    'li',
    { class: 'file' },
    el('span', { class: 'file-name' }, name),
    el('span', { class: 'file-meta' }, sizeText(file.size)),
    el('button', {
      type: 'button',
      class: 'icon remove',
      'aria-label': `Remove ${name}`,
      title: 'Remove from the list',
      onclick: () => removeFrom(pictures, picture),
    }, '×'),
    el('div', { class: 'file-state', 'aria-live': 'polite' }),
  );
  pictures.push(picture);
  $('#pictures').append(picture.row);
}

function addMap(name, bytes) {
  const existing = maps.find((m) => m.name === name);
  if (existing) removeFrom(maps, existing);
  const map = { name, bytes };
  const info = el('div', { class: 'map-info', hidden: '' });
  const infoButton = el('button', { type: 'button', 'aria-expanded': 'false', onclick: () => toggleInfo(map) }, 'Info');
  map.row = el(
    'li',
    { class: 'file map' },
    el('input', { type: 'checkbox', checked: '', 'aria-label': `Export ${name}`, title: 'Export this map' }),
    el('span', { class: 'file-name' }, name),
    el('span', { class: 'file-meta' }, sizeText(bytes.length)),
    el('div', { class: 'file-actions' },
      el('button', { type: 'button', class: 'view', onclick: () => viewMap(map) }, 'View'),
      infoButton,
      el('button', { type: 'button', onclick: () => saveFiles([{ name: baseName(name), bytes }], 'rzt2-maps.zip') }, 'Save'),
      el('button', {
        type: 'button',
        class: 'icon remove',
        'aria-label': `Remove ${name}`,
        title: 'Remove from the list',
        onclick: () => removeFrom(maps, map),
      }, '×')),
    el('div', { class: 'file-state', 'aria-live': 'polite' }),
    info,
  );
  map.infoPanel = info;
  map.infoButton = infoButton;
  maps.push(map);
  $('#maps').append(map.row);
  describeMap(map);
  updateButtons();
}

function removeFrom(list, item) {
  if (busy) return;
  list.splice(list.indexOf(item), 1);
  item.row.remove();
  updateButtons();
}

const baseName = (path) => path.slice(path.lastIndexOf('/') + 1);

// ---- Maps: info, view, export ----

async function describeMap(map) {
  try {
    const { report } = await core.request({ type: 'info', name: baseName(map.name), bytes: map.bytes.slice().buffer });
    map.info = report;
    const meta = map.row.querySelector('.file-meta');
    if (report.error) {
      showState(map.row, 'failed', `Error loading file ${baseName(map.name)}!`, report.error);
    } else {
      meta.textContent = `${sizeText(map.bytes.length)} · ${report.imageWidth} × ${report.imageHeight} · ${report.format}`;
    }
  } catch (error) {
    showState(map.row, 'failed', 'The map could not be read.', error.message);
  }
}

function toggleInfo(map) {
  const open = map.infoPanel.hidden;
  map.infoPanel.hidden = !open;
  map.infoButton.setAttribute('aria-expanded', String(open));
  if (open && map.info) map.infoPanel.replaceChildren(infoReport(map.info));
}

// The report of `rzt2 info`: the picture, frames, preview, the shares of
// the file's bytes and the palette, then one line per stored level.
function infoReport(report) {
  if (report.error) return el('p', { class: 'cause' }, report.error);
  const facts = [
    ['picture', `${report.imageWidth} x ${report.imageHeight}, file ${report.fileSize} bytes, version ${report.version}`],
    ['frames', `${report.format || 'unknown format'}, ${report.levels[0]?.frameWidth ?? 0} x ${report.levels[0]?.frameHeight ?? 0}`],
    ['preview', `${report.preview.width} x ${report.preview.height} at ${report.preview.offset}, ${report.preview.size} bytes`],
    ['bytes', ['frames', 'prefixes', 'preview', 'tables']
      .map((part) => `${part} ${(report.fileSize ? (100 * report.bytes[part]) / report.fileSize : 0).toFixed(1)} %`)
      .join(', ')],
  ];
  if (report.palette) {
    const own = report.palette.kind === 'own' ? `its own, ${report.palette.colors} colours` : report.palette.kind;
    facts.push(['palette', own]);
  }
  const list = el('dl', {}, ...facts.flatMap(([term, text]) => [el('dt', {}, term), el('dd', {}, text)]));
  const head = el('tr', {}, ...['level', 'zoom', 'grid', 'frames', 'index at', 'prefix'].map((h) => el('th', { scope: 'col' }, h)));
  const rows = report.levels
    .map((level, index) => ({ level, index }))
    .filter(({ level }) => level.scale !== 0)
    .map(({ level, index }) =>
      el('tr', {},
        el('td', {}, String(index)),
        el('td', {}, `${(level.scale / 100).toFixed(2)}%`),
        el('td', {}, `${level.columns}x${level.rows}`),
        el('td', {}, String(level.columns * level.rows)),
        el('td', {}, String(level.indexOffset)),
        el('td', {}, `${level.prefixSize} bytes at ${level.prefixOffset}`)));
  const table = el('table', {}, el('thead', {}, head), el('tbody', {}, ...rows));
  return el('div', {}, el('p', { class: 'info-file' }, report.file), list, el('div', { class: 'table-scroll' }, table));
}

let viewer;
async function viewMap(map) {
  if (busy) return;
  viewer ??= new MapViewer($('#viewer'), core);
  try {
    await viewer.open(baseName(map.name), map.bytes);
  } catch (error) {
    showState(map.row, 'failed', `Error loading file ${baseName(map.name)}!`, error.message);
  }
}

// ---- Jobs ----

// Files saved as a job hands them over: into the folder, else kept for one
// download at the end.
class Outputs {
  constructor(zipName) {
    this.zipName = zipName;
    this.kept = [];
    this.writing = Promise.resolve();
    this.saved = 0;
  }

  add(path, bytes) {
    if (folder === null) {
      this.kept.push({ name: path, bytes });
      return;
    }
    this.writing = this.writing.then(() => saveAtPath(folder, path, bytes)).then(() => ++this.saved);
  }

  async finish() {
    await this.writing;
    if (folder === null) downloadAll(this.kept, this.zipName);
  }
}

// Writes into the folder, making the relative path's folders.
async function saveAtPath(root, path, bytes) {
  const parts = path.split('/');
  let target = root;
  for (const part of parts.slice(0, -1)) target = await target.getDirectoryHandle(part, { create: true });
  await saveInto(target, parts[parts.length - 1], bytes);
}

async function saveFiles(files, zipName) {
  const outputs = new Outputs(zipName);
  if (!(await folderReady())) return;
  for (const file of files) outputs.add(file.name, file.bytes);
  try {
    await outputs.finish();
  } catch (error) {
    notify(`The files could not be saved: ${error.message}`);
  }
}

// The folder's write permission, asked again where the browser dropped it.
async function folderReady() {
  if (folder === null) return true;
  const options = { mode: 'readwrite' };
  if ((await folder.queryPermission?.(options)) === 'granted') return true;
  if ((await folder.requestPermission?.(options)) === 'granted') return true;
  notify(`No permission to write into ${folder.name}.`);
  return false;
}

function setBusy(on) {
  busy = on;
  document.body.classList.toggle('busy', on);
  $('#progress').hidden = !on;
  $('#cancel').disabled = false;
  for (const control of document.querySelectorAll('.file .remove, .file .view, #choose-folder, input[name=destination]')) {
    control.disabled = on;
  }
  updateButtons();
}

function updateButtons() {
  $('#create').disabled = busy || pictures.length === 0 || core.info === undefined;
  $('#export').disabled = busy || maps.length === 0 || core.info === undefined;
  $('#clear-pictures').disabled = busy || pictures.length === 0;
  $('#clear-maps').disabled = busy || maps.length === 0;
  $('#pictures-empty').hidden = pictures.length > 0;
  $('#maps-empty').hidden = maps.length > 0;
}

// Groups of files whose bytes fit the job's share of the budget; one file
// larger than that goes alone.
function groups(items) {
  const limit = core.info.memoryBudget / jobShareOfBudget;
  const out = [];
  let bytes = Infinity;
  for (const item of items) {
    const size = item.file?.size ?? item.bytes.length;
    if (bytes + size > limit) {
      out.push([]);
      bytes = 0;
    }
    out[out.length - 1].push(item);
    bytes += size;
  }
  return out;
}

// Runs a convert or export over rows: {name, row, bytes()}; onOutput gets
// each output written. Resolves with whether the job was cancelled.
async function runJobs(kind, items, request, onOutput) {
  const batches = groups(items);
  const totalFiles = items.length;
  let filesBefore = 0;
  for (const item of items) showState(item.row, 'waiting', 'Waiting');
  for (const batch of batches) {
    const byName = new Map(batch.map((item) => [item.name, item]));
    const files = await Promise.all(batch.map(async (item) => ({ name: item.name, bytes: await item.bytes() })));
    let lastError = null;
    let done = 0;
    const end = await core.runJob({ type: kind, files, ...request }, (event) => {
      switch (event.type) {
        case 'label':
          $('#progress-label').textContent = event.text;
          break;
        case 'filePercent':
          $('#file-bar').value = event.percent;
          break;
        case 'batch':
          // The batch's percent, as a share of the whole run's files.
          $('#total-bar').value = ((filesBefore + (event.percent / 100) * batch.length) / totalFiles) * 100;
          break;
        case 'error':
          lastError = event;
          break;
        case 'fileEnded': {
          const item = byName.get(event.input);
          if (event.status === 'ok') {
            onOutput(item, event);
            showState(item.row, 'done', `${kind === 'convert' ? 'Made' : 'Exported'} ${event.name}`, null);
          } else {
            showState(item.row, 'failed', lastError?.message ?? 'Failed', event.cause);
          }
          lastError = null;
          ++done;
          break;
        }
        default:
          break;
      }
    }).catch((error) => ({ refused: error.message }));
    if (end.refused !== undefined) {
      notify(end.refused);
      return false;
    }
    filesBefore += batch.length;
    if (end.cancelled) {
      for (const item of items) {
        if (item.row.querySelector('.file-state.waiting')) showState(item.row, 'cancelled', 'Cancelled');
      }
      return true;
    }
    if (done === 0 && lastError) notify(`${lastError.message} ${lastError.cause}`);
  }
  return false;
}

async function createMaps() {
  if (busy) return;
  const settings = settingsForm.current();
  if (settings === null) {
    $('#settings-panel').open = true;
    return;
  }
  if (!(await folderReady())) return;
  setBusy(true);
  notify('');
  const outputs = new Outputs('rzt2-maps.zip');
  const start = performance.now();
  let made = 0;
  try {
    const items = pictures.map((p) => ({ ...p, bytes: () => p.file.arrayBuffer() }));
    const cancelled = await runJobs('convert', items, { settings }, (item, event) => {
      addMap(event.output, new Uint8Array(event.bytes));
      outputs.add(event.output, new Uint8Array(event.bytes));
      ++made;
    });
    const seconds = ((performance.now() - start) / 1000).toFixed(1);
    await outputs.finish();
    const saved = folder !== null && outputs.saved > 0 ? `, saved into ${folder.name}` : '';
    notify(`${made} map(s) made in ${seconds} s${saved}.${cancelled ? ' Cancelled: the maps made before are kept.' : ''}`);
  } catch (error) {
    notify(`The maps could not be saved: ${error.message}`);
  } finally {
    setBusy(false);
  }
}

async function exportMaps() {
  if (busy) return;
  const chosen = maps.filter((map) => map.row.querySelector('input[type=checkbox]').checked);
  if (chosen.length === 0) {
    notify('No files selected.\nPlease select at least one file!');
    return;
  }
  if (!(await folderReady())) return;
  setBusy(true);
  notify('');
  const outputs = new Outputs('rzt2-images.zip');
  try {
    const items = chosen.map((map) => ({ ...map, bytes: () => map.bytes.slice().buffer }));
    const format = $('#export-format').value;
    const cancelled = await runJobs('export', items, { format, settings: exportSettings() }, (item, event) =>
      outputs.add(event.output, new Uint8Array(event.bytes)));
    await outputs.finish();
    if (folder !== null && outputs.saved > 0) notify(`${outputs.saved} picture(s) saved into ${folder.name}.`);
    if (cancelled) notify('Cancelled: the pictures exported before are kept.');
  } catch (error) {
    notify(`The pictures could not be saved: ${error.message}`);
  } finally {
    setBusy(false);
  }
}

// An export quantizes with the palette chosen in the settings.
function exportSettings() {
  const settings = settingsForm.current() ?? {};
  return settings.PaletteMode === undefined ? {} : { PaletteMode: settings.PaletteMode };
}

// ---- Start ----

function bindDropTarget() {
  const drop = $('#drop');
  const fileInput = $('#file-input');
  const folderInput = $('#folder-input');
  $('#pick-files').addEventListener('click', () => fileInput.click());
  $('#pick-folder').addEventListener('click', () => folderInput.click());
  for (const input of [fileInput, folderInput]) {
    input.addEventListener('change', () => {
      addFiles(pickedFiles(input));
      input.value = '';
    });
  }
  // The target itself opens the picker too.
  drop.addEventListener('click', (event) => {
    if (event.target === drop || event.target.closest('h2, .drop-icon, .hint')) fileInput.click();
  });
  drop.addEventListener('keydown', (event) => {
    if (event.target === drop && (event.key === 'Enter' || event.key === ' ')) {
      event.preventDefault();
      fileInput.click();
    }
  });
  // Anywhere on the page takes a drop; the target shows it.
  document.addEventListener('dragover', (event) => {
    event.preventDefault();
    drop.classList.add('over');
  });
  document.addEventListener('dragleave', (event) => {
    if (event.relatedTarget === null) drop.classList.remove('over');
  });
  document.addEventListener('drop', async (event) => {
    event.preventDefault();
    drop.classList.remove('over');
    if (busy) return;
    addFiles(await droppedFiles(event.dataTransfer));
  });
}

function bindDestination() {
  if (!canPickFolder) {
    $('#folder-choice').hidden = true;
    $('#choose-folder').hidden = true;
    return;
  }
  const choose = async () => {
    const picked = await pickFolder().catch((error) => {
      notify(error.message);
      return null;
    });
    if (picked !== null) {
      folder = picked;
      $('#folder-name').textContent = picked.name;
    }
    $(`input[name=destination][value=${folder === null ? 'download' : 'folder'}]`).checked = true;
  };
  $('#choose-folder').addEventListener('click', choose);
  for (const radio of document.querySelectorAll('input[name=destination]')) {
    radio.addEventListener('change', () => {
      if (radio.value === 'download') folder = null;
      else choose();
    });
  }
}

function showEngine(info) {
  const megapixels = Math.floor(info.largestPicture / 1e6);
  $('#engine').textContent =
    info.variant === 'threads' ? `Ready: ${info.threads} threads` : 'Ready: one thread (the page is not cross-origin isolated)';
  $('#engine').classList.add('ready');
  $('#drop-hint').textContent =
    `BMP, JPEG, GIF, PNG, TIFF, WebP and JPEG 2000 pictures of up to ${megapixels} megapixels become maps; ` +
    '.rzt2 maps open to view and export.';
  const formats = $('#export-format');
  if (formats.options.length === 0) {
    for (const format of info.frameFormats) formats.add(new Option(format, format));
    formats.value = 'png';
  }
}

async function start() {
  bindDropTarget();
  bindDestination();
  $('#create').addEventListener('click', createMaps);
  $('#export').addEventListener('click', exportMaps);
  $('#cancel').addEventListener('click', () => {
    $('#cancel').disabled = true;
    core.cancel();
  });
  $('#clear-pictures').addEventListener('click', () => [...pictures].forEach((p) => removeFrom(pictures, p)));
  $('#clear-maps').addEventListener('click', () => [...maps].forEach((m) => removeFrom(maps, m)));
  core.addEventListener('ready', ({ detail }) => showEngine(detail));
  updateButtons();
  if ('serviceWorker' in navigator) {
    navigator.serviceWorker.register('sw.js').catch(() => {});
  }
  try {
    const info = await core.ready;
    settingsForm = new SettingsForm($('#settings'), info.settings);
    updateButtons();
  } catch (error) {
    $('#engine').textContent = `The converter could not start: ${error.message}`;
    $('#engine').classList.add('failed');
  }
}

start();
