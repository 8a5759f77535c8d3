/*
 * The engine's stream call as the page makes it (web/bmpresize.js): the
 * input is read and the output written through the page's functions,
 * imported from the module "bmpresize_web". The page may suspend the
 * WebAssembly call inside them (JavaScript promise integration) while a
 * file is read or written, so each import looks synchronous from here.
 * Offsets and lengths cross as doubles: exact below 2^53, far beyond the
 * 4 GiB a BMP can reach.
 */
#include <errno.h>
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>

#include "bmpresize.h"

#define WEB_IMPORT(name) __attribute__((import_module("bmpresize_web"), import_name(name)))
#define WEB_EXPORT(name) __attribute__((export_name(name)))

/* Reads up to `size` bytes of the input at `offset` into `buffer`; returns
 * the count read (fewer only at the input's end), or -1 when reading failed. */
WEB_IMPORT("read_at") double web_read_at(double offset, void* buffer, size_t size);
/* Writes the `count` spans (each a pointer and a length, 32 bits apiece) at
 * the output's `offset`; returns 0, or an error number. */
WEB_IMPORT("write") int web_write(const bmpresize_span* spans, size_t count, double offset);
/* Progress: returns 0 to go on, anything else to stop. */
WEB_IMPORT("progress") int web_progress(double written, double total);

/* The page reads these structures at fixed places. */
_Static_assert(sizeof(bmpresize_span) == 8, "a span is two 32-bit words");
_Static_assert(offsetof(bmpresize_result, have) == 8 && offsetof(bmpresize_result, want) == 16 &&
                   offsetof(bmpresize_result, output_bytes) == 24 && sizeof(bmpresize_result) == 32,
               "the result's layout as bmpresize.js reads it");
_Static_assert(offsetof(bmpresize_image, height) == 16 &&
                   offsetof(bmpresize_image, input_bytes) == 24 &&
                   offsetof(bmpresize_image, output_width) == 32 &&
                   offsetof(bmpresize_image, output_bytes) == 40 && sizeof(bmpresize_image) == 48,
               "the image's layout as bmpresize.js reads it");

static int64_t read_at(void* context, uint64_t offset, void* buffer, size_t size, int* error) {
  (void)context;
  const double got = web_read_at((double)offset, buffer, size);
  if (got < 0) {
    *error = EIO;
    return -1;
  }
  return (int64_t)got;
}

static int write_spans(void* context, const bmpresize_span* spans, size_t count, uint64_t offset) {
  (void)context;
  return web_write(spans, count, (double)offset);
}

static int report(void* context, uint64_t written, uint64_t total) {
  (void)context;
  return web_progress((double)written, (double)total);
}

/* Enlarges the page's input of `input_bytes` bytes `across` x `down` into
 * its output, with `work_bytes` of memory for enlarged rows (the engine's
 * own megabyte when 0) and the options' `flags`
 * (BMPRESIZE_WRITE_UNCOMPRESSED or 0); `result` as for
 * bmpresize_enlarge_stream. */
WEB_EXPORT("web_enlarge")
int web_enlarge(double input_bytes, int32_t across, int32_t down, uint32_t work_bytes,
                uint32_t flags, bmpresize_result* result) {
  bmpresize_source source = {0};
  source.read_at = read_at;
  source.size = (uint64_t)input_bytes;
  bmpresize_sink sink = {0};
  sink.write = write_spans;
  bmpresize_options options = bmpresize_default_options(across, down);
  options.threads = 1;
  options.flags = flags & BMPRESIZE_WRITE_UNCOMPRESSED;
  options.progress = report;
  void* work = NULL;
  if (work_bytes > 0) {
    work = malloc(work_bytes);
    if (work == NULL) {
      result->error = BMPRESIZE_E_OUT_OF_MEMORY;
      return (int)result->error;
    }
    options.work = work;
    options.work_bytes = work_bytes;
  }
  const bmpresize_error error = bmpresize_enlarge_stream(&source, &sink, &options, result);
  free(work);
  return (int)error;
}

/* bmpresize_describe of the first `head_bytes` bytes at `head` of an input
 * of `input_bytes` bytes, at `across` x `down`, with the options' `flags`. */
WEB_EXPORT("web_describe")
int web_describe(const void* head, size_t head_bytes, double input_bytes, int32_t across,
                 int32_t down, uint32_t flags, bmpresize_image* image, bmpresize_result* result) {
  bmpresize_options options = bmpresize_default_options(across, down);
  options.flags = flags & BMPRESIZE_WRITE_UNCOMPRESSED;
  return (int)bmpresize_describe(head, head_bytes, (uint64_t)input_bytes, &options, image, result);
}
