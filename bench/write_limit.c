/* The machine's write limit for an output of a given size: what the fastest
 * possible enlarger could not beat. Reserves the file's blocks (fallocate,
 * keeping the size), then writes the bytes from memory that is already
 * filled, in large positional writes, with one or more threads each taking
 * an equal, contiguous share.
 *
 *   write_limit OUTPUT BYTES [THREADS [INPUT]]
 *
 * With INPUT, each thread also reads its share of that file, a proportional
 * piece after each block it writes, as an enlarger must: the limit for one
 * that reads its input and writes its output in the same thread.
 */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

enum { kBlock = 1 << 20, kReadBlock = 1 << 18 };
static unsigned char block[kBlock];

struct share {
  int fd;
  uint64_t from;
  uint64_t to;
  int input;           /* -1: none */
  uint64_t read_start; /* this share's part of the input */
  uint64_t read_to;
  uint64_t read_at;    /* how far it has been read */
  unsigned char* room; /* kReadBlock bytes to read into */
  int error;
};

/* Reads the share's input up to the proportion of its output written so far. */
static int read_along(struct share* share, uint64_t written) {
  const uint64_t out = share->to - share->from;
  const uint64_t in = share->read_to - share->read_start;
  const uint64_t until =
      share->read_start + (out == 0 ? in : (uint64_t)((double)in * (double)written / (double)out));
  while (share->read_at < until) {
    const uint64_t left = until - share->read_at;
    const size_t size = left < kReadBlock ? (size_t)left : kReadBlock;
    const ssize_t got = pread(share->input, share->room, size, (off_t)share->read_at);
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got <= 0) {
      return got < 0 ? errno : EIO;
    }
    share->read_at += (uint64_t)got;
  }
  return 0;
}

static void* write_share(void* argument) {
  struct share* share = argument;
  for (uint64_t at = share->from; at < share->to;) {
    const uint64_t left = share->to - at;
    const size_t size = left < kBlock ? (size_t)left : kBlock;
    const ssize_t done = pwrite(share->fd, block, size, (off_t)at);
    if (done < 0 && errno == EINTR) {
      continue;
    }
    if (done <= 0) {
      share->error = done < 0 ? errno : EIO;
      return NULL;
    }
    at += (uint64_t)done;
    if (share->input >= 0 && (share->error = read_along(share, at - share->from)) != 0) {
      return NULL;
    }
  }
  return NULL;
}

int main(int argc, char** argv) {
  if (argc < 3 || argc > 5) {
    fprintf(stderr, "usage: write_limit OUTPUT BYTES [THREADS [INPUT]]\n");
    return 2;
  }
  const uint64_t bytes = strtoull(argv[2], NULL, 10);
  const int threads = argc >= 4 ? atoi(argv[3]) : 1;
  if (threads < 1 || threads > 64) {
    fprintf(stderr, "write_limit: THREADS is 1 to 64\n");
    return 2;
  }
  /* Filled before the clock that matters: a page fault per page would be
   * the reader's cost, not the writer's. */
  memset(block, 0x5A, sizeof block);
  const int fd = open(argv[1], O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    perror(argv[1]);
    return 1;
  }
  if (bytes > 0 && fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, (off_t)bytes) != 0 &&
      errno != EOPNOTSUPP) {
    perror("fallocate");
  }
  int input = -1;
  uint64_t input_bytes = 0;
  if (argc == 5) {
    input = open(argv[4], O_RDONLY | O_CLOEXEC);
    const off_t end = input < 0 ? -1 : lseek(input, 0, SEEK_END);
    if (end < 0) {
      perror(argv[4]);
      return 1;
    }
    input_bytes = (uint64_t)end;
  }
  static unsigned char rooms[64][kReadBlock];
  pthread_t ids[64];
  struct share shares[64];
  for (int i = 0; i < threads; ++i) {
    shares[i] = (struct share){fd,
                               bytes * (uint64_t)i / (uint64_t)threads,
                               bytes * (uint64_t)(i + 1) / (uint64_t)threads,
                               input,
                               input_bytes * (uint64_t)i / (uint64_t)threads,
                               input_bytes * (uint64_t)(i + 1) / (uint64_t)threads,
                               input_bytes * (uint64_t)i / (uint64_t)threads,
                               rooms[i],
                               0};
    if (i > 0 && pthread_create(&ids[i], NULL, write_share, &shares[i]) != 0) {
      fprintf(stderr, "write_limit: cannot start a thread\n");
      return 1;
    }
  }
  write_share(&shares[0]);
  int failed = shares[0].error;
  for (int i = 1; i < threads; ++i) {
    pthread_join(ids[i], NULL);
    failed = failed != 0 ? failed : shares[i].error;
  }
  if (failed != 0 || close(fd) != 0) {
    fprintf(stderr, "write_limit: %s\n", strerror(failed != 0 ? failed : errno));
    return 1;
  }
  return 0;
}
