// bmpresize in the browser: the engine (bmpresize.wasm, beside this module)
// enlarges a BMP from a Blob or File into anything with write() and close(),
// reading the input piece by piece and awaiting every write, so that memory
// stays the same whatever the size of the image.
//
//   import { describe, enlarge } from './bmpresize.js';
//   const info = await describe(file);          // headers only
//   await enlarge(file, [3, 2], writable, { onProgress, signal });
//
// The engine's calls are synchronous and the browser's reads and writes are
// promises. Where the browser has JavaScript promise integration
// (WebAssembly.Suspending; Chromium, Edge), the engine's call is suspended
// while each promise settles. Elsewhere bmpresize-asyncify.wasm, the same
// module rewritten by binaryen's asyncify pass, unwinds and rewinds its
// stack around each one instead (scripts/web.sh builds both).

// The engine's options flag for run-length encoded images written uncompressed.
const WRITE_UNCOMPRESSED = 2;
const HEADER_BYTES = 138; // BMPRESIZE_HEADER_BYTES: always enough for describe
const IMAGE_BYTES = 48; // sizeof(bmpresize_image), as web_calls.c checks
const RESULT_BYTES = 32; // sizeof(bmpresize_result)
const MESSAGE_BYTES = 2048;
const CHUNK_BYTES = 1 << 20; // each read of the input and each write of the output
const E_WRITE_FAILED = 704;
const E_CLOSE_FAILED = 705;
const E_CANCELLED = 706;
const EIO = 29; // wasi-libc's errno values
const ENOSPC = 51;
const ENOSYS = 52;

/** True where the engine's call can wait for the browser's promises
 * directly (JavaScript promise integration); false where the asyncify
 * build does. */
export const hasPromiseIntegration =
  typeof WebAssembly.Suspending === 'function' && typeof WebAssembly.promising === 'function';

const modules = new Map();
function compiled(name) {
  if (!modules.has(name)) {
    const url = new URL(name, import.meta.url);
    const loading = fetch(url)
      .then((response) => {
        if (!response.ok) throw new Error(`${url}: ${response.status} ${response.statusText}`);
        return response.arrayBuffer();
      })
      .then((bytes) => WebAssembly.compile(bytes));
    loading.catch(() => modules.delete(name));
    modules.set(name, loading);
  }
  return modules.get(name);
}

// The few WASI calls that wasi-libc's stdio links in; the engine makes none.
const wasi = {
  fd_close: () => ENOSYS,
  fd_seek: () => ENOSYS,
  fd_write: () => ENOSYS,
};

/** Loads the engine ahead of its first use (describe and enlarge load it too). */
export function load() {
  return compiled(hasPromiseIntegration ? 'bmpresize.wasm' : 'bmpresize-asyncify.wasm');
}

// One instance of the engine with views of its memory that follow its
// growth. `web` holds the page's imports.
async function instantiate(web) {
  const instance = await WebAssembly.instantiate(await load(), {
    bmpresize_web: web,
    wasi_snapshot_preview1: wasi,
  });
  const exports = instance.exports;
  exports._initialize();
  let buffer = null;
  let bytes = null;
  let view = null;
  const engine = {
    exports,
    bytes() {
      if (buffer !== exports.memory.buffer) {
        buffer = exports.memory.buffer;
        bytes = new Uint8Array(buffer);
        view = new DataView(buffer);
      }
      return bytes;
    },
    view() {
      engine.bytes();
      return view;
    },
    string(text) {
      const encoded = new TextEncoder().encode(`${text}\0`);
      const at = exports.malloc(encoded.length);
      engine.bytes().set(encoded, at);
      return at;
    },
    // The tool's message for the result at `at` (without "bmpresize: ").
    message(at, inputName, outputName) {
      const input = engine.string(inputName);
      const output = engine.string(outputName);
      const text = exports.malloc(MESSAGE_BYTES);
      const length = Math.min(
        exports.bmpresize_message(at, input, output, text, MESSAGE_BYTES),
        MESSAGE_BYTES - 1,
      );
      const message = new TextDecoder().decode(engine.bytes().subarray(text, text + length));
      exports.free(text);
      exports.free(output);
      exports.free(input);
      return message;
    },
    result(at) {
      const view = engine.view();
      return {
        error: view.getInt32(at, true),
        systemError: view.getInt32(at + 4, true),
        outputBytes: Number(view.getBigUint64(at + 24, true)),
      };
    },
    name(error) {
      const at = exports.bmpresize_error_name(error);
      const bytes = engine.bytes();
      let end = at;
      while (bytes[end] !== 0) end += 1;
      return new TextDecoder().decode(bytes.subarray(at, end));
    },
  };
  return engine;
}

// The engine for the synchronous calls (describe, factors), which never
// suspend: one for the page.
let shared = null;
function sharedEngine() {
  if (shared === null) {
    const unused = () => {
      throw new Error('bmpresize: no stream call runs on this instance');
    };
    shared = instantiate({ read_at: unused, write: unused, progress: unused });
    shared.catch(() => {
      shared = null;
    });
  }
  return shared;
}

// An Error as the tool fails: `code` its exit status, `message` its message.
function failure(code, message, name, extra) {
  const error = new Error(message);
  error.code = code;
  error.name = name ?? 'BmpresizeError';
  return Object.assign(error, extra);
}

function usageError(message) {
  return failure(2, message, 'BmpresizeError', { error: 'invalid_argument' });
}

/**
 * The factors [across, down] of `factor`: a whole number for both
 * directions, [across, down], or the tool's text ("3", "3x2"). Throws an
 * Error with code 2 and the tool's message for anything else. Factors
 * below 1 are read; the enlargement refuses them (code 6), as the tool does.
 */
export async function parseFactor(factor) {
  let text;
  if (typeof factor === 'string') {
    text = factor;
  } else if (typeof factor === 'number') {
    text = String(factor);
  } else if (Array.isArray(factor) && factor.length === 2 && factor.every((n) => typeof n === 'number')) {
    text = `${factor[0]}x${factor[1]}`;
  } else {
    throw usageError(`FACTOR must be a whole number, or ACROSSxDOWN such as 3x2, not "${factor}"`);
  }
  const engine = await sharedEngine();
  const { exports } = engine;
  const at = exports.malloc(8 + RESULT_BYTES);
  const textAt = engine.string(text);
  try {
    const error = exports.bmpresize_parse_factor(textAt, at, at + 4, at + 8);
    const view = engine.view();
    if (error === 0 && !text.includes('\0')) {
      return [view.getInt32(at, true), view.getInt32(at + 4, true)];
    }
    const outOfRange = view.getBigUint64(at + 16, true) === 2n;
    throw usageError(
      outOfRange
        ? `factor ${text} is out of range: each factor is a whole number from 1 to 2147483647`
        : `FACTOR must be a whole number, or ACROSSxDOWN such as 3x2, not "${text}"`,
    );
  } finally {
    exports.free(textAt);
    exports.free(at);
  }
}

function nameOf(blob, fallback) {
  return typeof blob.name === 'string' && blob.name !== '' ? blob.name : fallback;
}

// bmpresize_describe of `head` (the input's first bytes) at across x down.
function describeHead(engine, head, inputBytes, across, down, inputName, flags = 0) {
  const { exports } = engine;
  const at = exports.malloc(head.length + IMAGE_BYTES + RESULT_BYTES);
  try {
    engine.bytes().set(head, at);
    const image = at + head.length;
    const result = image + IMAGE_BYTES;
    const error = exports.web_describe(at, head.length, inputBytes, across, down, flags, image, result);
    const view = engine.view();
    const height = view.getInt32(image + 16, true);
    return {
      error,
      code: exports.bmpresize_exit_status(error),
      message: error === 0 ? '' : engine.message(result, inputName, 'output'),
      name: engine.name(error),
      headerSize: view.getUint32(image, true),
      bitsPerPixel: view.getUint32(image + 4, true),
      compression: view.getUint32(image + 8, true),
      width: view.getUint32(image + 12, true),
      height: Math.abs(height),
      topDown: height < 0,
      inputBytes: Number(view.getBigUint64(image + 24, true)),
      // (0 with success: the headers alone cannot tell it.)
      outputBytes: error === 0 && view.getBigUint64(image + 40, true) === 0n ? null : Number(view.getBigUint64(image + 40, true)),
    };
  } finally {
    exports.free(at);
  }
}

/**
 * What the headers of `blob` (a Blob or File) say, from its first bytes:
 * { ok, code, message, error, width, height, topDown, bitsPerPixel,
 *   headerSize, compression, inputBytes, outputBytes(across, down) }.
 * A file the tool refuses has ok false, `code` the tool's exit status and
 * `message` its message (with the command that converts such a file, where
 * one exists). outputBytes(across, down = across) is the enlargement's
 * exact length, or null where the headers alone cannot tell it (a
 * run-length encoded image kept encoded: the length depends on its codes;
 * outputBytes(across, down, { uncompressed: true }) tells the length
 * written uncompressed), or throws an Error with the code and message of
 * the tool's refusal (a factor below 1, a width or file beyond what a BMP
 * holds).
 */
export async function describe(blob) {
  const [engine, head] = await Promise.all([
    sharedEngine(),
    blob.slice(0, HEADER_BYTES).arrayBuffer().then((bytes) => new Uint8Array(bytes)),
  ]);
  const inputName = nameOf(blob, 'input');
  const found = describeHead(engine, head, blob.size, 1, 1, inputName);
  return {
    ok: found.error === 0,
    code: found.code,
    message: found.message,
    error: found.name,
    width: found.width,
    height: found.height,
    topDown: found.topDown,
    bitsPerPixel: found.bitsPerPixel,
    headerSize: found.headerSize,
    compression: found.compression,
    inputBytes: found.inputBytes,
    outputBytes(across, down = across, { uncompressed = false } = {}) {
      const at = describeHead(engine, head, blob.size, across, down, inputName,
        uncompressed ? WRITE_UNCOMPRESSED : 0);
      if (at.error !== 0) {
        throw failure(at.code, at.message, 'BmpresizeError', { error: at.name });
      }
      return at.outputBytes;
    },
  };
}

// The input, read a megabyte at a time into one buffer. The engine reads
// each row once, in order, in pieces of its own size: a piece that runs
// past the buffer keeps the buffer's tail and continues from the same
// stream (a byte stream read into the buffer itself, where the browser has
// one), so that every byte is read once and nothing is allocated per read.
// A read elsewhere starts a new stream there.
class ChunkedReader {
  constructor(blob) {
    this.blob = blob;
    this.buffer = new ArrayBuffer(CHUNK_BYTES);
    this.start = 0; // the input's offset of the buffer's first byte
    this.length = 0; // the bytes held
    this.reader = null; // a stream that goes on at start + length
  }

  // Copies `size` bytes at `offset` into `target` (fewer at the input's
  // end); returns the count, or a promise of it when more must be read.
  readAt(offset, target, size) {
    const end = Math.min(offset + size, this.blob.size);
    if (offset >= this.start && end <= this.start + this.length) {
      target.set(new Uint8Array(this.buffer, offset - this.start, Math.max(end - offset, 0)));
      return Math.max(end - offset, 0);
    }
    return this.load(offset, end - offset).then(() => this.readAt(offset, target, size));
  }

  // Holds the input from `offset` on, `size` bytes at least (less at its end).
  async load(offset, size) {
    const room = Math.max(size, CHUNK_BYTES);
    const held = this.start + this.length;
    let kept = 0;
    if (this.reader !== null && offset >= this.start && offset <= held) {
      kept = held - offset;
      new Uint8Array(this.buffer).copyWithin(0, offset - this.start, this.length);
    } else {
      this.restart(offset);
    }
    if (this.buffer.byteLength < room) {
      const larger = new ArrayBuffer(room);
      new Uint8Array(larger).set(new Uint8Array(this.buffer, 0, kept));
      this.buffer = larger;
    }
    this.start = offset;
    this.length = kept;
    const want = Math.min(this.buffer.byteLength, this.blob.size - offset);
    while (this.length < want) {
      this.length += await this.fill(this.length, want - this.length);
    }
  }

  restart(offset) {
    if (this.reader !== null && this.reader !== 'slices') this.reader.cancel().catch(() => {});
    this.reader = 'slices';
    try {
      this.reader = this.blob.slice(offset).stream().getReader({ mode: 'byob' });
    } catch {
      // No byte stream here (or no stream at all): slices of a megabyte.
    }
  }

  // Reads up to `size` bytes into the buffer at `at`; returns the count.
  async fill(at, size) {
    if (this.reader === 'slices') {
      const from = this.start + at;
      const bytes = new Uint8Array(await this.blob.slice(from, from + size).arrayBuffer());
      if (bytes.length === 0) throw new Error('the input ended early');
      new Uint8Array(this.buffer).set(bytes, at);
      return bytes.length;
    }
    const { value, done } = await this.reader.read(new Uint8Array(this.buffer, at, size));
    if (done) throw new Error('the input ended early');
    this.buffer = value.buffer; // the same memory, handed back
    return value.length;
  }
}

// The output, gathered into writes of a megabyte. With `reuse` one buffer
// serves every write (a file stream has copied the bytes once its write
// settles); otherwise each write gets a buffer of its own, for streams that
// keep the chunks they are given.
class BatchedWriter {
  constructor(writable, reuse, onWritten) {
    this.writable = writable;
    this.reuse = reuse;
    this.onWritten = onWritten;
    this.buffer = new Uint8Array(CHUNK_BYTES);
    this.used = 0;
    this.written = 0;
  }

  // Copies `bytes` in, writing each full buffer; returns a promise only
  // when something was written.
  add(bytes) {
    let from = 0;
    while (from < bytes.length) {
      const piece = Math.min(bytes.length - from, this.buffer.length - this.used);
      this.buffer.set(bytes.subarray(from, from + piece), this.used);
      this.used += piece;
      from += piece;
      if (this.used === this.buffer.length) {
        return this.flush().then(() => this.add(bytes.subarray(from)));
      }
    }
    return undefined;
  }

  async flush() {
    if (this.used === 0) return;
    const chunk = this.reuse ? this.buffer.subarray(0, this.used) : this.buffer.slice(0, this.used);
    const count = this.used;
    this.used = 0;
    await this.writable.write(chunk);
    this.written += count;
    this.onWritten(this.written);
  }
}

function errnoOf(error) {
  return error && error.name === 'QuotaExceededError' ? ENOSPC : EIO;
}

// Runs the engine's call `run` so that the imports in `web` may return
// promises: through promise integration, or else asyncify's unwinding.
async function callSuspending(web, run) {
  if (hasPromiseIntegration) {
    const imports = {};
    for (const [name, fn] of Object.entries(web)) {
      imports[name] = name === 'progress' ? fn : new WebAssembly.Suspending(fn);
    }
    const engine = await instantiate(imports);
    return run(engine, (fn) => WebAssembly.promising(fn));
  }
  return callAsyncified(web, run);
}

// Asyncify (binaryen): an import that must wait stores the promise and
// starts an unwind; once the call returns and the promise settles, the
// export is called again with a rewind, and the import returns the value.
// The unwound stack is kept in a region of the engine's memory.
const ASYNCIFY_STACK_BYTES = 64 << 10;
async function callAsyncified(web, run) {
  let engine = null;
  let pending = null; // the promise an import waits for
  let settled = null; // its value, when rewinding
  let state = null; // the region's address, while a call runs
  const imports = {};
  for (const [name, fn] of Object.entries(web)) {
    imports[name] = (...args) => {
      const { exports } = engine;
      if (exports.asyncify_get_state() === 2) {
        exports.asyncify_stop_rewind();
        const value = settled;
        settled = null;
        if (value.error) throw value.error;
        return value.value;
      }
      const returned = fn(...args);
      if (!(returned instanceof Promise)) return returned;
      pending = returned;
      const view = engine.view();
      view.setUint32(state, state + 8, true);
      view.setUint32(state + 4, state + ASYNCIFY_STACK_BYTES, true);
      exports.asyncify_start_unwind(state);
      return 0;
    };
  }
  engine = await instantiate(imports);
  return run(engine, (fn) => async (...args) => {
    const { exports } = engine;
    state = exports.malloc(ASYNCIFY_STACK_BYTES);
    try {
      for (;;) {
        const value = fn(...args);
        if (exports.asyncify_get_state() !== 1) return value;
        exports.asyncify_stop_unwind();
        try {
          settled = { value: await pending };
        } catch (error) {
          settled = { error };
        }
        pending = null;
        exports.asyncify_start_rewind(state);
      }
    } finally {
      exports.free(state);
      state = null;
    }
  });
}

/**
 * Enlarges `blob` (a Blob or File holding a BMP) by `factor` (a whole
 * number, [across, down], or the tool's text such as "3x2") into
 * `writable`: anything with write(Uint8Array) returning a promise and
 * close() (a FileSystemWritableFileStream, a WritableStream's writer).
 * The input is read a megabyte at a time as the work goes and each write is
 * awaited, so memory stays constant.
 *
 * options: onProgress(written, total) after each write (the output's bytes
 * so far and in all); signal, an AbortSignal that stops the work soon;
 * inputName and outputName, the names the messages give (the File's name
 * and "output" by default); uncompressed, to write a run-length encoded
 * image uncompressed (what no code draws: colour 0), for readers without
 * run-length codes; reuseBuffer, whether one buffer may serve every
 * write (by default only for a FileSystemWritableFileStream, which copies
 * what it is given).
 *
 * Resolves to { outputBytes, memoryBytes } once the output is written and
 * closed: the output's length, and the engine's memory at its largest
 * (WebAssembly memory only grows).
 * Rejects with an Error whose `code` is the tool's exit status (2 for a bad
 * factor, 3 to 7) and whose `message` is the tool's message; a refused
 * input is refused before anything is written. On any failure, an abort
 * included (code 7, name AbortError), the writable is aborted, so that a
 * file stream keeps none of what was written.
 */
export async function enlarge(blob, factor, writable, options = {}) {
  const { onProgress, signal } = options;
  const inputName = options.inputName ?? nameOf(blob, 'input');
  const outputName = options.outputName ?? 'output';
  const reuse =
    options.reuseBuffer ??
    (typeof FileSystemWritableFileStream === 'function' &&
      writable instanceof FileSystemWritableFileStream);
  const giveUp = async (error) => {
    try {
      await (typeof writable.abort === 'function' ? writable.abort(error) : writable.close());
    } catch {
      // The writable failed already; the call's own error tells why.
    }
    throw error;
  };
  let across;
  let down;
  try {
    [across, down] = await parseFactor(factor);
  } catch (error) {
    return giveUp(error);
  }

  let total = 0;
  let writeError = null;
  let readError = null;
  const reader = new ChunkedReader(blob);
  const output = new BatchedWriter(writable, reuse, (written) => {
    if (onProgress) onProgress(written, total);
  });
  const web = {
    read_at(offset, at, size) {
      const read = (count) => count;
      const failed = (error) => {
        readError = error;
        return -1;
      };
      try {
        const returned = reader.readAt(offset, engine.bytes().subarray(at, at + size), size);
        return returned instanceof Promise ? returned.then(read, failed) : returned;
      } catch (error) {
        return failed(error);
      }
    },
    write(spans, count) {
      // Copies every span out of the engine's memory before returning: they
      // are valid only during the call.
      const copyFrom = (index) => {
        for (let i = index; i < count; i += 1) {
          const view = engine.view();
          const data = view.getUint32(spans + 8 * i, true);
          const size = view.getUint32(spans + 8 * i + 4, true);
          const wrote = output.add(engine.bytes().subarray(data, data + size));
          if (wrote !== undefined) return wrote.then(() => copyFrom(i + 1));
        }
        return 0;
      };
      const failed = (error) => {
        writeError = error;
        return errnoOf(error);
      };
      try {
        const returned = copyFrom(0);
        return returned instanceof Promise ? returned.then((value) => value, failed) : returned;
      } catch (error) {
        return failed(error);
      }
    },
    progress(written, all) {
      total = all;
      return signal && signal.aborted ? 1 : 0;
    },
  };

  let engine = null;
  if (signal && signal.aborted) {
    return giveUp(abortError(signal, `${outputName}: cancelled`));
  }
  const outcome = await callSuspending(web, async (instance, suspending) => {
    engine = instance;
    const { exports } = engine;
    const result = exports.malloc(RESULT_BYTES);
    try {
      const enlargeCall = suspending(exports.web_enlarge);
      const flags = options.uncompressed ? WRITE_UNCOMPRESSED : 0;
      const error = await enlargeCall(blob.size, across, down, 0, flags, result);
      return {
        ...engine.result(result),
        memoryBytes: exports.memory.buffer.byteLength,
        error,
        code: exports.bmpresize_exit_status(error),
        name: engine.name(error),
        message: error === 0 ? '' : engine.message(result, inputName, outputName),
      };
    } finally {
      exports.free(result);
    }
  });

  if (outcome.error === E_CANCELLED) {
    return giveUp(abortError(signal, outcome.message));
  }
  if (outcome.error !== 0) {
    const cause = writeError ?? readError ?? undefined;
    return giveUp(failure(outcome.code, outcome.message, 'BmpresizeError', { error: outcome.name, cause }));
  }
  // The last writes and the close, after the engine's call: their failures
  // as the engine tells its own.
  let stage = E_WRITE_FAILED;
  try {
    await output.flush();
    stage = E_CLOSE_FAILED;
    await writable.close();
  } catch (error) {
    const { exports } = engine;
    const result = exports.malloc(RESULT_BYTES);
    engine.bytes().fill(0, result, result + RESULT_BYTES);
    engine.view().setInt32(result, stage, true);
    engine.view().setInt32(result + 4, errnoOf(error), true);
    const message = engine.message(result, inputName, outputName);
    exports.free(result);
    return giveUp(failure(7, message, 'BmpresizeError', { error: engine.name(stage), cause: error }));
  }
  if (onProgress) onProgress(outcome.outputBytes, outcome.outputBytes);
  return { outputBytes: outcome.outputBytes, memoryBytes: outcome.memoryBytes };
}

function abortError(signal, message) {
  return failure(7, message, 'AbortError', { error: 'cancelled', cause: signal ? signal.reason : undefined });
}
