// The page: a BMP chosen or dropped, its factors, and the enlargement saved
// through web/bmpresize.js, with progress, Cancel and a preview.
import { describe, enlarge, load, parseFactor } from './bmpresize.js';

const MEMORY_LIMIT = 512 * 1024 * 1024; // the largest download held in memory
const PREVIEW_PIXELS = 4096 * 4096; // the largest input the preview draws
const $ = (id) => document.getElementById(id);

const state = { file: null, info: null, factors: null, controller: null };

// How the output is saved here: straight into a file the user chooses
// (Chromium, Edge), a download streamed through the service worker, or a
// download held in memory. ?save=stream or ?save=memory picks one.
const asked = new URLSearchParams(location.search).get('save');
let saveMode =
  asked ??
  ('showSaveFilePicker' in window
    ? 'picker'
    : 'serviceWorker' in navigator && window.isSecureContext
      ? 'stream'
      : 'memory');
const SAVE_NOTES = {
  picker: 'Saved straight into the file you choose, as it is written.',
  stream: 'Downloaded as it is written, through this page’s service worker.',
  memory: 'This browser can only download what it holds in memory: outputs up to 512 MiB.',
};
$('save-mode').textContent = SAVE_NOTES[saveMode];
if (saveMode === 'stream') {
  // Where no service worker may run (private windows), downloads are held in memory.
  navigator.serviceWorker.register('download-worker.js').catch(() => {
    saveMode = 'memory';
    $('save-mode').textContent = SAVE_NOTES[saveMode];
  });
}
// The engine is fetched now, so that nothing more is needed from the network.
load().catch((error) => show(`The engine could not be loaded: ${error.message}`, 'bad'));

function bytesText(bytes) {
  const units = ['bytes', 'KiB', 'MiB', 'GiB'];
  let value = bytes;
  let unit = 0;
  while (value >= 1024 && unit < units.length - 1) {
    value /= 1024;
    unit += 1;
  }
  const shown = unit === 0 ? String(value) : value.toFixed(value < 10 ? 2 : 1);
  return `${shown} ${units[unit]}` + (unit > 0 ? ` (${bytes.toLocaleString('en')} bytes)` : '');
}

const HEADERS = {
  12: 'OS/2 1.x header (12 bytes)',
  16: 'OS/2 2.x header (16 bytes)',
  40: 'Windows 3 header (40 bytes)',
  52: 'V2 header (52 bytes)',
  56: 'V3 header (56 bytes)',
  64: 'OS/2 2.x header (64 bytes)',
  108: 'V4 header (108 bytes)',
  124: 'V5 header (124 bytes)',
};

const RUN_LENGTHS = { 1: 'RLE8', 2: 'RLE4', 4: 'RLE24' };

function kindText(info) {
  const parts = [`${info.bitsPerPixel} bits per pixel`];
  if (RUN_LENGTHS[info.compression]) parts.push(`run-length encoded (${RUN_LENGTHS[info.compression]})`);
  if (info.bitsPerPixel <= 8) parts.push('colour table');
  if (info.compression === 3 || info.compression === 6) parts.push('colour masks');
  parts.push(HEADERS[info.headerSize] ?? `${info.headerSize}-byte header`);
  if (info.topDown) parts.push('rows top-down');
  return parts.join(', ');
}

// The tool's message, with its command for converting the file apart.
function show(message, kind = '') {
  const box = $('message');
  box.className = kind;
  box.textContent = '';
  const hint = message.indexOf('; convert it first: ');
  if (hint < 0) {
    box.textContent = message;
    return;
  }
  box.append(`${message.slice(0, hint)}. Convert it first:`);
  const code = document.createElement('code');
  code.textContent = message.slice(hint + '; convert it first: '.length);
  box.append(code);
}

function outputName() {
  const [across, down] = state.factors;
  const base = state.file.name.replace(/\.(bmp|dib)$/i, '');
  return `${base}-${across === down ? `x${across}` : `${across}x${down}`}.bmp`;
}

async function choose(file) {
  state.file = file;
  state.info = null;
  $('preview').hidden = true;
  $('progress-box').hidden = true;
  $('uncompressed-choice').hidden = true;
  $('input-info').hidden = false;
  $('input-name').textContent = file.name;
  $('input-size').textContent = bytesText(file.size);
  $('input-kind').textContent = '';
  show('');
  const info = await describe(file);
  if (state.file !== file) return;
  if (!info.ok) {
    $('input-kind').textContent = 'not taken';
    show(`bmpresize: ${info.message}`, 'bad');
    update();
    return;
  }
  state.info = info;
  $('uncompressed-choice').hidden = !RUN_LENGTHS[info.compression];
  $('input-size').textContent = `${info.width} × ${info.height} pixels, ${bytesText(file.size)}`;
  $('input-kind').textContent = kindText(info);
  update();
}

// The factors and what they make, whenever a field changes.
async function update() {
  if ($('same').checked) $('down').value = $('across').value;
  $('down').disabled = $('same').checked;
  state.factors = null;
  $('output-info').hidden = true;
  $('start').disabled = true;
  const file = state.file;
  const info = state.info;
  let factors;
  try {
    factors = await parseFactor(`${$('across').value}x${$('down').value}`);
  } catch (error) {
    show(`bmpresize: ${error.message}`, 'bad');
    return;
  }
  if (info === null || file !== state.file) {
    if (file === null) show('');
    return;
  }
  const [across, down] = factors;
  let bytes;
  try {
    bytes = info.outputBytes(across, down, { uncompressed: $('uncompressed').checked });
  } catch (error) {
    show(`bmpresize: ${error.message}`, 'bad');
    return;
  }
  state.factors = factors;
  $('output-info').hidden = false;
  const length = bytes === null ? 'its length known once the codes are read' : bytesText(bytes);
  $('output-size').textContent =
    `${(info.width * across).toLocaleString('en')} × ${(info.height * down).toLocaleString('en')} pixels, ${length}`;
  if (saveMode === 'memory' && bytes !== null && bytes > MEMORY_LIMIT) {
    show('This browser holds a download in memory, and this one is over 512 MiB: use Chromium or Edge, or the bmpresize tool.', 'bad');
    return;
  }
  show('');
  $('start').disabled = state.controller !== null;
  preview(file, info, across, down);
}

function preview(file, info, across, down) {
  if (info.width * info.height > PREVIEW_PIXELS) {
    $('preview').hidden = true;
    return;
  }
  const url = URL.createObjectURL(file);
  const input = $('preview-input');
  const output = $('preview-output');
  input.onload = () => {
    $('preview').hidden = false;
    $('preview-note').textContent = '';
  };
  input.onerror = () => {
    $('preview').hidden = false;
    $('preview-note').textContent = 'This browser cannot draw this kind of BMP; the enlargement is made all the same.';
  };
  for (const img of [input, output]) {
    if (img.src.startsWith('blob:')) URL.revokeObjectURL(img.src);
  }
  input.src = url;
  input.style.width = `${info.width}px`;
  input.style.height = `${info.height}px`;
  output.src = url;
  output.style.width = `${info.width * across}px`;
  output.style.height = `${info.height * down}px`;
  output.style.maxWidth = 'none';
  $('preview-caption').textContent = `Enlargement at ${across} × ${down}, top left`;
}

// Where the output goes: a writable and what to do with it afterwards.
async function destination(name, size) {
  if (saveMode === 'picker') {
    const handle = await window.showSaveFilePicker({
      suggestedName: name,
      types: [{ description: 'BMP image', accept: { 'image/bmp': ['.bmp'] } }],
    });
    return {
      writable: await handle.createWritable(),
      // A failed or cancelled enlargement leaves no file behind.
      discard: () => (typeof handle.remove === 'function' ? handle.remove() : undefined),
      done: () => {},
    };
  }
  if (saveMode === 'stream') {
    const registration = await navigator.serviceWorker.ready;
    return streamedDownload(registration.active, name, size);
  }
  const parts = [];
  let held = 0;
  return {
    writable: {
      write: async (chunk) => {
        held += chunk.length;
        if (held > MEMORY_LIMIT) throw new Error('over 512 MiB, more than this browser can hold');
        parts.push(new Blob([chunk]));
      },
      close: async () => {},
      abort: async () => {
        parts.length = 0;
      },
    },
    discard: () => {},
    done: () => {
      const url = URL.createObjectURL(new Blob(parts, { type: 'image/bmp' }));
      parts.length = 0;
      const link = document.createElement('a');
      link.href = url;
      link.download = name;
      link.click();
      setTimeout(() => URL.revokeObjectURL(url), 60_000);
    },
  };
}

// A download whose bytes the service worker (download-worker.js) takes
// from this page as the browser asks for them: one chunk at a time, so
// that neither side holds more.
function streamedDownload(worker, name, size) {
  const channel = new MessageChannel();
  const id = crypto.randomUUID();
  let credits = 0;
  let waiting = null;
  let failure = null;
  channel.port1.onmessage = ({ data }) => {
    if (data === 'pull') credits += 1;
    if (data === 'cancel') failure = new Error('the download was cancelled');
    if (waiting) {
      waiting();
      waiting = null;
    }
  };
  worker.postMessage({ type: 'download', id, name, size }, [channel.port2]);
  const frame = document.createElement('iframe');
  frame.hidden = true;
  frame.src = `download-worker/${id}/${encodeURIComponent(name)}`;
  document.body.append(frame);
  const finish = () => setTimeout(() => frame.remove(), 60_000);
  return {
    writable: {
      async write(chunk) {
        while (credits === 0 && failure === null) {
          await new Promise((resolve) => {
            waiting = resolve;
          });
        }
        if (failure) throw failure;
        credits -= 1;
        const copy = chunk.slice();
        channel.port1.postMessage({ chunk: copy.buffer }, [copy.buffer]);
      },
      async close() {
        channel.port1.postMessage({ done: true });
        finish();
      },
      async abort() {
        channel.port1.postMessage({ abort: true });
        finish();
      },
    },
    discard: () => {},
    done: () => {},
  };
}

async function start() {
  const file = state.file;
  const info = state.info;
  const [across, down] = state.factors;
  const total = info.outputBytes(across, down, { uncompressed: $('uncompressed').checked });
  const name = outputName();
  let target;
  try {
    target = await destination(name, total);
  } catch (error) {
    if (error.name !== 'AbortError') show(`Could not save: ${error.message}`, 'bad');
    return;
  }
  const controller = new AbortController();
  state.controller = controller;
  $('start').disabled = true;
  $('cancel').disabled = false;
  $('progress-box').hidden = false;
  show(`Writing ${name}…`);
  const began = performance.now();
  const samples = [[began, 0]];
  let shown = 0;
  const report = (written, all, final = false) => {
    const now = performance.now();
    samples.push([now, written]);
    while (samples.length > 2 && now - samples[0][0] > 2000) samples.shift();
    if (!final && now - shown < 100) return;
    shown = now;
    const [then, before] = samples[0];
    const speed = now > then ? ((written - before) / (now - then)) * 1000 : 0;
    const left = speed > 0 ? (all - written) / speed : Infinity;
    $('progress').value = all > 0 ? written / all : 1;
    const percent = all > 0 ? Math.floor((written / all) * 100) : 100;
    const rate = `${(speed / 1e6).toFixed(1)} MB/s`;
    const remaining = final ? 'done' : Number.isFinite(left) ? `${Math.ceil(left)} s left` : '';
    $('progress-text').textContent = [`${percent}%`, bytesText(written), rate, remaining].filter(Boolean).join(' · ');
  };
  try {
    const { outputBytes } = await enlarge(file, [across, down], target.writable, {
      signal: controller.signal,
      uncompressed: $('uncompressed').checked,
      outputName: name,
      onProgress: (written, all) => report(written, all),
    });
    const seconds = (performance.now() - began) / 1000;
    report(outputBytes, outputBytes, true);
    const rate = seconds > 0 ? ` at ${(outputBytes / seconds / 1e6).toFixed(1)} MB/s` : '';
    $('progress-text').textContent = `100% · ${bytesText(outputBytes)} in ${seconds.toFixed(1)} s${rate}`;
    target.done();
    show(`Saved ${name}: ${bytesText(outputBytes)}.`, 'good');
  } catch (error) {
    try {
      await target.discard();
    } catch {
      // Nothing was kept, or nothing can be removed here.
    }
    const cause = error.cause instanceof Error ? ` (${error.cause.message})` : '';
    show(error.name === 'AbortError' ? 'Cancelled: nothing was saved.' : `bmpresize: ${error.message}${cause}`, 'bad');
  } finally {
    state.controller = null;
    $('cancel').disabled = true;
    $('start').disabled = state.factors === null;
  }
}

$('file').addEventListener('change', () => {
  if ($('file').files.length > 0) choose($('file').files[0]);
});
for (const id of ['across', 'down', 'same', 'uncompressed']) {
  $(id).addEventListener('input', () => update());
}
$('start').addEventListener('click', () => start());
$('cancel').addEventListener('click', () => state.controller && state.controller.abort());
const drop = $('drop');
document.addEventListener('dragover', (event) => {
  event.preventDefault();
  drop.classList.add('over');
});
document.addEventListener('dragleave', (event) => {
  if (event.relatedTarget === null) drop.classList.remove('over');
});
document.addEventListener('drop', (event) => {
  event.preventDefault();
  drop.classList.remove('over');
  const file = event.dataTransfer.files[0];
  if (file) choose(file);
});
