// The resize core as its callers see it: the library's exported frame, the
// bmpresize tool, the fuzz target and the tests. It reads an image from a
// byte source and writes the enlargement to a byte sink, and says precisely
// what happened; it knows nothing of paths, descriptors or handles, prints
// nothing, keeps no state, allocates nothing and throws nothing.
#ifndef BMPRESIZER_CORE_H
#define BMPRESIZER_CORE_H

#include <cstddef>
#include <cstdint>

namespace bmpresizer {

enum class Failure : std::uint8_t {
  none,
  // The input could not be opened for reading.
  input_open,           // the system refused it; `error` holds its error number
  input_is_directory,   // a folder holds no image
  input_path_invalid,   // null, too long, or not convertible to a native path
  input_stream_closed,  // standard input was closed when the process started
  // The output could not be opened for writing.
  output_open,           // the system refused it; `error` holds its error number
  output_path_invalid,   // null, too long, or not convertible to a native path
  output_is_input,       // the output names the input file (through any link)
  output_no_reader,      // a named pipe that no process is reading
  output_stream_closed,  // standard output was closed when the process started
  // The input is not a BMP of the accepted kind (have = what the file says).
  input_not_regular,  // a pipe, device or socket: no file to read twice
  not_bmp,            // no "BM" signature; have = the first two bytes, little-endian
  header_truncated,   // have = bytes in the file, want = bytes the headers need
  info_header_size,   // have = biSize
  planes,             // have = biPlanes (not 1)
  bit_count,          // have = biBitCount
  compression,        // have = biCompression, want = biSize (0: 40)
  pixel_offset,       // have = bfOffBits
  color_table,        // have = colours declared, want = colours there is room for
  negative_width,     // have = biWidth as an unsigned image of the signed value
  profile_offset,     // have = bV5ProfileData: a profile over the pixels
  pixels_truncated,   // have = bytes in the file, want = bytes the image needs
  // The enlarged image cannot be written as a BMP.
  factor_below_one,  // have = factor as an unsigned image of the signed value
  width_too_large,   // want = enlarged width in pixels, have = the most the header holds
  height_too_large,  // want = enlarged height in rows, have = the most the header holds
  file_too_large,    // want = enlarged file size in bytes
  // Input or output failed after both were open (`error` set).
  read_failed,
  input_shrank,  // have = bytes read, want = bytes needed at that point
  spool_failed,  // a stream's bytes could not be kept in a temporary file
  write_failed,
  close_failed,
};

// The failures grouped by what they leave behind; each group is one public
// result code.
enum class FailureGroup : std::uint8_t {
  none,
  input_unopened,   // nothing was touched
  output_unopened,  // nothing was created or changed
  input_refused,    // both files open, nothing written
  size_refused,     // both files open, nothing written
  io_failed,        // something may have been written
};

FailureGroup group_of(Failure failure);

struct Outcome {
  Failure failure = Failure::none;
  int error = 0;                   // the failing system call's error number, 0 if none
  std::uint64_t have = 0;          // see Failure
  std::uint64_t want = 0;          // see Failure
  std::uint64_t output_bytes = 0;  // length of the complete output on success

  bool ok() const { return failure == Failure::none; }
  // The output was opened but not one byte was written to it.
  bool wrote_nothing() const {
    return group_of(failure) == FailureGroup::input_refused ||
           group_of(failure) == FailureGroup::size_refused;
  }
};

// The one way to make a failed outcome.
inline Outcome failed(Failure failure, int error = 0, std::uint64_t have = 0,
                      std::uint64_t want = 0) {
  Outcome outcome;
  outcome.failure = failure;
  outcome.error = error;
  outcome.have = have;
  outcome.want = want;
  return outcome;
}

// The public result code (3, 4, 5, 6, 7 or 999) of an outcome.
int result_code(const Outcome& outcome);

// A run of bytes to be written.
struct ByteSpan {
  const std::uint8_t* data;
  std::size_t size;
};

// Where an image is read from: a fixed number of bytes, read at any offset
// and as often as needed.
class ByteSource {
 public:
  // The number of bytes the source holds.
  virtual std::uint64_t size() const = 0;
  // Reads `size` bytes at `offset` into `buffer` and returns how many it
  // read: all of them, or fewer when the source ends first (`error` 0) or
  // fails (`error` set to the system's error number).
  virtual std::size_t read_at(std::uint64_t offset, void* buffer, std::size_t size, int& error) = 0;
};

// Where an enlargement is written.
class ByteSink {
 public:
  // Whether writes land at the offsets they name (a file, memory);
  // otherwise they follow each other (a pipe), and the offsets only count.
  virtual bool positional() const = 0;
  // Writes all of `spans`, in order, at `offset` from the start of the
  // output. False with `error` set when the output takes no more.
  virtual bool write(const ByteSpan* spans, std::size_t count, std::uint64_t offset,
                     int& error) = 0;
  // A hint: `bytes` bytes are about to be written from `offset`.
  virtual void reserve(std::uint64_t offset, std::uint64_t bytes) {
    static_cast<void>(offset);
    static_cast<void>(bytes);
  }
  // The output is complete at `length` bytes: whatever lies beyond goes.
  virtual bool finish(std::uint64_t length, int& error) {
    static_cast<void>(length);
    static_cast<void>(error);
    return true;
  }

 protected:
  ~ByteSink() = default;
};

// An image held in the caller's memory.
class MemorySource final : public ByteSource {
 public:
  MemorySource(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  std::uint64_t size() const override { return size_; }
  std::size_t read_at(std::uint64_t offset, void* buffer, std::size_t size, int& error) override;

 private:
  const std::uint8_t* data_;
  std::size_t size_;
};

// An output into the caller's buffer of `capacity` bytes; a write beyond it
// fails with ENOSPC. length() is the output's length once finished (before,
// the end of the furthest write).
class MemorySink final : public ByteSink {
 public:
  MemorySink(std::uint8_t* data, std::size_t capacity) : data_(data), capacity_(capacity) {}
  bool positional() const override { return true; }
  bool write(const ByteSpan* spans, std::size_t count, std::uint64_t offset, int& error) override;
  bool finish(std::uint64_t length, int& error) override;
  std::size_t length() const { return length_; }

 private:
  std::uint8_t* data_;
  std::size_t capacity_;
  std::size_t length_ = 0;
};

// Called after each block of output reaches the sink.
struct Progress {
  void (*report)(void* context, std::uint64_t bytes_written, std::uint64_t bytes_total) = nullptr;
  void* context = nullptr;
};

// Memory for enlarged rows, owned by the caller. Larger buffers mean fewer,
// larger writes; without one a call uses kDefaultWorkBytes of its own stack,
// little enough for a small thread's stack (slow, but never wrong).
struct WorkBuffer {
  std::uint8_t* data = nullptr;
  std::size_t size = 0;
};
constexpr std::size_t kDefaultWorkBytes = 2048;
// Smaller caller buffers are not used.
constexpr std::size_t kMinWorkBytes = kDefaultWorkBytes;

// One of `count` parts of an enlargement, by stored rows, for a caller that
// writes one output with several threads at once.
struct Part {
  std::uint32_t index = 0;
  std::uint32_t count = 1;
};

// The BMPs a call accepts.
enum class Kinds : std::uint8_t {
  // The library's own: 24 bits per pixel, uncompressed, the 40-byte
  // information header, the pixel data at byte 54.
  classic,
  // Every uncompressed BMP: information headers of 12 (OS/2 1.x), 16 and 64
  // (OS/2 2.x), 40, 52, 56, 108 (V4) and 124 (V5) bytes; 1, 2, 4, 8, 16, 24
  // and 32 bits per pixel; no compression, or colour masks (bit fields).
  // Each is enlarged into its own kind: the same headers (but for the sizes
  // and a V5 profile's offset), colour table, masks and anything before the
  // pixels; a V5 profile after the pixels follows the enlarged ones.
  uncompressed,
};

// How many bytes from its start the BMP that begins with the `size` bytes
// at `prefix` needs (everything up to its last row, and a profile after
// it), from its headers alone: what a reader of a stream must keep of it
// (kHeaderPrefixBytes are enough to tell). Fails as resize would for
// headers it refuses.
constexpr std::size_t kHeaderPrefixBytes = 138;
Outcome bytes_needed(const std::uint8_t* prefix, std::size_t size, Kinds kinds,
                     std::uint64_t& needed);

// Enlarges the BMP that `input` holds by `factor` into `output`, from the
// output's start, every pixel repeated factor times across and every row
// factor times down. Accepts the `kinds` of BMP that it is asked to. Checks
// the input's headers and size first (not_bmp ... pixels_truncated), then
// the size of the enlargement (factor_below_one ... file_too_large);
// nothing is written unless both pass. A read or write error ends it with
// read_failed, input_shrank or write_failed. On success the output is
// finished at the image's length and `output_bytes` is that length.
//
// With `part` one of several (a positional sink only), the call writes only
// its share of the rows at their place, the first part what comes before
// them and the last what comes after, and leaves finishing the output to
// the caller; progress then counts this part's bytes.
Outcome resize(ByteSource& input, ByteSink& output, std::int32_t factor,
               const Progress* progress = nullptr, WorkBuffer work = {}, Part part = {},
               Kinds kinds = Kinds::classic);

}  // namespace bmpresizer

#endif
