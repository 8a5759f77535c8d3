#include "rle.h"

#include <cstring>

#include "checked_math.h"
#include "expand.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace bmpresizer {
namespace {

// The most pixels one code draws, and the longest absolute run written: a
// multiple of 2, 3 and 4, so that an RLE4 run of enlarged pixels fills
// whole bytes and holds whole pixels at the factors that write them.
constexpr std::uint32_t kMaxCount = 255;
constexpr std::uint32_t kAbsoluteChunk = 252;
// Runs of 4 and 8 bits, taken in blocks of this many (count, value) pairs.
constexpr std::size_t kPairs = 16;
// An absolute run of 255 pixels of 24 bits, with its code and padding; and
// the most that 255 stored pixels become as runs of up to 255 times each.
constexpr std::size_t kMaxCodeBytes = 2 + std::size_t{255} * 3 + 1;
constexpr std::size_t kMaxRunsBytes = std::size_t{255} * 4;
// The input is read in pieces of at most this much of the buffer.
constexpr std::size_t kMaxReadBytes = std::size_t{64} * 1024;

// The encoded bytes, read in order through a buffer; a row's codes can be
// read again from where they start.
class EncodedReader {
 public:
  EncodedReader(ByteSource& input, std::uint64_t begin, std::uint64_t end, WorkBuffer buffer)
      : input_(input), end_(end), buffer_(buffer), start_(begin), pos_(begin) {}

  void seek(std::uint64_t at) {
    if (at < start_ || at > start_ + length_) {
      start_ = at;
      length_ = 0;
    }
    pos_ = at;
  }
  std::uint64_t at() const { return pos_; }

  // The next `size` bytes (at most kMaxCodeBytes), where they lie in the
  // buffer whole (valid until the next read), else copied to `scratch`;
  // `got` fewer only where the encoded bytes end.
  Outcome view(std::uint8_t* scratch, std::size_t size, const std::uint8_t*& bytes,
               std::size_t& got) {
    if (pos_ >= start_ && pos_ - start_ + size <= length_) {
      bytes = buffer_.data + (pos_ - start_);
      got = size;
      pos_ += size;
      return Outcome{};
    }
    bytes = scratch;
    return take(scratch, size, got);
  }

  // The bytes from here that the buffer holds, at `bytes` (none when it
  // must be read first); pass() moves past `n` of them.
  std::size_t ready(const std::uint8_t*& bytes) const {
    if (pos_ < start_ || pos_ - start_ >= length_) {
      return 0;
    }
    bytes = buffer_.data + (pos_ - start_);
    return static_cast<std::size_t>(length_ - (pos_ - start_));
  }
  void pass(std::size_t n) { pos_ += n; }

  // Copies the next `size` bytes (at most kMaxCodeBytes) to `out`; `got`
  // fewer only where the encoded bytes end.
  Outcome take(std::uint8_t* out, std::size_t size, std::size_t& got) {
    got = 0;
    while (got < size && pos_ < end_) {
      if (pos_ == start_ + length_) {
        const Outcome read = refill();
        if (!read.ok()) {
          return read;
        }
      }
      const auto offset = static_cast<std::size_t>(pos_ - start_);
      const std::size_t ready = length_ - offset;
      const std::size_t n = size - got < ready ? size - got : ready;
      std::memcpy(out + got, buffer_.data + offset, n);
      got += n;
      pos_ += n;
    }
    return Outcome{};
  }

 private:
  Outcome refill() {
    const std::uint64_t left = end_ - pos_;
    const std::size_t want = left < buffer_.size ? static_cast<std::size_t>(left) : buffer_.size;
    start_ = pos_;
    length_ = 0;
    const Outcome read = read_exactly(input_, start_, buffer_.data, want);
    if (read.ok()) {
      length_ = want;
    }
    return read;
  }

  ByteSource& input_;
  std::uint64_t end_;
  WorkBuffer buffer_;
  std::uint64_t start_;  // the input offset of the buffer's first byte
  std::size_t length_ = 0;
  std::uint64_t pos_;
};

enum class RowEnd : std::uint8_t { line, delta, bitmap };

// A stored row's codes: where they start, from which column, and how the
// row ends. Rows from `rows` on lie past the image, where only ends of line
// and of the bitmap may follow.
struct EncodedRow {
  std::uint64_t at = 0;
  std::uint32_t y = 0;  // from the bottom
  std::uint32_t x_start = 0;
  std::uint32_t x_end = 0;
  RowEnd end = RowEnd::bitmap;
  std::uint32_t dx = 0;  // a delta's move from x_end, into row y + dy
  std::uint32_t dy = 0;
  std::uint64_t next = 0;  // where the codes after the row's last one start

  bool past_image(const InputLayout& in) const { return y >= in.rows; }

  // Moves to the row the codes go on with; false after the end of the bitmap.
  bool advance() {
    if (end == RowEnd::bitmap) {
      return false;
    }
    x_start = end == RowEnd::line ? 0 : x_end + dx;
    y += end == RowEnd::line ? 1 : dy;
    at = next;
    return true;
  }
};

// The bytes an absolute run of `pixels` pixels stores, without padding.
std::size_t stored_bytes(std::uint32_t pixels, std::uint32_t bits) {
  return (std::size_t{pixels} * bits + 7) / 8;
}

std::uint8_t nibble_at(const std::uint8_t* data, std::uint64_t i) {
  return static_cast<std::uint8_t>(i % 2 == 0 ? data[i / 2] >> 4 : data[i / 2] & 0x0F);
}

// Whether the kPairs (count, value) pairs at `pairs` are runs alone (no
// count 0, which starts an escape), each of at most `longest` pixels and,
// with `solid`, of one 4-bit value twice (not two taking turns); `pixels`
// gets their sum.
bool plain_runs(const std::uint8_t* pairs, std::uint32_t longest, bool solid,
                std::uint32_t& pixels) {
#if defined(__SSE2__)
  const __m128i low = _mm_set1_epi16(0x00FF);
  const __m128i first = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pairs));
  const __m128i second = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pairs + 16));
  const __m128i counts = _mm_packus_epi16(_mm_and_si128(first, low), _mm_and_si128(second, low));
  const __m128i zero = _mm_setzero_si128();
  const __m128i limit = _mm_set1_epi8(static_cast<char>(longest));
  const __m128i sums = _mm_sad_epu8(counts, zero);
  pixels = static_cast<std::uint32_t>(_mm_cvtsi128_si32(sums) +
                                      _mm_cvtsi128_si32(_mm_srli_si128(sums, 8)));
  int bad = _mm_movemask_epi8(_mm_cmpeq_epi8(counts, zero)) |
            (0xFFFF ^ _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_max_epu8(counts, limit), limit)));
  if (solid) {
    const __m128i values = _mm_packus_epi16(_mm_srli_epi16(first, 8), _mm_srli_epi16(second, 8));
    const __m128i nibble = _mm_set1_epi8(0x0F);
    const __m128i high = _mm_and_si128(_mm_srli_epi16(values, 4), nibble);
    bad |= 0xFFFF ^ _mm_movemask_epi8(_mm_cmpeq_epi8(high, _mm_and_si128(values, nibble)));
  }
  return bad == 0;
#else
  std::uint32_t escapes = 0;
  std::uint32_t sum = 0;
  std::uint32_t most = 0;
  std::uint32_t turns = 0;
  for (std::size_t k = 0; k < kPairs; ++k) {
    const std::uint32_t count = pairs[2 * k];
    const std::uint32_t value = pairs[2 * k + 1];
    escapes |= count == 0 ? 1U : 0U;
    sum += count;
    most = most > count ? most : count;
    turns |= (value >> 4) ^ (value & 0x0F);
  }
  pixels = sum;
  return escapes == 0 && most <= longest && (!solid || turns == 0);
#endif
}

// The pairs with every count `across` times (counts times across at most
// 255) into `out`.
void multiply_counts(const std::uint8_t* pairs, std::uint32_t across, std::uint8_t* out) {
#if defined(__SSE2__)
  const __m128i low = _mm_set1_epi16(0x00FF);
  const __m128i high = _mm_set1_epi16(static_cast<short>(0xFF00));
  const __m128i factor = _mm_set1_epi16(static_cast<short>(across));
  for (std::size_t at = 0; at < 2 * kPairs; at += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pairs + at));
    const __m128i counts = _mm_mullo_epi16(_mm_and_si128(v, low), factor);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + at),
                     _mm_or_si128(counts, _mm_and_si128(v, high)));
  }
#else
  for (std::size_t k = 0; k < kPairs; ++k) {
    out[2 * k] = static_cast<std::uint8_t>(pairs[2 * k] * across);
    out[2 * k + 1] = pairs[2 * k + 1];
  }
#endif
}

// Why a draw stopped: the output failed, which its writer tells.
Outcome output_stopped() { return failed(Failure::write_failed); }

// Reading one row's codes: where the reading stands, and what it found.
template <class Draw>
class RowReading {
 public:
  RowReading(EncodedReader& reader, const InputLayout& in, EncodedRow& row, Draw& draw)
      : reader_(reader),
        in_(in),
        row_(row),
        draw_(draw),
        past_(row.past_image(in)),
        stride_pixels_(in.row_bytes * 8 / in.encoded_bits),
        value_bytes_(in.encoded_bits == 24 ? 3 : 1),
        x_(row.x_start) {}

  // Reads to the row's end, or to a failure.
  Outcome read() {
    reader_.seek(row_.at);
    std::size_t codes_alone = 0;  // after a block that was not taken whole
    for (bool row_ended = false; !row_ended; codes_alone -= codes_alone > 0 ? 1 : 0) {
      if (codes_alone == 0 && !take_plain_runs(codes_alone)) {
        return output_stopped();
      }
      const Outcome code = read_code(row_ended);
      if (!code.ok()) {
        return code;
      }
    }
    // (Past the width only after runs into the padding, which no delta follows.)
    row_.x_end = static_cast<std::uint32_t>(x_ < in_.width ? x_ : in_.width);
    row_.next = reader_.at();
    return Outcome{};
  }

 private:
  // Most rows are long stretches of runs (GraphicsMagick's encoder writes
  // nothing else): taken kPairs at a time while no escape, no run past the
  // width and nothing the draw must take apart comes. Sets `codes_alone`
  // where a block is not taken whole; false when the output fails.
  bool take_plain_runs(std::size_t& codes_alone) {
    const std::uint8_t* bytes = nullptr;
    const std::size_t ready =
        in_.encoded_bits == 24 || past_ || draw_.longest_pair() == 0 ? 0 : reader_.ready(bytes);
    for (std::size_t at = 0; at + 2 * kPairs <= ready; at += 2 * kPairs) {
      std::uint32_t pixels = 0;
      if (!plain_runs(bytes + at, draw_.longest_pair(), draw_.solid_pairs(), pixels) ||
          x_ + pixels > in_.width) {
        codes_alone = kPairs;
        return true;
      }
      if (!draw_.pairs(bytes + at)) {
        return false;
      }
      reader_.pass(2 * kPairs);
      x_ += pixels;
    }
    return true;
  }

  // The pixels of `n` from the column reached that lie within the width.
  std::uint32_t visible(std::uint32_t n) const {
    return static_cast<std::uint32_t>(x_ >= in_.width       ? 0
                                      : x_ + n <= in_.width ? n
                                                            : in_.width - x_);
  }

  // One code: a run, or an escape (sets `row_ended` for an end of line, a
  // delta up, an end of bitmap or the end of the encoded bytes).
  Outcome read_code(bool& row_ended) {
    const std::uint64_t code_at = reader_.at();
    // A run's count and value at once (RLE24: four bytes; an escape then
    // gives back what it does not use).
    const std::uint8_t* bytes = nullptr;
    std::size_t got = 0;
    const Outcome read = reader_.view(scratch_, 1 + value_bytes_, bytes, got);
    if (!read.ok() || got == 0) {
      row_.end = RowEnd::bitmap;  // the encoded bytes end between codes
      row_ended = true;
      return read;
    }
    const std::uint8_t count = bytes[0];
    if (count > 0) {
      if (got < 1 + value_bytes_) {
        return failed(Failure::rle_truncated, 0, reader_.at(), code_at + 1 + value_bytes_);
      }
      if (past_) {
        return failed(Failure::rle_past_image, 0, row_.y, in_.rows);
      }
      if (x_ + count > stride_pixels_) {
        return failed(Failure::rle_past_row, 0, x_ + count, in_.width);
      }
      const std::uint32_t drawn = visible(count);
      if (drawn > 0 && !draw_.run(bytes + 1, drawn)) {
        return output_stopped();
      }
      x_ += count;
      return Outcome{};
    }
    if (got < 2) {
      return failed(Failure::rle_truncated, 0, reader_.at(), code_at + 2);
    }
    const std::uint8_t escape = bytes[1];
    reader_.seek(code_at + 2);
    if (escape == 0) {
      // Ends of line past the image draw nothing.
      row_.end = RowEnd::line;
      row_ended = !past_;
      return Outcome{};
    }
    if (escape == 1) {
      row_.end = RowEnd::bitmap;
      row_ended = true;
      return Outcome{};
    }
    return escape == 2 ? read_delta(code_at, row_ended) : read_absolute(code_at, escape);
  }

  Outcome read_delta(std::uint64_t code_at, bool& row_ended) {
    const std::uint8_t* bytes = nullptr;
    std::size_t got = 0;
    const Outcome read = reader_.view(scratch_, 2, bytes, got);
    if (!read.ok() || got < 2) {
      return read.ok() ? failed(Failure::rle_truncated, 0, reader_.at(), code_at + 4) : read;
    }
    const std::uint32_t dx = bytes[0];
    const std::uint32_t dy = bytes[1];
    if (past_ || (dy > 0 && std::uint64_t{row_.y} + dy >= in_.rows)) {
      return failed(Failure::rle_past_image, 0, std::uint64_t{row_.y} + dy, in_.rows);
    }
    if (x_ + dx > in_.width) {
      return failed(Failure::rle_past_row, 0, x_ + dx, in_.width);
    }
    if (dy > 0) {
      row_.end = RowEnd::delta;
      row_.dx = dx;
      row_.dy = dy;
      row_ended = true;
      return Outcome{};
    }
    if (!draw_.skip(dx)) {
      return output_stopped();
    }
    x_ += dx;
    return Outcome{};
  }

  // An absolute run; a padding byte missing where the encoded bytes end is
  // no loss.
  Outcome read_absolute(std::uint64_t code_at, std::uint32_t n) {
    const std::size_t stored = stored_bytes(n, in_.encoded_bits);
    const std::uint8_t* bytes = nullptr;
    std::size_t got = 0;
    const Outcome read = reader_.view(scratch_, stored + stored % 2, bytes, got);
    if (!read.ok() || got < stored) {
      return read.ok() ? failed(Failure::rle_truncated, 0, reader_.at(), code_at + 2 + stored)
                       : read;
    }
    if (past_) {
      return failed(Failure::rle_past_image, 0, row_.y, in_.rows);
    }
    if (x_ + n > stride_pixels_) {
      return failed(Failure::rle_past_row, 0, x_ + n, in_.width);
    }
    const std::uint32_t drawn = visible(n);
    if (drawn > 0 && !draw_.literal(bytes, drawn)) {
      return output_stopped();
    }
    x_ += n;
    return Outcome{};
  }

  EncodedReader& reader_;
  const InputLayout& in_;
  EncodedRow& row_;
  Draw& draw_;
  const bool past_;
  const std::uint64_t stride_pixels_;
  const std::size_t value_bytes_;
  std::uint64_t x_;
  std::uint8_t scratch_[kMaxCodeBytes] = {};
};

// Reads the codes of `row` from row.at and hands what they draw to `draw`:
// run(value, n) for n pixels of one value (RLE4: two taking turns),
// literal(data, n) for an absolute run, skip(n) for a delta within the row,
// and pairs(p) for kPairs runs at once that need no taking apart (see
// longest_pair), each false when the output fails. Sets the row's end.
//
// Encoders that write a row's padding as pixels (GraphicsMagick's and
// ImageMagick's) draw runs past the row's width, up to its stride; readers
// take what lies within the width, and so does this. Runs beyond the
// stride, and deltas beyond the width, are refused.
template <class Draw>
Outcome read_row(EncodedReader& reader, const InputLayout& in, EncodedRow& row, Draw& draw) {
  RowReading<Draw> reading(reader, in, row, draw);
  return reading.read();
}

// Draws nothing: for checking the codes alone.
struct NoDraw {
  std::uint32_t longest_pair() const { return kMaxCount; }
  bool solid_pairs() const { return false; }
  bool pairs(const std::uint8_t*) { return true; }
  bool run(const std::uint8_t*, std::uint32_t) { return true; }
  bool literal(const std::uint8_t*, std::uint32_t) { return true; }
  bool skip(std::uint32_t) { return true; }
};

// Counts the bytes an encoder writes, to know the output's length before
// any of it.
class ByteCount {
 public:
  static constexpr bool kCounts = true;
  std::uint8_t* reserve(std::size_t) { return scratch_; }
  bool advance(std::size_t n) {
    bytes_ += n;
    return true;
  }
  bool fill(std::uint8_t, std::uint64_t n) {
    bytes_ += n;
    return true;
  }
  std::uint64_t bytes() const { return bytes_; }

 private:
  std::uint64_t bytes_ = 0;
  std::uint8_t scratch_[kMaxRunsBytes];
};

// Output through the work buffer, a stored row at a time. A row's bytes
// are kept until they are known whole, so that its copies down the image
// are written from the buffer; a row that outgrows the buffer is written
// as it comes (it is "long"), and its copies are made by reading its codes
// again.
class RowOutput {
 public:
  static constexpr bool kCounts = false;
  RowOutput(SpanWriter& writer, WorkBuffer buffer)
      : writer_(writer), data_(buffer.data), size_(buffer.size) {}

  // What comes before is complete and handed to the writer.
  void begin_row() {
    row_start_ = used_;
    mark_ = used_;
    long_ = false;
  }
  bool is_long() const { return long_; }
  // Remembers where the row's own bytes end (and what goes between its
  // copies starts).
  void mark() { mark_ = used_; }

  // Room for `n` bytes (at most kMaxRunsBytes) at the returned place; null
  // when the output failed.
  std::uint8_t* reserve(std::size_t n) {
    while (size_ - used_ < n) {
      // (Never more than the buffer holds: see split_work.)
      if (n > size_ || !make_room()) {
        return nullptr;
      }
    }
    return data_ + used_;
  }
  bool advance(std::size_t n) {
    used_ += n;
    return true;
  }
  bool fill(std::uint8_t value, std::uint64_t n) {
    while (n > 0) {
      if (used_ == size_ && !make_room()) {
        return false;
      }
      const std::size_t room = size_ - used_;
      const std::size_t k = n < room ? static_cast<std::size_t>(n) : room;
      std::memset(data_ + used_, value, k);
      used_ += k;
      n -= k;
    }
    return true;
  }
  // `count` copies of the `unit` bytes at `value` (3 for a 24-bit pixel).
  bool fill_units(const std::uint8_t* value, std::size_t unit, std::uint64_t count) {
    while (count > 0) {
      if (size_ - used_ < unit && !make_room()) {
        return false;
      }
      const std::size_t room = (size_ - used_) / unit;
      const std::size_t k = count < room ? static_cast<std::size_t>(count) : room;
      std::memcpy(data_ + used_, value, unit);
      repeat_forward(data_ + used_, unit, k * unit);
      used_ += k * unit;
      count -= k;
    }
    return true;
  }

  // Hands a row that stayed in the buffer to the writer: its bytes and
  // what follows the mark `copies` - 1 times, then its bytes once more.
  // Short rows are first laid out several times in the buffer, so that a
  // write carries kilobytes.
  bool write_copies(std::uint64_t copies) {
    const std::size_t unit = used_ - row_start_;
    const std::size_t own = mark_ - row_start_;
    std::uint64_t repeats = copies - 1;
    if (unit > 0 && unit < kShortRowBytes && repeats > 1) {
      const std::size_t fit = (size_ - row_start_) / unit;
      std::size_t laid = kShortRowBytes / unit + 1;
      laid = laid < fit ? laid : fit;
      laid = laid < repeats ? laid : static_cast<std::size_t>(repeats);
      if (laid > 1) {
        repeat_forward(data_ + row_start_, unit, laid * unit);
        used_ = row_start_ + laid * unit;
        for (; repeats >= laid; repeats -= laid) {
          if (!add(data_ + row_start_, laid * unit)) {
            return false;
          }
        }
      }
    }
    for (; repeats > 0; --repeats) {
      if (!add(data_ + row_start_, unit)) {
        return false;
      }
    }
    unhanded_ = used_;
    return add(data_ + row_start_, own);
  }

  // Hands what the writer has not got of the buffer to it, and writes
  // everything.
  bool write_out() {
    const bool ok = add(data_ + unhanded_, used_ - unhanded_) && writer_.flush();
    used_ = 0;
    unhanded_ = 0;
    row_start_ = 0;
    mark_ = 0;
    return ok;
  }

  // The bytes handed to the writer.
  std::uint64_t handed() const { return handed_; }

 private:
  // Rows shorter than this are laid out several times in the buffer.
  static constexpr std::size_t kShortRowBytes = 4096;

  bool add(const std::uint8_t* data, std::size_t size) {
    handed_ += size;
    return writer_.add(data, size);
  }

  // Makes room: by writing what came before the row and moving the row to
  // the buffer's start, or once the row fills the buffer by writing it out
  // as it stands (it is long from then on).
  bool make_room() {
    if (!long_ && row_start_ > 0) {
      if (!writer_.flush()) {
        return false;
      }
      std::memmove(data_, data_ + row_start_, used_ - row_start_);
      used_ -= row_start_;
      mark_ -= row_start_;
      row_start_ = 0;
      unhanded_ = 0;
      return true;
    }
    long_ = true;
    return write_out();
  }

  SpanWriter& writer_;
  std::uint8_t* data_;
  std::size_t size_;
  std::size_t used_ = 0;
  std::size_t row_start_ = 0;
  std::size_t mark_ = 0;
  std::size_t unhanded_ = 0;  // the writer has every byte before this
  bool long_ = false;
  std::uint64_t handed_ = 0;
};

// The codes of the enlargement, into `Out` (a ByteCount or a RowOutput):
// every pixel `across` times, in codes of the input's encoding.
template <class Out>
class Encoder {
 public:
  Encoder(Out& out, std::uint32_t bits, std::uint32_t across)
      : out_(out), bits_(bits), across_(across), value_bytes_(bits == 24 ? 3 : 1) {}

  // kPairs runs (see read_row) whose enlargements are one run each, as
  // long as none is longer than longest_pair() (0: none taken so) and,
  // where solid_pairs(), none of two values taking turns: the counts
  // multiplied, the values as they are.
  std::uint32_t longest_pair() const { return kMaxCount / across_; }
  bool solid_pairs() const { return bits_ == 4 && across_ > 1; }
  bool pairs(const std::uint8_t* pairs) {
    if constexpr (Out::kCounts) {
      return out_.advance(2 * kPairs);
    } else {
      std::uint8_t* p = out_.reserve(2 * kPairs);
      if (p == nullptr) {
        return false;
      }
      multiply_counts(pairs, across_, p);
      return out_.advance(2 * kPairs);
    }
  }

  bool run(const std::uint8_t* value, std::uint32_t n) {
    const std::uint64_t count = std::uint64_t{n} * across_;
    const bool taking_turns = bits_ == 4 && (value[0] >> 4) != (value[0] & 0x0F);
    if (count <= kMaxCount && (across_ == 1 || !taking_turns)) {
      return code(static_cast<std::uint8_t>(count), value);  // the common case: one code
    }
    if (taking_turns) {
      // Two pixels taking turns: enlarged, each is a run of its own.
      std::uint8_t turns[(kMaxCount + 1) / 2];
      std::memset(turns, value[0], sizeof turns);
      return pixels(turns, n);
    }
    return runs(value, std::uint64_t{n} * across_);
  }

  bool literal(const std::uint8_t* data, std::uint32_t n) {
    // (An absolute run cut at the row's width may be too short to be one.)
    if (across_ == 1 && n >= 3) {
      const std::size_t bytes = stored_bytes(n, bits_);
      std::uint8_t* p = out_.reserve(2 + bytes + 1);
      if (p == nullptr) {
        return false;
      }
      p[0] = 0;
      p[1] = static_cast<std::uint8_t>(n);
      std::memcpy(p + 2, data, bytes);
      p[2 + bytes] = 0;
      return out_.advance(2 + bytes + bytes % 2);
    }
    if (bits_ != 4 && across_ <= kMaxCount) {
      return runs_of_pixels(data, n);
    }
    return pixels(data, n);
  }

  bool skip(std::uint32_t n) { return move(std::uint64_t{n} * across_, 0); }

  bool end_of_line() { return escape(0); }
  bool end_of_bitmap() { return escape(1); }

  // Deltas that move `dx` right and `dy` up, at most 255 each.
  bool move(std::uint64_t dx, std::uint64_t dy) {
    while (dx > 0 || dy > 0) {
      const std::uint64_t x = dx < kMaxCount ? dx : kMaxCount;
      const std::uint64_t y = dy < kMaxCount ? dy : kMaxCount;
      std::uint8_t* p = out_.reserve(4);
      if (p == nullptr) {
        return false;
      }
      p[0] = 0;
      p[1] = 2;
      p[2] = static_cast<std::uint8_t>(x);
      p[3] = static_cast<std::uint8_t>(y);
      out_.advance(4);
      dx -= x;
      dy -= y;
    }
    return true;
  }

 private:
  bool escape(std::uint8_t what) {
    std::uint8_t* p = out_.reserve(2);
    if (p == nullptr) {
      return false;
    }
    p[0] = 0;
    p[1] = what;
    return out_.advance(2);
  }

  bool code(std::uint8_t count, const std::uint8_t* value) {
    if constexpr (Out::kCounts) {
      return out_.advance(1 + value_bytes_);
    } else {
      std::uint8_t* p = out_.reserve(4);
      if (p == nullptr) {
        return false;
      }
      p[0] = count;
      p[1] = value[0];
      if (value_bytes_ == 3) {
        p[2] = value[1];
        p[3] = value[2];
      }
      return out_.advance(1 + value_bytes_);
    }
  }

  // `count` pixels of `value`, in runs of up to 255.
  bool runs(const std::uint8_t* value, std::uint64_t count) {
    for (; count >= kMaxCount; count -= kMaxCount) {
      if (!code(kMaxCount, value)) {
        return false;
      }
    }
    return count == 0 || code(static_cast<std::uint8_t>(count), value);
  }

  // `n` stored pixels of 8 or 24 bits, each `across` (at most 255) times: a
  // run for each group of equal neighbours (see pixels), the codes written
  // straight into the output, or only counted. At most 255 codes: a group
  // of g pixels takes at most g.
  bool runs_of_pixels(const std::uint8_t* data, std::uint32_t n) {
    const std::size_t unit = value_bytes_;
    const auto group_end = [&](std::uint32_t i) {
      std::uint32_t j = i + 1;
      if (unit == 1) {
        while (j < n && data[j] == data[i]) {
          ++j;
        }
      } else {
        while (j < n && std::memcmp(data + std::size_t{3} * j, data + std::size_t{3} * i, 3) == 0) {
          ++j;
        }
      }
      return j;
    };
    if constexpr (Out::kCounts) {
      std::uint64_t codes = 0;
      for (std::uint32_t i = 0; i < n;) {
        const std::uint32_t j = group_end(i);
        codes += (std::uint64_t{j - i} * across_ + kMaxCount - 1) / kMaxCount;
        i = j;
      }
      return out_.advance(static_cast<std::size_t>(codes * (1 + unit)));
    } else {
      std::uint8_t* p = out_.reserve(kMaxRunsBytes);
      if (p == nullptr) {
        return false;
      }
      std::uint8_t* const start = p;
      for (std::uint32_t i = 0; i < n;) {
        const std::uint32_t j = group_end(i);
        const std::uint8_t* const value = data + unit * i;
        std::uint64_t left = std::uint64_t{j - i} * across_;
        while (left > 0) {
          const std::uint64_t count = left < kMaxCount ? left : kMaxCount;
          *p++ = static_cast<std::uint8_t>(count);
          *p++ = value[0];
          if (unit == 3) {
            *p++ = value[1];
            *p++ = value[2];
          }
          left -= count;
        }
        i = j;
      }
      return out_.advance(static_cast<std::size_t>(p - start));
    }
  }

  // Pixel `i` of stored pixels as a run's value.
  void value_of(const std::uint8_t* data, std::uint32_t i, std::uint8_t (&value)[3]) const {
    if (bits_ == 4) {
      const std::uint8_t v = nibble_at(data, i);
      value[0] = static_cast<std::uint8_t>(v << 4 | v);
    } else {
      std::memcpy(value, data + std::size_t{i} * value_bytes_, value_bytes_);
    }
  }

  bool same_pixel(const std::uint8_t* data, std::uint32_t i, std::uint32_t j) const {
    if (bits_ == 4) {
      return nibble_at(data, i) == nibble_at(data, j);
    }
    return std::memcmp(data + std::size_t{i} * value_bytes_, data + std::size_t{j} * value_bytes_,
                       value_bytes_) == 0;
  }

  // `n` stored pixels, each `across` times: a run for each group of equal
  // neighbours, or, where that is shorter (4-bit pixels at 2 or 3 times),
  // absolute runs of the enlarged pixels.
  bool pixels(const std::uint8_t* data, std::uint32_t n) {
    std::uint64_t run_bytes = 0;
    if (bits_ == 4 && across_ <= 3) {
      for (std::uint32_t i = 0; i < n;) {
        std::uint32_t j = i + 1;
        while (j < n && same_pixel(data, i, j)) {
          ++j;
        }
        run_bytes += 2 * ((std::uint64_t{j - i} * across_ + kMaxCount - 1) / kMaxCount);
        i = j;
      }
      if (absolute_bytes(n) < run_bytes) {
        return absolute(data, n);
      }
    }
    std::uint8_t value[3] = {};
    for (std::uint32_t i = 0; i < n;) {
      std::uint32_t j = i + 1;
      while (j < n && same_pixel(data, i, j)) {
        ++j;
      }
      value_of(data, i, value);
      if (!runs(value, std::uint64_t{j - i} * across_)) {
        return false;
      }
      i = j;
    }
    return true;
  }

  // The bytes absolute() writes for `n` 4-bit pixels.
  std::uint64_t absolute_bytes(std::uint32_t n) const {
    const std::uint64_t m = std::uint64_t{n} * across_;
    const std::uint64_t rest = m % kAbsoluteChunk;
    const std::uint64_t last = rest >= 3 ? 2 + (rest + 3) / 4 * 2 : 2 * rest;
    return m / kAbsoluteChunk * (2 + kAbsoluteChunk / 2) + last;
  }

  // `n` 4-bit pixels, each `across` times, as absolute runs of up to 252
  // pixels; a last piece too short for one (a pixel at 2 times) as a run.
  bool absolute(const std::uint8_t* data, std::uint32_t n) {
    const std::uint64_t m = std::uint64_t{n} * across_;
    for (std::uint64_t start = 0; start < m;) {
      const std::uint64_t left = m - start;
      auto count = static_cast<std::uint32_t>(left < kAbsoluteChunk ? left : kAbsoluteChunk);
      // Some readers take an absolute run's bytes as half its count: an
      // odd last piece gives its last pixel a run of its own.
      if (count % 2 == 1) {
        count -= across_;  // pieces hold whole pixels: even now, or none
      }
      if (count < 3) {
        // Too short for an absolute run: a run for each pixel's part.
        count = count == 0 ? across_ : count;
        for (std::uint64_t at = start; at < start + count;) {
          const std::uint64_t pixel = at / across_;
          const std::uint64_t next = (pixel + 1) * across_;
          const std::uint64_t end = next < start + count ? next : start + count;
          std::uint8_t value[3] = {};
          value_of(data, static_cast<std::uint32_t>(pixel), value);
          if (!runs(value, end - at)) {
            return false;
          }
          at = end;
        }
        start += count;
        continue;
      }
      const std::size_t bytes = stored_bytes(count, 4);
      std::uint8_t* p = out_.reserve(2 + bytes + 1);
      if (p == nullptr) {
        return false;
      }
      p[0] = 0;
      p[1] = static_cast<std::uint8_t>(count);
      std::memset(p + 2, 0, bytes + 1);
      for (std::uint32_t j = 0; j < count; ++j) {
        const std::uint8_t v = nibble_at(data, (start + j) / across_);
        p[2 + j / 2] = static_cast<std::uint8_t>(p[2 + j / 2] | (j % 2 == 0 ? v << 4 : v));
      }
      out_.advance(2 + bytes + bytes % 2);
      start += count;
    }
    return true;
  }

  Out& out_;
  std::uint32_t bits_;
  std::uint32_t across_;
  std::size_t value_bytes_;
};

// What ends a copy of a row in the enlargement, when another copy of it
// follows: an end of line, and a delta back to where the row's codes start.
template <class Out>
bool encode_between_copies(Encoder<Out>& encoder, const EncodedRow& row) {
  return encoder.end_of_line() && encoder.skip(row.x_start);
}

// How the last copy of a row ends: as the stored row does, the delta
// scaled to land on the first copy of its row.
template <class Out>
bool encode_row_end(Encoder<Out>& encoder, const EncodedRow& row, std::uint32_t across,
                    std::uint32_t down) {
  switch (row.end) {
    case RowEnd::line:
      return encoder.end_of_line();
    case RowEnd::delta:
      // (dy - 1) x down + 1, with dy at least 1.
      return encoder.move(std::uint64_t{row.dx} * across,
                          std::uint64_t{row.dy} * down - (down - 1));
    case RowEnd::bitmap:
      break;
  }
  return encoder.end_of_bitmap();
}

// The rows of the enlargement, uncompressed: each stored row decoded as it
// is read, every pixel `across` times, what no code draws colour 0.
class RowDecoder {
 public:
  RowDecoder(RowOutput& out, const InputLayout& in, const OutputLayout& layout)
      : out_(out),
        bits_(in.bits_per_pixel),
        width_(in.width),
        across_(layout.across),
        pad_bytes_(layout.pad_bytes) {}

  std::uint32_t longest_pair() const { return 0; }
  bool solid_pairs() const { return false; }
  bool pairs(const std::uint8_t*) { return false; }

  bool begin(std::uint32_t x_start) { return blank(x_start); }
  bool finish(std::uint32_t x_end) {
    if (!blank(width_ - x_end)) {
      return false;
    }
    if (pending_ && !out_.fill(static_cast<std::uint8_t>(high_ << 4), 1)) {
      return false;
    }
    pending_ = false;
    return out_.fill(0, pad_bytes_);
  }

  bool run(const std::uint8_t* value, std::uint32_t n) {
    const std::uint64_t count = std::uint64_t{n} * across_;
    if (bits_ == 8) {
      return out_.fill(value[0], count);
    }
    if (bits_ == 24) {
      return out_.fill_units(value, 3, count);
    }
    const auto first = static_cast<std::uint8_t>(value[0] >> 4);
    const auto second = static_cast<std::uint8_t>(value[0] & 0x0F);
    if (first == second) {
      return nibbles(first, count);
    }
    for (std::uint32_t i = 0; i < n; ++i) {
      if (!nibbles(i % 2 == 0 ? first : second, across_)) {
        return false;
      }
    }
    return true;
  }

  bool literal(const std::uint8_t* data, std::uint32_t n) {
    for (std::uint32_t i = 0; i < n; ++i) {
      const bool ok = bits_ == 8    ? out_.fill(data[i], across_)
                      : bits_ == 24 ? out_.fill_units(data + std::size_t{i} * 3, 3, across_)
                                    : nibbles(nibble_at(data, i), across_);
      if (!ok) {
        return false;
      }
    }
    return true;
  }

  bool skip(std::uint32_t n) { return blank(n); }

 private:
  // `n` stored pixels of colour 0.
  bool blank(std::uint64_t n) {
    const std::uint64_t count = n * across_;
    return bits_ == 4 ? nibbles(0, count) : out_.fill(0, count * (bits_ / 8));
  }

  // `count` 4-bit pixels of `value`, two to a byte, the first in the high
  // half.
  bool nibbles(std::uint8_t value, std::uint64_t count) {
    if (count == 0) {
      return true;
    }
    if (pending_) {
      if (!out_.fill(static_cast<std::uint8_t>(high_ << 4 | value), 1)) {
        return false;
      }
      pending_ = false;
      --count;
    }
    if (!out_.fill(static_cast<std::uint8_t>(value << 4 | value), count / 2)) {
      return false;
    }
    pending_ = count % 2 == 1;
    high_ = value;
    return true;
  }

  RowOutput& out_;
  std::uint32_t bits_;
  std::uint32_t width_;
  std::uint32_t across_;
  std::uint32_t pad_bytes_;
  bool pending_ = false;  // a byte's high half is drawn, in high_
  std::uint8_t high_ = 0;
};

// The output's part of the smallest buffer holds the most one reserve asks.
static_assert(kMaxRunsBytes <= kMinWorkBytes - kMinWorkBytes / 4, "the buffer's output part");

// Splits the work buffer between reading the codes and the output.
void split_work(WorkBuffer work, WorkBuffer& reading, WorkBuffer& output) {
  std::size_t read_bytes = work.size / 4;
  read_bytes = read_bytes < kMaxReadBytes ? read_bytes : kMaxReadBytes;
  reading = WorkBuffer{work.data + work.size - read_bytes, read_bytes};
  output = WorkBuffer{work.data, work.size - read_bytes};
}

// Writes a stored row `down` times into `out`: draw() makes one copy and
// between() what goes between two. A row that stays in the buffer is drawn
// once; a long one for each copy.
template <class Draw, class Between>
Outcome write_row(RowOutput& out, std::uint32_t down, Draw draw, Between between) {
  out.begin_row();
  Outcome drawn = draw();
  if (!drawn.ok()) {
    return drawn;
  }
  out.mark();
  if (down > 1 && !between()) {
    return output_stopped();
  }
  if (!out.is_long()) {
    return out.write_copies(down) ? Outcome{} : output_stopped();
  }
  for (std::uint32_t copy = 1; copy < down; ++copy) {
    drawn = draw();
    if (!drawn.ok()) {
      return drawn;
    }
    if (copy + 1 < down && !between()) {
      return output_stopped();
    }
  }
  return out.write_out() ? Outcome{} : output_stopped();
}

Outcome replicate_kept_encoded(EncodedReader& reader, RowOutput& out, const InputLayout& in,
                               const OutputLayout& layout) {
  Encoder<RowOutput> encoder(out, in.encoded_bits, layout.across);
  EncodedRow row;
  row.at = in.first_row_at;
  do {
    if (row.past_image(in)) {
      NoDraw none;
      const Outcome read = read_row(reader, in, row, none);
      if (!read.ok()) {
        return read;
      }
    } else {
      const Outcome written = write_row(
          out, layout.down, [&] { return read_row(reader, in, row, encoder); },
          [&] { return encode_between_copies(encoder, row); });
      if (!written.ok()) {
        return written;
      }
    }
    out.begin_row();
    if (!encode_row_end(encoder, row, layout.across, layout.down)) {
      return output_stopped();
    }
    out.mark();
    if (!out.write_copies(1)) {
      return output_stopped();
    }
  } while (row.advance());
  return Outcome{};
}

Outcome replicate_decoded(EncodedReader& reader, RowOutput& out, const InputLayout& in,
                          const OutputLayout& layout) {
  RowDecoder decoder(out, in, layout);
  EncodedRow row;
  row.at = in.first_row_at;
  bool codes_left = true;
  for (std::uint32_t y = 0; y < in.rows; ++y) {
    const bool drawn = codes_left && row.y == y;
    const Outcome written = write_row(
        out, layout.down,
        [&] {
          if (!drawn) {
            return decoder.begin(0) && decoder.finish(0) ? Outcome{} : output_stopped();
          }
          if (!decoder.begin(row.x_start)) {
            return output_stopped();
          }
          const Outcome read = read_row(reader, in, row, decoder);
          return !read.ok() || decoder.finish(row.x_end) ? read : output_stopped();
        },
        [] { return true; });
    if (!written.ok()) {
      return written;
    }
    if (drawn) {
      codes_left = row.advance();
    }
  }
  return Outcome{};
}

}  // namespace

Outcome measure_encoded(ByteSource& input, const InputLayout& in, std::uint32_t across,
                        std::uint32_t down, OutputForm form, WorkBuffer work,
                        std::uint64_t& encoded_bytes) {
  EncodedReader reader(input, in.first_row_at, in.first_row_at + in.encoded_bytes, work);
  const bool kept = form == OutputForm::same;
  EncodedRow row;
  row.at = in.first_row_at;
  std::uint64_t total = 0;
  bool fits = true;
  do {
    ByteCount content;
    Encoder<ByteCount> encoder(content, in.encoded_bits, across);
    NoDraw none;
    const Outcome read = kept && !row.past_image(in) ? read_row(reader, in, row, encoder)
                                                     : read_row(reader, in, row, none);
    if (!read.ok()) {
      return read;
    }
    if (kept) {
      ByteCount between;
      Encoder<ByteCount> between_encoder(between, in.encoded_bits, across);
      encode_between_copies(between_encoder, row);
      ByteCount end;
      Encoder<ByteCount> end_encoder(end, in.encoded_bits, across);
      encode_row_end(end_encoder, row, across, down);
      // A row past the image is only its end.
      const std::uint64_t copies = row.past_image(in) ? 0 : down;
      std::uint64_t row_bytes = 0;
      std::uint64_t joins = 0;
      fits = fits && checked_mul(content.bytes(), copies, row_bytes) &&
             checked_mul(between.bytes(), copies > 0 ? copies - 1 : 0, joins) &&
             checked_add(row_bytes, joins, row_bytes) &&
             checked_add(row_bytes, end.bytes(), row_bytes) && checked_add(total, row_bytes, total);
    }
  } while (row.advance());
  encoded_bytes = !kept ? 0 : fits ? total : UINT64_MAX;
  return Outcome{};
}

Outcome replicate_encoded(ByteSource& input, SpanWriter& writer, const InputLayout& in,
                          const OutputLayout& out, WorkBuffer work) {
  WorkBuffer reading;
  WorkBuffer output;
  split_work(work, reading, output);
  EncodedReader reader(input, in.first_row_at, in.first_row_at + in.encoded_bytes, reading);
  RowOutput rows(writer, output);
  Outcome outcome = out.encoded ? replicate_kept_encoded(reader, rows, in, out)
                                : replicate_decoded(reader, rows, in, out);
  if (outcome.ok() && !rows.write_out()) {
    outcome = output_stopped();
  }
  if (outcome.failure == Failure::write_failed && outcome.error == 0) {
    return write_failure(writer);
  }
  // The codes were checked and measured before: a difference now is a file
  // that changed meanwhile.
  if (outcome.ok() && rows.handed() != out.pixel_bytes) {
    return failed(Failure::input_shrank, 0, rows.handed(), out.pixel_bytes);
  }
  if (group_of(outcome.failure) == FailureGroup::input_refused) {
    return failed(Failure::input_shrank, 0, in.first_row_at, in.first_row_at + in.encoded_bytes);
  }
  return outcome;
}

}  // namespace bmpresizer
