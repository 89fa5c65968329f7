// Where finished files go: into a folder the user picked, where the browser
// offers that (File System Access), else downloaded, several as one zip.
import { zipStore } from './zip.js';

export const canPickFolder = typeof globalThis.showDirectoryPicker === 'function';

// Asks for a folder to write into; null when the user declines.
export async function pickFolder() {
  try {
    return await globalThis.showDirectoryPicker({ id: 'rzt2-maps', mode: 'readwrite' });
  } catch (error) {
    if (error.name === 'AbortError') return null;
    throw error;
  }
}

// Writes a file into the folder; a file written is complete (the browser
// moves its temporary file into place when the stream closes).
export async function saveInto(folder, name, bytes) {
  const handle = await folder.getFileHandle(name, { create: true });
  const stream = await handle.createWritable();
  try {
    await stream.write(bytes);
    await stream.close();
  } catch (error) {
    await stream.abort().catch(() => {});
    throw error;
  }
}

export function download(blob, name) {
  const link = document.createElement('a');
  link.href = URL.createObjectURL(blob);
  link.download = name;
  link.hidden = true;
  document.body.append(link);
  link.click();
  link.remove();
  // The download has its own copy once it starts.
  setTimeout(() => URL.revokeObjectURL(link.href), 60_000);
}

// One file as itself, several as one zip named zipName.
export function downloadAll(files, zipName) {
  if (files.length === 0) return;
  if (files.length === 1) {
    download(new Blob([files[0].bytes]), files[0].name);
  } else {
    download(zipStore(files), zipName);
  }
}
