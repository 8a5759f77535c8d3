// The page's enlargement in Chromium against the browser's own write limit.
//
//   node bench/web.mjs [--width 6000] [--height 4800] [--factor 5] [--rounds 2]
//                      [--tool build/cli/bmpresize] [--chromium /usr/bin/chromium]
//
// Needs web/bmpresize.wasm (scripts/web.sh --build) and the test driver
// (npm ci in web/tests). A random 24-bit image (bench/make_bmp.py, kept in
// bench/work/) is chosen through the page's own file input; then, round by
// round in the same page:
//   loop     awaited writes of one 1 MiB buffer into the origin-private file
//            system, as many bytes as the enlargement makes: the most any
//            page can write there;
//   enlarge  web/bmpresize.js enlarging the chosen file into that file system.
// For each: the time, the growth of the browser's memory (every process of
// it, resident, sampled every 100 ms, over what it was just before), and for
// enlarge the engine's WebAssembly memory and the page's JavaScript heap at
// their largest. The native tool's time for the same image into a file on
// the same disk is printed beside them.
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import http from 'node:http';
import { createRequire } from 'node:module';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

const root = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '..');
const option = (name, fallback) => {
  const at = process.argv.indexOf(name);
  return at > 0 ? process.argv[at + 1] : fallback;
};
const width = Number(option('--width', 6000));
const height = Number(option('--height', 4800));
const factor = Number(option('--factor', 5));
const rounds = Number(option('--rounds', 2));
const tool = path.resolve(root, option('--tool', 'build/cli/bmpresize'));
const chromium = option('--chromium', '/usr/bin/chromium');

const driver = createRequire(path.join(root, 'web/tests/package.json')).resolve('puppeteer-core');
const loaded = await import(driver);
const puppeteer = typeof loaded.default?.launch === 'function' ? loaded.default : loaded.default.default;

const input = path.join(root, `bench/work/web-${width}x${height}.bmp`);
if (!fs.existsSync(input)) {
  fs.mkdirSync(path.dirname(input), { recursive: true });
  const made = spawnSync('python3', [path.join(root, 'bench/make_bmp.py'), input, String(width), String(height)], { stdio: 'inherit' });
  if (made.status !== 0) process.exit(1);
}
const work = fs.mkdtempSync(path.join(os.tmpdir(), 'bmpresize-web-bench-'));

// The resident memory of `pid` and every process under it, in bytes.
const PAGE = 4096;
function treeBytes(pid) {
  const children = new Map();
  for (const entry of fs.readdirSync('/proc')) {
    if (!/^\d+$/.test(entry)) continue;
    try {
      const stat = fs.readFileSync(`/proc/${entry}/stat`, 'utf8');
      const parent = Number(stat.slice(stat.lastIndexOf(')') + 2).split(' ')[1]);
      if (!children.has(parent)) children.set(parent, []);
      children.get(parent).push(Number(entry));
    } catch {
      // gone meanwhile
    }
  }
  let bytes = 0;
  const stack = [pid];
  while (stack.length > 0) {
    const each = stack.pop();
    try {
      bytes += Number(fs.readFileSync(`/proc/${each}/statm`, 'utf8').split(' ')[1]) * PAGE;
    } catch {
      // gone meanwhile
    }
    stack.push(...(children.get(each) ?? []));
  }
  return bytes;
}

// Runs `body` while sampling the browser's memory: its time and growth.
// The previous run's bytes are on the disk first (sync), so that no run
// pays for another's.
async function measured(pid, body) {
  spawnSync('sync');
  await new Promise((resolve) => setTimeout(resolve, 2000));
  const before = treeBytes(pid);
  let peak = before;
  const timer = setInterval(() => {
    peak = Math.max(peak, treeBytes(pid));
  }, 100);
  try {
    const result = await body();
    peak = Math.max(peak, treeBytes(pid));
    return { ...result, growth: peak - before };
  } finally {
    clearInterval(timer);
  }
}

const server = http.createServer((request, response) => {
  const url = new URL(request.url, 'http://localhost').pathname;
  const file = path.join(root, 'web', path.normalize(url === '/' ? '/index.html' : url));
  const types = { '.html': 'text/html', '.js': 'text/javascript', '.wasm': 'application/wasm' };
  fs.readFile(file, (error, data) => {
    if (error || !file.startsWith(path.join(root, 'web'))) {
      response.writeHead(404).end();
      return;
    }
    response.writeHead(200, { 'content-type': types[path.extname(file)] ?? 'application/octet-stream' }).end(data);
  });
});
await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));

const browser = await puppeteer.launch({
  executablePath: chromium,
  headless: true,
  userDataDir: path.join(work, 'profile'),
  args: [
    '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
    '--disable-background-networking', '--disable-component-update', '--disable-sync',
    '--enable-precise-memory-info',
  ],
});
const pid = browser.process().pid;
const rows = [];
try {
  const page = await browser.newPage();
  page.on('pageerror', (error) => console.error(`page error: ${error.message}`));
  await page.goto(`http://127.0.0.1:${server.address().port}/index.html`, { waitUntil: 'load' });
  const [chooser] = await Promise.all([page.waitForFileChooser(), page.click('#file')]);
  await chooser.accept([input]);
  const outputBytes = await page.evaluate(async (factor) => {
    const { describe } = await import('/bmpresize.js');
    return (await describe(document.querySelector('#file').files[0])).outputBytes(factor);
  }, factor);
  console.log(`${path.basename(input)}: ${fs.statSync(input).size} bytes at ${factor}: ${outputBytes} bytes`);

  for (let round = 1; round <= rounds; round += 1) {
    // Each goes first in every other round.
    const runLoop = () => measured(pid, () =>
      page.evaluate(async (bytes) => {
        const dir = await navigator.storage.getDirectory();
        const handle = await dir.getFileHandle('loop.bmp', { create: true });
        const chunk = new Uint8Array(1 << 20).fill(7);
        const began = performance.now();
        const writable = await handle.createWritable();
        for (let written = 0; written < bytes; written += chunk.length) {
          await writable.write(bytes - written >= chunk.length ? chunk : chunk.subarray(0, bytes - written));
        }
        await writable.close();
        const seconds = (performance.now() - began) / 1000;
        await dir.removeEntry('loop.bmp');
        return { seconds };
      }, outputBytes),
    );
    const runEnlarge = () => measured(pid, () =>
      page.evaluate(async (factor) => {
        const { enlarge } = await import('/bmpresize.js');
        const dir = await navigator.storage.getDirectory();
        const handle = await dir.getFileHandle('enlarged.bmp', { create: true });
        const heapBefore = performance.memory.usedJSHeapSize;
        let heap = heapBefore;
        const began = performance.now();
        const { outputBytes, memoryBytes } = await enlarge(
          document.querySelector('#file').files[0], factor, await handle.createWritable(),
          { onProgress: () => { heap = Math.max(heap, performance.memory.usedJSHeapSize); } },
        );
        const seconds = (performance.now() - began) / 1000;
        const size = (await handle.getFile()).size;
        await dir.removeEntry('enlarged.bmp');
        return { seconds, outputBytes, size, memoryBytes, heap, heapGrowth: heap - heapBefore };
      }, factor),
    );
    let loop;
    let enlarged;
    if (round % 2 === 1) {
      loop = await runLoop();
      enlarged = await runEnlarge();
    } else {
      enlarged = await runEnlarge();
      loop = await runLoop();
    }
    rows.push({ what: 'loop', round, ...loop });
    if (enlarged.size !== enlarged.outputBytes) throw new Error(`enlarge wrote ${enlarged.size} of ${enlarged.outputBytes} bytes`);
    rows.push({ what: 'enlarge', round, ...enlarged });
    console.log(`round ${round}: loop ${loop.seconds.toFixed(2)} s, enlarge ${enlarged.seconds.toFixed(2)} s`);
  }
} finally {
  await browser.close();
  server.close();
}

const native = [];
for (let round = 1; round <= rounds; round += 1) {
  const output = path.join(work, 'native.bmp');
  const began = process.hrtime.bigint();
  const run = spawnSync(tool, [input, output, String(factor)]);
  native.push(Number(process.hrtime.bigint() - began) / 1e9);
  fs.rmSync(output, { force: true });
  if (run.status !== 0) throw new Error(`${tool}: ${run.stderr}`);
}
fs.rmSync(work, { recursive: true, force: true });

const MiB = 1 << 20;
const median = (values) => {
  const sorted = [...values].sort((a, b) => a - b);
  const half = Math.floor(sorted.length / 2);
  return sorted.length % 2 === 1 ? sorted[half] : (sorted[half - 1] + sorted[half]) / 2;
};
const loops = rows.filter((row) => row.what === 'loop');
const enlarges = rows.filter((row) => row.what === 'enlarge');
const loopTime = median(loops.map((row) => row.seconds));
const enlargeTime = median(enlarges.map((row) => row.seconds));
const bytes = enlarges[0].outputBytes;
console.log('\n| | time (s) | MB/s | x loop | browser memory growth (MiB) | wasm memory (MiB) | JS heap (MiB) |');
console.log('|---|---|---|---|---|---|---|');
for (const row of rows) {
  const wasm = row.memoryBytes !== undefined ? (row.memoryBytes / MiB).toFixed(1) : '';
  const heap = row.heap !== undefined ? (row.heap / MiB).toFixed(1) : '';
  console.log(`| ${row.what} (round ${row.round}) | ${row.seconds.toFixed(2)} | ${(bytes / row.seconds / 1e6).toFixed(0)} | ${(row.seconds / loopTime).toFixed(2)} | ${(row.growth / MiB).toFixed(0)} | ${wasm} | ${heap} |`);
}
console.log(`| native tool (median of ${rounds}) | ${median(native).toFixed(2)} | ${(bytes / median(native) / 1e6).toFixed(0)} | ${(median(native) / loopTime).toFixed(2)} | | | |`);
const ratios = enlarges.map((row) => row.seconds / loops.find((each) => each.round === row.round).seconds);
console.log(`\nenlarge over the loop of the same round: ${ratios.map((r) => r.toFixed(2)).join(', ')} (median ${median(ratios).toFixed(2)})`);
console.log(`median: enlarge ${(enlargeTime / loopTime).toFixed(2)}x the loop's time; memory growth ${(median(enlarges.map((r) => r.growth)) / MiB).toFixed(0)} MiB against the loop's ${(median(loops.map((r) => r.growth)) / MiB).toFixed(0)} MiB`);
