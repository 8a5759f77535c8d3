/* A program that uses libbmpresize, the library behind the bmpresize tool,
 * by paths and in memory:
 *
 *   cc -std=c99 enlarge_with_engine.c $(pkg-config --cflags --libs bmpresize) \
 *     -o enlarge_with_engine
 *   ./enlarge_with_engine INPUT.bmp BY_PATH.bmp IN_MEMORY.bmp ACROSS DOWN
 *
 * It enlarges INPUT into BY_PATH.bmp with one call on the two paths,
 * showing its progress; then reads INPUT into memory, asks
 * bmpresize_describe how long the enlargement will be, enlarges it into a
 * buffer of that length and writes the buffer to IN_MEMORY.bmp. Both
 * outputs are the same image, every pixel repeated ACROSS times along its
 * row and every row DOWN times. On failure it prints the library's message,
 * as the tool does, and exits with the tool's status for it (2 for wrong
 * arguments).
 *
 * The library takes UTF-8 paths; on Windows, where main's arguments are in
 * the ANSI code page, a program passes names beyond ASCII to
 * bmpresize_enlarge_file_w instead.
 */
#include <bmpresize.h>
#include <errno.h>
#include <inttypes.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

/* Prints the library's message for a failed call, whatever its length, and
 * returns the tool's exit status for it. */
static int report(const bmpresize_result* result, const char* input, const char* output) {
  char text[256];
  size_t length = bmpresize_message(result, input, output, text, sizeof text);
  if (length < sizeof text) {
    fprintf(stderr, "enlarge_with_engine: %s\n", text);
  } else {
    char* whole = malloc(length + 1);
    if (whole != NULL) {
      bmpresize_message(result, input, output, whole, length + 1);
    }
    fprintf(stderr, "enlarge_with_engine: %s\n", whole != NULL ? whole : text);
    free(whole);
  }
  return bmpresize_exit_status(result->error);
}

/* Called after each block written: shows the share done, in whole percents. */
static int show_progress(void* context, uint64_t bytes_written, uint64_t bytes_total) {
  int* shown = context;
  int percent = bytes_total > 0 ? (int)(bytes_written * 100 / bytes_total) : 100;
  if (percent != *shown) {
    fprintf(stderr, "\r%3d%%", percent);
    *shown = percent;
  }
  return 0; /* anything else would stop the call */
}

/* Reads a whole file into memory that the caller frees; NULL when it
 * can't. */
static unsigned char* read_file(const char* path, size_t* size) {
  FILE* file = fopen(path, "rb");
  unsigned char* data = NULL;
  size_t have = 0, room = 0;
  if (file == NULL) {
    return NULL;
  }
  for (;;) {
    if (have == room) {
      room = room == 0 ? 65536 : room * 2;
      unsigned char* grown = realloc(data, room);
      if (grown == NULL) {
        free(data);
        fclose(file);
        return NULL;
      }
      data = grown;
    }
    size_t got = fread(data + have, 1, room - have, file);
    have += got;
    if (got == 0) {
      break;
    }
  }
  int failed = ferror(file);
  fclose(file);
  if (failed) {
    free(data);
    return NULL;
  }
  *size = have;
  return data;
}

/* A factor from its decimal text; 0 for anything else, which the library
 * refuses. */
static int32_t factor(const char* text) {
  char* end;
  errno = 0;
  long value = strtol(text, &end, 10);
  return end != text && *end == '\0' && errno == 0 && value > 0 && value <= INT32_MAX
             ? (int32_t)value
             : 0;
}

int main(int argc, char** argv) {
  if (argc != 6) {
    fprintf(stderr, "usage: enlarge_with_engine INPUT.bmp BY_PATH.bmp IN_MEMORY.bmp ACROSS DOWN\n");
    return 2;
  }
  const char* input = argv[1];
  const char* by_path = argv[2];
  const char* in_memory = argv[3];
  bmpresize_options options = bmpresize_default_options(factor(argv[4]), factor(argv[5]));
  bmpresize_result result;

  /* By path: the library opens both files, and the output appears complete
   * or not at all. */
  int shown = -1;
  options.progress = show_progress;
  options.progress_context = &shown;
  bmpresize_enlarge_file(input, by_path, &options, &result);
  if (shown >= 0) {
    fputc('\n', stderr);
  }
  if (result.error != BMPRESIZE_OK) {
    return report(&result, input, by_path);
  }
  printf("enlarged %s %d x %d into %s by path: %" PRIu64 " bytes\n", input, (int)options.across,
         (int)options.down, by_path, result.output_bytes);

  /* In memory: the headers say how long the output will be, so the caller
   * allocates it once. */
  size_t input_bytes = 0;
  unsigned char* image = read_file(input, &input_bytes);
  if (image == NULL) {
    perror(input);
    return 3;
  }
  bmpresize_image description;
  options.progress = NULL;
  if (bmpresize_describe(image, input_bytes, input_bytes, &options, &description, &result) !=
      BMPRESIZE_OK) {
    free(image);
    return report(&result, input, in_memory);
  }
  if (description.output_bytes > SIZE_MAX) {
    free(image);
    fprintf(stderr, "enlarge_with_engine: %s: too large for this process's memory\n", in_memory);
    return 7;
  }
  size_t output_bytes = (size_t)description.output_bytes;
  unsigned char* output = malloc(output_bytes);
  if (output == NULL) {
    free(image);
    fprintf(stderr, "enlarge_with_engine: %s: out of memory\n", in_memory);
    return 7;
  }
  bmpresize_enlarge_memory(image, input_bytes, output, output_bytes, &options, &result);
  free(image);
  if (result.error != BMPRESIZE_OK) {
    free(output);
    return report(&result, input, in_memory);
  }
  FILE* file = fopen(in_memory, "wb");
  int written = file != NULL &&
                fwrite(output, 1, (size_t)result.output_bytes, file) == (size_t)result.output_bytes;
  if (file != NULL && fclose(file) != 0) {
    written = 0;
  }
  free(output);
  if (!written) {
    perror(in_memory);
    return 4;
  }
  printf("enlarged %s %d x %d into %s in memory: %" PRIu32 " x %" PRId32 " pixels, %" PRIu64
         " bytes\n",
         input, (int)options.across, (int)options.down, in_memory, description.output_width,
         description.output_height, result.output_bytes);
  return 0;
}
