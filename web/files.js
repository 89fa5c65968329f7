// Files the user hands the page: dropped (files and whole folders, walked
// with their relative paths) or picked. A folder's files are taken when
// they are pictures or maps by the browser's reckoning; files given one by
// one are all taken, and the core says what it cannot read.

const mapExtension = '.rzt2';

export function isMap(name) {
  return name.toLowerCase().endsWith(mapExtension);
}

function takenFromFolder(file) {
  return isMap(file.name) || file.type.startsWith('image/') || file.type === 'application/pdf';
}

function readEntries(reader) {
  return new Promise((resolve, reject) => reader.readEntries(resolve, reject));
}

function fileOf(entry) {
  return new Promise((resolve, reject) => entry.file(resolve, reject));
}

// The files under a dropped entry, as [{file, path}].
async function walk(entry, path, out) {
  if (entry.isFile) {
    const file = await fileOf(entry);
    if (path === entry.name || takenFromFolder(file)) out.push({ file, path });
    return;
  }
  const reader = entry.createReader();
  // A folder's entries come in batches until an empty one.
  for (let batch = await readEntries(reader); batch.length > 0; batch = await readEntries(reader)) {
    for (const child of batch) await walk(child, `${path}/${child.name}`, out);
  }
}

// [{file, path}] of a drop's files and folders.
export async function droppedFiles(dataTransfer) {
  const entries = [...dataTransfer.items]
    .filter((item) => item.kind === 'file')
    .map((item) => item.webkitGetAsEntry?.())
    .filter(Boolean);
  if (entries.length === 0) return [...dataTransfer.files].map((file) => ({ file, path: file.name }));
  const out = [];
  for (const entry of entries) await walk(entry, entry.name, out);
  return out;
}

// [{file, path}] of an <input type=file>, with a picked folder's paths.
export function pickedFiles(input) {
  const files = [...input.files];
  const folder = files.some((file) => file.webkitRelativePath);
  return files
    .filter((file) => !folder || takenFromFolder(file))
    .map((file) => ({ file, path: file.webkitRelativePath || file.name }));
}

// A name not yet in taken: "a.png", else "a (2).png", ...
export function uniqueName(path, taken) {
  if (!taken.has(path)) return path;
  const slash = path.lastIndexOf('/');
  const dot = path.lastIndexOf('.');
  const cut = dot > slash + 1 ? dot : path.length;
  for (let n = 2; ; ++n) {
    const candidate = `${path.slice(0, cut)} (${n})${path.slice(cut)}`;
    if (!taken.has(candidate)) return candidate;
  }
}
