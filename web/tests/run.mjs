// The page and web/bmpresize.js in a real browser: Debian's Chromium,
// headless, driven by puppeteer-core, against web/ served on 127.0.0.1.
// Every file of the BMP Suite and the bundled sample is enlarged in the
// browser into the origin-private file system and compared byte for byte
// with what the native tool writes (or, for a refused file, its exit status
// and message); a few of them also through the page's own file input. A
// failure prints what the browser's console said.
//
//   node run.mjs --tool BUILD/cli/bmpresize [--chromium /usr/bin/chromium] [--screenshot FILE.png]
import { spawnSync } from 'node:child_process';
import { createHash } from 'node:crypto';
import fs from 'node:fs';
import http from 'node:http';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import puppeteer from 'puppeteer-core';

const here = path.dirname(fileURLToPath(import.meta.url));
const root = path.resolve(here, '../..');
const web = path.join(root, 'web');
const option = (name, fallback) => {
  const at = process.argv.indexOf(name);
  return at > 0 ? process.argv[at + 1] : fallback;
};
const tool = path.resolve(option('--tool', path.join(root, 'build/cli/bmpresize')));
const chromium = option('--chromium', '/usr/bin/chromium');
const screenshot = option('--screenshot', null);
const work = fs.mkdtempSync(path.join(os.tmpdir(), 'bmpresize-web-'));

// ---- what the native tool does with each case --------------------------

const sha256 = (bytes) => createHash('sha256').update(bytes).digest('hex');

// Runs the tool on `input` at `factor` from the input's folder (so that its
// messages name the file as the page does: by its name alone).
function native(input, factor) {
  const output = path.join(work, `${path.basename(input)}-${factor}.out.bmp`);
  const run = spawnSync(tool, [path.basename(input), output, factor], {
    cwd: path.dirname(input),
    encoding: 'utf8',
  });
  if (run.error) throw run.error;
  const expected = { code: run.status, message: run.stderr.split('\n')[0].replace(/^bmpresize: /, '') };
  if (run.status === 0) {
    const bytes = fs.readFileSync(output);
    Object.assign(expected, { bytes: bytes.length, sha256: sha256(bytes) });
    fs.rmSync(output);
  }
  return expected;
}

// A 24-bit BMP of `width` x `height` with a pattern, for the larger cases.
function makeBmp(width, height) {
  const row = Math.ceil((width * 3) / 4) * 4;
  const bytes = Buffer.alloc(54 + row * height);
  bytes.write('BM', 0, 'latin1');
  bytes.writeUInt32LE(bytes.length, 2);
  bytes.writeUInt32LE(54, 10);
  bytes.writeUInt32LE(40, 14);
  bytes.writeInt32LE(width, 18);
  bytes.writeInt32LE(height, 22);
  bytes.writeUInt16LE(1, 26);
  bytes.writeUInt16LE(24, 28);
  bytes.writeUInt32LE(row * height, 34);
  for (let y = 0; y < height; y += 1) {
    for (let x = 0; x < width; x += 1) {
      const at = 54 + y * row + x * 3;
      bytes[at] = (x * 7) & 255;
      bytes[at + 1] = (y * 5) & 255;
      bytes[at + 2] = (x ^ y) & 255;
    }
  }
  return bytes;
}

const suite = path.join(root, 'tests/data/bmpsuite');
const inputs = ['g', 'q', 'b', 'x']
  .flatMap((folder) =>
    fs.existsSync(path.join(suite, folder))
      ? fs.readdirSync(path.join(suite, folder)).filter((name) => /\.bmp$/i.test(name)).sort()
        .map((name) => path.join(suite, folder, name))
      : [],
  )
  .concat([path.join(root, 'samples/sample.bmp')]);
const medium = path.join(work, 'medium.bmp');
fs.writeFileSync(medium, makeBmp(1000, 700));
const cases = inputs.map((input, index) => ({
  id: index,
  input,
  name: path.basename(input),
  factor: index % 3 === 0 ? '2' : index % 3 === 1 ? '3x2' : '1x4',
}));
cases.push({ id: cases.length, input: medium, name: 'medium.bmp', factor: '5x3' });
for (const each of cases) each.expected = native(each.input, each.factor);

// ---- the server ----------------------------------------------------------

const TYPES = { '.html': 'text/html', '.js': 'text/javascript', '.wasm': 'application/wasm', '.css': 'text/css' };
const server = http.createServer((request, response) => {
  const url = decodeURIComponent(new URL(request.url, 'http://localhost').pathname);
  const input = url.match(/^\/case\/(\d+)\//);
  const file = input ? cases[Number(input[1])]?.input : path.join(web, path.normalize(url === '/' ? '/index.html' : url));
  if (!file || (!input && !file.startsWith(web + path.sep))) {
    response.writeHead(404).end();
    return;
  }
  fs.readFile(file, (error, data) => {
    if (error) {
      response.writeHead(404).end();
      return;
    }
    response.writeHead(200, { 'content-type': TYPES[path.extname(file)] ?? 'application/octet-stream' }).end(data);
  });
});
await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
const origin = `http://127.0.0.1:${server.address().port}`;

// ---- the browser -----------------------------------------------------------

const console_ = [];
const browser = await puppeteer.launch({
  executablePath: chromium,
  headless: true,
  userDataDir: path.join(work, 'profile'),
  args: [
    '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
    '--disable-background-networking', '--disable-component-update', '--disable-sync',
  ],
});
async function open(url, before) {
  const page = await browser.newPage();
  page.on('console', (message) => console_.push(`[${url}] console.${message.type()}: ${message.text()}`));
  page.on('pageerror', (error) => console_.push(`[${url}] page error: ${error.message}`));
  page.on('requestfailed', (request) => console_.push(`[${url}] request failed: ${request.url()}`));
  if (before) await page.evaluateOnNewDocument(before);
  await page.goto(origin + url, { waitUntil: 'load' });
  return page;
}

let passed = 0;
let failed = 0;
async function check(name, body) {
  try {
    const problems = (await body()) ?? [];
    if (problems.length === 0) {
      passed += 1;
      console.log(`ok: ${name}`);
      return;
    }
    failed += 1;
    console.log(`FAILED: ${name}\n  ${problems.slice(0, 20).join('\n  ')}`);
  } catch (error) {
    failed += 1;
    console.log(`FAILED: ${name}\n  ${error.stack ?? error}`);
  }
}

// In the page: enlarges each case with enlarge() into the origin-private
// file system, and answers what came of it.
async function enlargeInPage(page, list) {
  return page.evaluate(async (list) => {
    const { enlarge, describe } = await import('/bmpresize.js');
    const dir = await navigator.storage.getDirectory();
    const hex = (buffer) => [...new Uint8Array(buffer)].map((b) => b.toString(16).padStart(2, '0')).join('');
    const answers = [];
    for (const each of list) {
      const blob = new File([await (await fetch(`/case/${each.id}/${each.name}`)).blob()], each.name);
      const file = `out-${each.id}.bmp`;
      const handle = await dir.getFileHandle(file, { create: true });
      const answer = { id: each.id };
      try {
        const info = await describe(blob);
        answer.describe = { ok: info.ok, code: info.code, message: info.message, compression: info.compression };
        if (info.ok) {
          const [across, down] = each.factor.includes('x') ? each.factor.split('x').map(Number) : [Number(each.factor), Number(each.factor)];
          try {
            answer.describe.outputBytes = info.outputBytes(across, down);
          } catch (error) {
            answer.describe.outputBytes = { code: error.code, message: error.message };
          }
        }
        const result = await enlarge(blob, each.factor, await handle.createWritable());
        answer.code = 0;
        answer.outputBytes = result.outputBytes;
      } catch (error) {
        answer.code = error.code;
        answer.message = error.message;
      }
      const written = await handle.getFile();
      answer.bytes = written.size;
      answer.sha256 = written.size > 0 ? hex(await crypto.subtle.digest('SHA-256', await written.arrayBuffer())) : '';
      await dir.removeEntry(file);
      answers.push(answer);
    }
    return answers;
  }, list.map(({ id, name, factor }) => ({ id, name, factor })));
}

function compare(answers) {
  const problems = [];
  for (const answer of answers) {
    const each = cases[answer.id];
    const want = each.expected;
    const label = `${path.relative(root, each.input)} at ${each.factor}`;
    if (answer.code !== want.code) {
      problems.push(`${label}: exit ${answer.code} (${answer.message}), the tool ${want.code} (${want.message})`);
    } else if (want.code === 0 && (answer.bytes !== want.bytes || answer.sha256 !== want.sha256 || answer.outputBytes !== want.bytes)) {
      problems.push(`${label}: ${answer.bytes} bytes (said ${answer.outputBytes}) differ from the tool's ${want.bytes}`);
    } else if (want.code !== 0 && (answer.message !== want.message || answer.bytes !== 0)) {
      problems.push(`${label}: "${answer.message}" and ${answer.bytes} bytes kept; the tool: "${want.message}"`);
    }
    if (answer.describe) {
      const told = answer.describe;
      // The headers alone tell every refusal of the kind (5), and the length.
      if (want.code === 5 && !told.ok && (told.code !== 5 || told.message !== want.message)) {
        problems.push(`${label}: describe said ${told.code} "${told.message}"`);
      }
      // A run-length encoded image's length is not in its headers.
      const unknown = told.outputBytes === null && [1, 2, 4].includes(told.compression);
      if (want.code === 0 && (!told.ok || (told.outputBytes !== want.bytes && !unknown))) {
        problems.push(`${label}: describe said ${JSON.stringify(told)}, the tool wrote ${want.bytes} bytes`);
      }
    }
  }
  return problems;
}

// A browser without promise integration, nor streams of a Blob's bytes.
const NO_PROMISE_INTEGRATION = () => {
  delete WebAssembly.Suspending;
  delete WebAssembly.promising;
  delete Blob.prototype.stream;
};
// Saving from the page goes into the origin-private file system.
const SAVE_INTO_OPFS = () => {
  window.showSaveFilePicker = async ({ suggestedName }) =>
    (await navigator.storage.getDirectory()).getFileHandle(suggestedName, { create: true });
};

try {
  const page = await open('/index.html');
  const accepted = cases.filter((each) => each.expected.code === 0).length;

  await check(`enlarge() on ${cases.length} files (${accepted} enlarged, ${cases.length - accepted} refused) matches the tool byte for byte`, async () => {
    if (accepted < 60) return [`only ${accepted} of the files were enlarged by the tool: is it built?`];
    return compare(await enlargeInPage(page, cases));
  });

  await check('Chromium\'s own BMP decoder reads each run-length encoded output as its input enlarged', async () => {
    // The tool's outputs at 3 x 2 and 1 x 3, kept encoded; what no code
    // draws is transparent to Chromium, in the input and the output alike.
    // The suite's files move up only by ends of line: a hand-made one has
    // deltas from inside a row into the next and from a row's end (and an
    // end of bitmap, without which Chromium reads none of it).
    const handMade = path.join(work, 'deltas-rle8.bmp');
    const codes = [2, 7, 0, 3, 1, 2, 3, 0, 0, 0, 0, 2, 1, 0, 1, 9, 0, 2, 2, 1, 1, 4, 0, 2, 0, 1, 0, 0, 1, 5, 0, 1];
    const bmp = Buffer.alloc(54 + 64 + codes.length);
    bmp.write('BM', 0, 'latin1');
    [[2, bmp.length], [10, 54 + 64], [14, 40], [18, 5], [22, 5], [30, 1], [34, codes.length], [46, 16]]
      .forEach(([at, value]) => bmp.writeUInt32LE(value, at));
    bmp.writeUInt16LE(1, 26);
    bmp.writeUInt16LE(8, 28);
    for (let i = 0; i < 16; i += 1) bmp.writeUInt32LE((i * 0x35a7c3) & 0xffffff, 54 + 4 * i);
    Buffer.from(codes).copy(bmp, 54 + 64);
    fs.writeFileSync(handMade, bmp);
    const encoded = ['g/pal8rle.bmp', 'g/pal4rle.bmp', 'q/pal8rletrns.bmp', 'q/pal4rletrns.bmp',
      'q/pal8rlecut.bmp', 'q/pal4rlecut.bmp', handMade];
    const pairs = [];
    for (const name of encoded) {
      for (const [across, down] of [[3, 2], [1, 3]]) {
        const input = path.resolve(suite, name);
        const output = path.join(work, `decoded-${across}x${down}-${path.basename(name)}`);
        const run = spawnSync(tool, [input, output, `${across}x${down}`], { encoding: 'utf8' });
        if (run.status !== 0) return [`${name}: the tool failed: ${run.stderr}`];
        pairs.push({ name: `${name} at ${across}x${down}`, across, down,
          input: [...fs.readFileSync(input)], output: [...fs.readFileSync(output)] });
        fs.rmSync(output);
      }
    }
    const verdicts = await page.evaluate(async (list) => {
      const pixels = async (bytes) => {
        const bitmap = await createImageBitmap(new Blob([new Uint8Array(bytes)]),
          { premultiplyAlpha: 'none', colorSpaceConversion: 'none' });
        const canvas = new OffscreenCanvas(bitmap.width, bitmap.height);
        const context = canvas.getContext('2d');
        context.drawImage(bitmap, 0, 0);
        return { width: bitmap.width, height: bitmap.height,
          data: context.getImageData(0, 0, bitmap.width, bitmap.height).data };
      };
      const out = [];
      for (const each of list) {
        const before = await pixels(each.input);
        const after = await pixels(each.output);
        let differ = after.width !== before.width * each.across || after.height !== before.height * each.down;
        for (let y = 0; !differ && y < after.height; y += 1) {
          for (let x = 0; !differ && x < after.width; x += 1) {
            const a = (y * after.width + x) * 4;
            const b = (Math.floor(y / each.down) * before.width + Math.floor(x / each.across)) * 4;
            for (let c = 0; c < 4; c += 1) differ ||= after.data[a + c] !== before.data[b + c];
          }
        }
        out.push(differ ? `${each.name}: ${after.width} x ${after.height} differs from its input enlarged` : '');
      }
      return out;
    }, pairs);
    return verdicts.filter((verdict) => verdict !== '');
  });

  await check('run-length encoded files written uncompressed are the tool\'s --uncompressed bytes, of the length describe() tells', async () => {
    const list = ['g/pal8rle.bmp', 'g/pal4rle.bmp', 'q/pal8rletrns.bmp', 'q/rgb24rle24.bmp'].map((name) => {
      const input = path.join(suite, name);
      const output = path.join(work, `plain-${path.basename(name)}`);
      const run = spawnSync(tool, ['--uncompressed', input, output, '3x2'], { encoding: 'utf8' });
      const bytes = run.status === 0 ? fs.readFileSync(output) : Buffer.alloc(0);
      return { name, input: [...fs.readFileSync(input)], sha256: sha256(bytes), length: bytes.length };
    });
    const got = await page.evaluate(async (files) => {
      const { describe, enlarge } = await import('/bmpresize.js');
      const out = [];
      for (const file of files) {
        const blob = new Blob([new Uint8Array(file.input)]);
        const chunks = [];
        const writable = { write: async (chunk) => chunks.push(chunk.slice()), close: async () => {} };
        const { outputBytes } = await enlarge(blob, [3, 2], writable, { uncompressed: true });
        const told = (await describe(blob)).outputBytes(3, 2, { uncompressed: true });
        const whole = new Uint8Array(await new Blob(chunks).arrayBuffer());
        const digest = new Uint8Array(await crypto.subtle.digest('SHA-256', whole));
        out.push({ outputBytes, told, sha256: [...digest].map((b) => b.toString(16).padStart(2, '0')).join('') });
      }
      return out;
    }, list);
    return list.flatMap((file, i) => (
      got[i].sha256 === file.sha256 && got[i].outputBytes === file.length && got[i].told === file.length
        ? []
        : [`${file.name}: ${got[i].outputBytes} bytes (described ${got[i].told}), the tool ${file.length}`]));
  });

  await check('a hand-made 2 x 2 image at 2 x 1 is exactly the bytes worked out by hand', async () => {
    const got = await page.evaluate(async () => {
      const { enlarge } = await import('/bmpresize.js');
      // 24 bits, bottom-up; rows of 6 bytes padded to 8: blue, green / red, white.
      const input = new Uint8Array([
        0x42, 0x4d, 70, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0, 40, 0, 0, 0, 2, 0, 0, 0, 2, 0, 0, 0, 1, 0, 24, 0,
        0, 0, 0, 0, 16, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
        255, 0, 0, 0, 255, 0, 0, 0, 0, 0, 255, 255, 255, 255, 0, 0,
      ]);
      const chunks = [];
      const writable = { write: async (chunk) => chunks.push(...chunk), close: async () => {} };
      const { outputBytes } = await enlarge(new Blob([input]), [2, 1], writable);
      return { outputBytes, bytes: chunks };
    });
    // 4 x 2 pixels: rows of 12 bytes, no padding; 24 bytes of pixels.
    const want = [
      0x42, 0x4d, 78, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0, 40, 0, 0, 0, 4, 0, 0, 0, 2, 0, 0, 0, 1, 0, 24, 0,
      0, 0, 0, 0, 24, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
      255, 0, 0, 255, 0, 0, 0, 255, 0, 0, 255, 0,
      0, 0, 255, 0, 0, 255, 255, 255, 255, 255, 255, 255,
    ];
    return got.outputBytes === 78 && JSON.stringify(got.bytes) === JSON.stringify(want)
      ? []
      : [`got ${got.outputBytes} bytes: ${JSON.stringify(got.bytes)}`];
  });

  await check('bad factors are refused as the tool refuses them, before anything is written', async () => {
    const sample = cases.find((each) => each.name === 'sample.bmp');
    const problems = [];
    for (const factor of ['2.5', 'abc', '3x', '99999999999', '0', '1x-2']) {
      const want = native(sample.input, factor);
      const got = await page.evaluate(async (id, factor) => {
        const { enlarge } = await import('/bmpresize.js');
        const blob = new File([await (await fetch(`/case/${id}/sample.bmp`)).blob()], 'sample.bmp');
        let writes = 0;
        let aborted = false;
        const writable = { write: async () => { writes += 1; }, close: async () => {}, abort: async () => { aborted = true; } };
        try {
          await enlarge(blob, /^[0-9.]+$/.test(factor) ? Number(factor) : factor, writable, { outputName: 'out.bmp' });
          return { code: 0, writes };
        } catch (error) {
          return { code: error.code, message: error.message, writes, aborted };
        }
      }, sample.id, factor);
      const message = want.message.replace(/^.*?: (factor 0 is below 1)/, 'out.bmp: $1');
      if (got.code !== want.code || got.writes !== 0 || !got.aborted || (want.code !== 6 && got.message !== message) ||
          (want.code === 6 && !got.message.endsWith('is below 1; nothing to enlarge'))) {
        problems.push(`factor ${factor}: ${JSON.stringify(got)}; the tool: ${want.code} ${want.message}`);
      }
    }
    return problems;
  });

  await check('a failing write or read ends enlarge() with 7 and the tool\'s message, the writable aborted', async () => {
    const sample = cases.find((each) => each.name === 'sample.bmp');
    const got = await page.evaluate(async (id, mediumId) => {
      const { enlarge } = await import('/bmpresize.js');
      const blob = new File([await (await fetch(`/case/${id}/sample.bmp`)).blob()], 'sample.bmp');
      const outcome = async (input, writable) => {
        try {
          await enlarge(input, 3, writable, { outputName: 'out.bmp' });
          return { code: 0, aborted: writable.aborted };
        } catch (error) {
          return { code: error.code, error: error.error, message: error.message, cause: error.cause?.name, aborted: writable.aborted };
        }
      };
      const writable = (write) => ({ aborted: false, write, close: async () => {}, async abort() { this.aborted = true; } });
      const noRoom = async () => {
        throw new DOMException('no room', 'QuotaExceededError');
      };
      // Failing in the last write, after the engine's call, and in the first, inside it.
      const full = await outcome(blob, writable(noRoom));
      const medium = new File([await (await fetch(`/case/${mediumId}/medium.bmp`)).blob()], 'medium.bmp');
      const fullEarly = await outcome(medium, writable(noRoom));
      const unreadable = {
        name: 'gone.bmp',
        size: blob.size,
        slice: () => ({ arrayBuffer: () => Promise.reject(new DOMException('gone', 'NotReadableError')) }),
      };
      const gone = await outcome(unreadable, writable(async () => {}));
      return { full, fullEarly, gone };
    }, sample.id, cases.find((each) => each.name === 'medium.bmp').id);
    const { full, fullEarly, gone } = got;
    const noRoom = (each) => each.code === 7 && each.error === 'write_failed' &&
      each.message === 'out.bmp: write error: No space left on device' && each.cause === 'QuotaExceededError' && each.aborted;
    return noRoom(full) && noRoom(fullEarly) &&
      gone.code === 7 && gone.error === 'read_failed' && gone.message.startsWith('gone.bmp: ') && gone.cause === 'NotReadableError' && gone.aborted
      ? []
      : [JSON.stringify(got)];
  });

  await check('an aborted signal stops enlarge() soon, aborts the writable and keeps no file', async () => {
    const mediumCase = cases.find((each) => each.name === 'medium.bmp');
    const got = await page.evaluate(async (id) => {
      const { enlarge } = await import('/bmpresize.js');
      const blob = new File([await (await fetch(`/case/${id}/medium.bmp`)).blob()], 'medium.bmp');
      const dir = await navigator.storage.getDirectory();
      const handle = await dir.getFileHandle('aborted.bmp', { create: true });
      const controller = new AbortController();
      let progressed = 0;
      let after = 0;
      try {
        await enlarge(blob, 8, await handle.createWritable(), {
          signal: controller.signal,
          onProgress: (written) => {
            if (controller.signal.aborted) after += 1;
            progressed = written;
            if (written >= 8 << 20) controller.abort();
          },
        });
        return { finished: true };
      } catch (error) {
        const size = (await handle.getFile()).size;
        await dir.removeEntry('aborted.bmp');
        return { code: error.code, name: error.name, message: error.message, size, progressed, after };
      }
    }, mediumCase.id);
    return got.code === 7 && got.name === 'AbortError' && got.size === 0 && got.after <= 2
      ? []
      : [JSON.stringify(got)];
  });

  await page.close();

  // The same engine rewritten by asyncify, as browsers without promise
  // integration get it.
  const plain = await open('/index.html', NO_PROMISE_INTEGRATION);
  await check('without promise integration (the asyncify build) and byte streams (slices), the outputs match the tool too', async () => {
    const some = cases.filter((each, index) => index % 4 === 0 || each.name === 'medium.bmp');
    const answers = await enlargeInPage(plain, some);
    const problems = compare(answers);
    const integration = await plain.evaluate(async () => (await import('/bmpresize.js')).hasPromiseIntegration);
    if (integration !== false) problems.push('promise integration was still there');
    return problems;
  });
  await plain.close();

  // The page itself, as a person uses it: no request leaves it after load.
  const app = await open('/index.html', SAVE_INTO_OPFS);
  const requests = [];
  app.on('request', (request) => {
    // (blob: URLs are the page's own files, drawn in its preview.)
    if (!request.url().startsWith('blob:')) requests.push(request.url());
  });
  async function throughPage(input, across, down) {
    const [chooser] = await Promise.all([app.waitForFileChooser(), app.click('#file')]);
    await chooser.accept([input]);
    await app.waitForFunction(() => document.querySelector('#input-kind').textContent !== '');
    await app.$eval('#same', (box, same) => {
      if (box.checked !== same) box.click();
    }, across === down);
    for (const [id, value] of [['#across', across], ['#down', down]]) {
      await app.$eval(id, (field, value) => {
        if (field.disabled) return;
        field.value = value;
        field.dispatchEvent(new Event('input'));
      }, String(value));
    }
    await app.waitForFunction(() => !document.querySelector('#start').disabled || document.querySelector('#message').className === 'bad');
    return app.$eval('#message', (box) => ({ kind: box.className, text: box.textContent }));
  }
  async function savedFile(name) {
    return app.evaluate(async (name) => {
      const dir = await navigator.storage.getDirectory();
      try {
        const file = await (await dir.getFileHandle(name)).getFile();
        const digest = await crypto.subtle.digest('SHA-256', await file.arrayBuffer());
        await dir.removeEntry(name);
        return { bytes: file.size, sha256: [...new Uint8Array(digest)].map((b) => b.toString(16).padStart(2, '0')).join('') };
      } catch {
        return null;
      }
    }, name);
  }

  await check('files of every kind chosen in the page are saved as the tool writes them', async () => {
    const problems = [];
    const kinds = ['pal1.bmp', 'pal4.bmp', 'pal8os2.bmp', 'rgb16-565.bmp', 'rgb24.bmp', 'rgb32bf.bmp', 'pal8v5.bmp', 'pal8topdown.bmp'];
    // And run-length encoded ones, where the tool enlarges them.
    kinds.push(...['pal8rle.bmp', 'pal4rle.bmp'].filter((name) => cases.some((c) => c.name === name && c.expected.code === 0)));
    for (const name of kinds) {
      const each = cases.find((c) => c.name === name && c.expected.code === 0);
      if (!each) {
        problems.push(`${name}: not among the enlarged files`);
        continue;
      }
      const [across, down] = each.factor.includes('x') ? each.factor.split('x').map(Number) : [Number(each.factor), Number(each.factor)];
      await throughPage(each.input, across, down);
      await app.click('#start');
      await app.waitForFunction(() => /^Saved |^bmpresize: |^Cancelled/.test(document.querySelector('#message').textContent), { timeout: 20000 });
      const message = await app.$eval('#message', (box) => box.textContent);
      const outName = `${name.replace(/\.bmp$/, '')}-${across === down ? `x${across}` : `${across}x${down}`}.bmp`;
      const saved = await savedFile(outName);
      if (!message.startsWith(`Saved ${outName}`) || !saved || saved.bytes !== each.expected.bytes || saved.sha256 !== each.expected.sha256) {
        problems.push(`${name} at ${each.factor}: "${message}", saved ${JSON.stringify(saved)}, the tool ${each.expected.bytes} bytes`);
      }
    }
    return problems;
  });

  await check('a refused file shows the tool\'s message and its command for converting it', async () => {
    const problems = [];
    // Whatever the tool refuses: files with a command for converting them and without.
    const refused = cases.filter((c) => c.expected.code === 5);
    const withCommand = refused.filter((c) => c.expected.message.includes('; convert it first: '));
    const without = refused.filter((c) => !c.expected.message.includes('; convert it first: '));
    if (refused.length === 0) return ['the tool refused no file'];
    const some = [...new Set([withCommand[0], withCommand[withCommand.length - 1], without[0], without[without.length - 1]])];
    for (const each of some.filter(Boolean)) {
      const name = each.name;
      const shown = await throughPage(each.input, 2, 2);
      const [reason, command] = each.expected.message.split('; convert it first: ');
      const start = await app.$eval('#start', (button) => button.disabled);
      if (shown.kind !== 'bad' || !shown.text.startsWith(`bmpresize: ${reason}`) || (command && !shown.text.endsWith(command)) || !start) {
        problems.push(`${name}: showed "${shown.text}" (Start ${start ? 'off' : 'on'}); the tool: "${each.expected.message}"`);
      }
    }
    return problems;
  });

  await check('a bad factor in the page is refused with the tool\'s message and Start stays off', async () => {
    const problems = [];
    const sample = cases.find((each) => each.name === 'sample.bmp');
    for (const [across, down, want] of [[0, 0, 'factor 0 is below 1'], ['', 3, 'FACTOR must be a whole number'], [2, 70000000, 'pixels high']]) {
      const shown = await throughPage(sample.input, across, down);
      const start = await app.$eval('#start', (button) => button.disabled);
      if (shown.kind !== 'bad' || !shown.text.includes(want) || !start) {
        problems.push(`${across} x ${down}: "${shown.text}" (Start ${start ? 'off' : 'on'})`);
      }
    }
    return problems;
  });

  await check('Cancel in the page stops the work and leaves no output file', async () => {
    await throughPage(medium, 10, 10);
    await app.click('#start');
    await app.waitForFunction(() => document.querySelector('#progress').value > 0.02, { timeout: 20000 });
    await app.click('#cancel');
    await app.waitForFunction(() => /^Cancelled|^Saved|^bmpresize/.test(document.querySelector('#message').textContent), { timeout: 20000 });
    const message = await app.$eval('#message', (box) => box.textContent);
    const left = await app.evaluate(async () => {
      const names = [];
      for await (const name of (await navigator.storage.getDirectory()).keys()) names.push(name);
      return names;
    });
    return message.startsWith('Cancelled') && left.length === 0 ? [] : [`"${message}", left: ${left.join(', ')}`];
  });

  await check('the page\'s progress reaches 100% and shows its speed', async () => {
    const each = cases.find((c) => c.name === 'medium.bmp');
    await throughPage(medium, 5, 3);
    const seen = [];
    await app.exposeFunction('seeProgress', (text) => seen.push(text));
    await app.evaluate(() => {
      new MutationObserver(() => window.seeProgress(document.querySelector('#progress-text').textContent))
        .observe(document.querySelector('#progress-text'), { childList: true, characterData: true, subtree: true });
    });
    await app.click('#start');
    await app.waitForFunction(() => /^Saved |^bmpresize: /.test(document.querySelector('#message').textContent), { timeout: 30000 });
    const progress = await app.$eval('#progress', (bar) => bar.value);
    const text = await app.$eval('#progress-text', (line) => line.textContent);
    const saved = await savedFile('medium-5x3.bmp');
    const problems = [];
    if (progress !== 1 || !/^100% · .* in [0-9.]+ s at [0-9.]+ MB\/s$/.test(text)) problems.push(`progress ${progress}, "${text}"`);
    if (!saved || saved.sha256 !== each.expected.sha256) problems.push(`saved ${JSON.stringify(saved)}`);
    if (!seen.some((line) => /^\d+% · .* · [0-9.]+ MB\/s/.test(line))) problems.push(`no speed line while writing: ${seen.join(' | ')}`);
    return problems;
  });

  await check('the page made no network request after it loaded', async () => (requests.length === 0 ? [] : requests));

  // What Firefox and Safari get: a download streamed through the service
  // worker, or one held in memory.
  await check('downloads streamed through the service worker and held in memory are the tool\'s bytes', async () => {
    const problems = [];
    const each = cases.find((c) => c.name === 'medium.bmp');
    const downloads = path.join(work, 'downloads');
    fs.mkdirSync(downloads);
    for (const mode of ['stream', 'memory']) {
      const page = await open(`/index.html?save=${mode}`);
      const cdp = await page.createCDPSession();
      await cdp.send('Browser.setDownloadBehavior', { behavior: 'allow', downloadPath: downloads });
      const [chooser] = await Promise.all([page.waitForFileChooser(), page.click('#file')]);
      await chooser.accept([each.input]);
      await page.$eval('#same', (box) => box.click());
      for (const [id, value] of [['#across', 5], ['#down', 3]]) {
        await page.$eval(id, (field, value) => {
          field.value = value;
          field.dispatchEvent(new Event('input'));
        }, String(value));
      }
      await page.waitForFunction(() => !document.querySelector('#start').disabled);
      await page.click('#start');
      await page.waitForFunction(() => /^Saved |^bmpresize|^Cancelled|^Could/.test(document.querySelector('#message').textContent), { timeout: 30000 });
      const message = await page.$eval('#message', (box) => box.textContent);
      const file = path.join(downloads, 'medium-5x3.bmp');
      const deadline = Date.now() + 10000;
      while (!(fs.existsSync(file) && fs.statSync(file).size === each.expected.bytes) && Date.now() < deadline) {
        await new Promise((resolve) => setTimeout(resolve, 100));
      }
      const saved = fs.existsSync(file) ? fs.readFileSync(file) : Buffer.alloc(0);
      if (!message.startsWith('Saved ') || sha256(saved) !== each.expected.sha256) {
        problems.push(`${mode}: "${message}", downloaded ${saved.length} bytes, the tool ${each.expected.bytes}`);
      }
      fs.rmSync(file, { force: true });
      await page.close();
    }
    return problems;
  });

  if (screenshot) {
    const sample = cases.find((each) => each.name === 'sample.bmp');
    await throughPage(sample.input, 4, 4);
    await app.click('#start');
    await app.waitForFunction(() => /^Saved /.test(document.querySelector('#message').textContent));
    await savedFile('sample-x4.bmp');
    await app.setViewport({ width: 900, height: 1000 });
    await app.screenshot({ path: screenshot, fullPage: true });
  }
} finally {
  await browser.close();
  server.close();
  fs.rmSync(work, { recursive: true, force: true });
}

if (failed > 0) {
  console.log('\nWhat the browser\'s console said:');
  console.log(console_.length > 0 ? console_.join('\n') : '(nothing)');
}
console.log(`${passed} passed, ${failed} failed`);
process.exit(failed > 0 ? 1 : 0);
