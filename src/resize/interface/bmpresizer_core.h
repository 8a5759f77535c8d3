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

// Why a call failed. The numbers are those of the engine's public
// bmpresize_error: each group's result code times 100 plus its own.
enum class Failure : std::uint16_t {
  none = 0,
  // The call itself is wrong.
  invalid_argument = 201,  // a null pointer or an unusable option
  // The input could not be opened for reading.
  input_open = 301,           // the system refused it; `error` holds its error number
  input_is_directory = 302,   // a folder holds no image
  input_path_invalid = 303,   // null, too long, or not convertible to a native path
  input_stream_closed = 304,  // standard input was closed when the process started
  // The output could not be opened for writing.
  output_open = 401,               // the system refused it; `error` holds its error number
  output_path_invalid = 402,       // null, too long, or not convertible to a native path
  output_is_input = 403,           // the output names the input file (through any link)
  output_no_reader = 404,          // a named pipe that no process is reading
  output_stream_closed = 405,      // standard output was closed when the process started
  output_buffer_small = 406,       // have = the caller's buffer, want = the output's length
  output_is_socket = 407,          // a socket, which no open() writes
  output_folder_unwritable = 408,  // no new file in its folder; have, want = the factors
  // The input is not a BMP of the accepted kind (have = what the file says).
  not_bmp = 501,            // no "BM" signature; have = the first two bytes, little-endian
  header_truncated = 502,   // have = bytes in the file, want = bytes the headers need
  info_header_size = 503,   // have = biSize
  planes = 504,             // have = biPlanes (not 1)
  bit_count = 505,          // have = biBitCount
  compression = 506,        // have = biCompression, want = biSize (0: 40)
  pixel_offset = 507,       // have = bfOffBits
  color_table = 508,        // have = colours declared, want = colours there is room for
  negative_width = 509,     // have = biWidth as an unsigned image of the signed value
  profile_offset = 510,     // have = bV5ProfileData: a profile over the pixels
  pixels_truncated = 511,   // have = bytes in the file, want = bytes the image needs
  input_not_regular = 512,  // a pipe, device or socket: no file to read twice
  palette_missing = 513,    // have = bits per pixel (8 or fewer), want = bfOffBits
  masks_bit_count = 514,    // have = biBitCount, want = biCompression (3 or 6)
  // Run-length encoded pixels:
  rle_bit_count = 515,   // have = biBitCount, want = biCompression (1, 2 or 4)
  rle_top_down = 516,    // have = biHeight's 32 bits: encoded rows are stored bottom-up
  rle_size = 517,        // have = biSizeImage, want = the file's bytes after bfOffBits
  rle_past_row = 518,    // have = the column a run or delta reaches, want = the width
  rle_past_image = 519,  // have = the row (from the bottom) it reaches, want = the rows
  rle_truncated = 520,   // have = where the encoded bytes end, want = where the code needs them to
  // The enlarged image cannot be written as a BMP.
  factor_below_one = 601,  // have = factor as an unsigned image of the signed value
  width_too_large = 602,   // want = enlarged width in pixels, have = the most the header holds
  height_too_large = 603,  // want = enlarged height in rows, have = the most the header holds
  file_too_large = 604,    // want = enlarged file size in bytes
  // Input or output failed after both were open (`error` set).
  read_failed = 701,
  input_shrank = 702,  // have = bytes read, want = bytes needed at that point
  spool_failed = 703,  // a stream's bytes could not be kept in a temporary file
  write_failed = 704,
  close_failed = 705,
  cancelled = 706,      // the caller's progress callback asked to stop
  out_of_memory = 707,  // the call's own state could not be allocated
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
  misuse,           // the call's arguments are wrong; nothing was touched
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

// Called after each block of output reaches the sink; returning false
// stops the call, which then fails with `cancelled`.
struct Progress {
  bool (*report)(void* context, std::uint64_t bytes_written, std::uint64_t bytes_total) = nullptr;
  void* context = nullptr;
};

// How many times each pixel is repeated across its row and each row down
// the image. A single number is both.
struct Factors {
  std::int32_t across = 1;
  std::int32_t down = 1;
  Factors() = default;
  Factors(std::int32_t both) : across(both), down(both) {}  // NOLINT(google-explicit-constructor)
  Factors(std::int32_t across_, std::int32_t down_) : across(across_), down(down_) {}
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
  // Every uncompressed BMP, and run-length encoded ones: RLE8, RLE4 and
  // OS/2's RLE24, enlarged as they stream into the same encoding (or
  // uncompressed, when asked).
  every,
};

// How a call writes an enlargement of run-length encoded pixels: encoded
// as the input's, or uncompressed, for readers without run-length codes.
// Other inputs are written as they are either way.
enum class OutputForm : std::uint8_t { same, uncompressed };

// How many bytes from its start the BMP that begins with the `size` bytes
// at `prefix` takes (everything up to its last row and that row's padding,
// and a profile after it), from its headers alone: what a reader of a
// stream must keep of it (kHeaderPrefixBytes are enough to tell). Fails as
// resize would for headers it refuses.
constexpr std::size_t kHeaderPrefixBytes = 138;
Outcome bytes_needed(const std::uint8_t* prefix, std::size_t size, Kinds kinds,
                     std::uint64_t& needed);

// How many bytes of a stream's start its headers take, from its first
// `size` bytes (at least 18 tell; fewer: 18): what a reader that must leave
// the rest of the stream where it is reads before bytes_needed. At most
// kHeaderPrefixBytes.
std::size_t header_bytes_to_read(const std::uint8_t* prefix, std::size_t size, Kinds kinds);

// What the headers of an accepted image say, and the size of its
// enlargement.
struct Description {
  std::uint32_t info_size = 0;       // biSize
  std::uint32_t bits_per_pixel = 0;  // 1 to 32
  std::uint32_t compression = 0;     // biCompression: 0, masks, or run-length codes
  bool encoded = false;              // run-length encoded pixels
  std::uint32_t width = 0;           // pixels per row
  std::int32_t height = 0;           // rows, below 0 when stored top-down
  std::uint64_t input_bytes = 0;     // the bytes of the file an enlargement reads
  std::uint32_t output_width = 0;    // of the enlargement, where it can be one
  std::int32_t output_height = 0;
  std::uint64_t output_bytes = 0;
};

// Checks the headers in the `size` bytes at `head` of a file of
// `file_bytes` bytes (UINT64_MAX: unknown) as resize would, then the size of
// their enlargement by `factors`. Fills `description` as far as the checks
// got: nothing for refused headers, the input's part for a refused size.
// Run-length encoded pixels kept encoded have an enlargement whose size
// only they tell: when `head` holds them all, they are checked and
// measured as resize would; otherwise output_bytes is 0 (unknown) and the
// call succeeds if the headers do.
Outcome describe(const std::uint8_t* head, std::size_t size, std::uint64_t file_bytes,
                 Factors factors, Kinds kinds, OutputForm form, Description& description);

// Enlarges the BMP that `input` holds by `factors` into `output`, from the
// output's start, every pixel repeated factors.across times across and
// every row factors.down times down. Accepts the `kinds` of BMP that it is asked to. Checks
// the input's headers and size first (not_bmp ... pixels_truncated), and
// the whole of any run-length encoded pixels (rle_*), then the size of the
// enlargement (factor_below_one ... file_too_large); nothing is written
// unless both pass. Encoded pixels are written in `form`. A read or write error ends it with
// read_failed, input_shrank or write_failed. On success the output is
// finished at the image's length and `output_bytes` is that length.
//
// With `part` one of several (a positional sink only; not for encoded
// pixels, whose rows have no place known in advance), the call writes only
// its share of the rows at their place, the first part what comes before
// them and the last what comes after, and leaves finishing the output to
// the caller; progress then counts this part's bytes.
Outcome resize(ByteSource& input, ByteSink& output, Factors factors,
               const Progress* progress = nullptr, WorkBuffer work = {}, Part part = {},
               Kinds kinds = Kinds::classic, OutputForm form = OutputForm::same);

}  // namespace bmpresizer

#endif
