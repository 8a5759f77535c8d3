#include "callback_streams.h"

#include <cerrno>
#include <cstddef>
#include <cstring>

namespace bmpresizer {

namespace {

// Calls `read(done)`, which reads into the buffer from byte `done` and
// returns the count or -1 with `why` set, until `size` bytes came or the
// source ended (0) or failed: a short count before the end is taken as more
// to come.
template <class Read>
std::size_t read_fully(std::size_t size, int& error, Read read) {
  std::size_t done = 0;
  error = 0;
  while (done < size) {
    int why = 0;
    const std::int64_t got = read(done, why);
    if (got < 0 || static_cast<std::uint64_t>(got) > size - done) {
      error = why != 0 ? why : EIO;
      break;
    }
    if (got == 0) {
      break;
    }
    done += static_cast<std::size_t>(got);
  }
  return done;
}

}  // namespace

std::size_t CallbackSource::read_at(std::uint64_t offset, void* buffer, std::size_t size,
                                    int& error) {
  return read_fully(size, error, [&](std::size_t done, int& why) {
    return source_.read_at(source_.context, offset + done, static_cast<char*>(buffer) + done,
                           size - done, &why);
  });
}

std::size_t CallbackReader::read(void* buffer, std::size_t size, int& error) {
  return read_fully(size, error, [&](std::size_t done, int& why) {
    return source_.read(source_.context, static_cast<char*>(buffer) + done, size - done, &why);
  });
}

bool CallbackSink::write(const ByteSpan* spans, std::size_t count, std::uint64_t offset,
                         int& error) {
  static_assert(sizeof(ByteSpan) == sizeof(bmpresize_span) &&
                    offsetof(ByteSpan, data) == offsetof(bmpresize_span, data) &&
                    offsetof(ByteSpan, size) == offsetof(bmpresize_span, size),
                "the core's spans are handed over as they are");
  bmpresize_span pieces[64];
  while (count > 0) {
    const std::size_t n = count < 64 ? count : 64;
    std::memcpy(pieces, spans, n * sizeof pieces[0]);
    const int why = sink_.write(sink_.context, pieces, n, offset);
    if (why != 0) {
      error = why;
      return false;
    }
    for (std::size_t i = 0; i < n; ++i) {
      offset += spans[i].size;
    }
    spans += n;
    count -= n;
  }
  return true;
}

}  // namespace bmpresizer
