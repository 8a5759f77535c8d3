/* The engine's path call as a program: engine_host INPUT OUTPUT FACTOR
 * calls bmpresize_enlarge_file once with the default options (the engine's
 * own buffer, two threads where they pay), as a C program would. Exit
 * status: 0, or the tool's for the failure. */
#include <bmpresize.h>
#include <stdio.h>
#include <stdlib.h>

int main(int argc, char** argv) {
  if (argc != 4) {
    fprintf(stderr, "usage: engine_host INPUT OUTPUT FACTOR\n");
    return 2;
  }
  const int32_t factor = (int32_t)strtol(argv[3], NULL, 10);
  const bmpresize_options options = bmpresize_default_options(factor, factor);
  bmpresize_result result;
  if (bmpresize_enlarge_file(argv[1], argv[2], &options, &result) != BMPRESIZE_OK) {
    char message[512];
    bmpresize_message(&result, argv[1], argv[2], message, sizeof message);
    fprintf(stderr, "engine_host: %s\n", message);
    return bmpresize_exit_status(result.error);
  }
  return 0;
}
