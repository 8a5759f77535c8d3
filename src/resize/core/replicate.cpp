#include "replicate.h"

#include <cstring>

#include "expand.h"

namespace bmpresizer {
namespace {

// The working buffer holds a batch of enlarged rows. Each system call writes
// up to factor times the buffer, and fewer, larger writes are markedly
// faster, so the call's own buffer takes nearly all of the 64 KiB of stack it
// may use; 64 spans cover a batch of large rows factor times over.
constexpr std::size_t kMaxSpans = 64;
// Rows shorter than this are copied factor times inside the buffer, so that
// each system call carries kilobytes rather than a handful of bytes.
constexpr std::uint64_t kMinSpanBytes = 4096;

const std::uint8_t kZeroPadding[4] = {0, 0, 0, 0};

// Collects runs of output bytes and hands them to the system in batches.
// Runs that continue the previous one are merged.
class SpanWriter {
 public:
  // Reports progress as the bytes this writer wrote, of `total`.
  // Writes from `offset` on.
  SpanWriter(ByteSink& output, std::uint64_t offset, const Progress* progress, std::uint64_t total)
      : output_(output), progress_(progress), start_(offset), offset_(offset), total_(total) {}

  bool add(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
      return true;
    }
    if (count_ > 0) {
      ByteSpan& last = spans_[count_ - 1];
      if (last.data + last.size == data) {
        last.size += size;
        return true;
      }
    }
    if (count_ == kMaxSpans && !flush()) {
      return false;
    }
    spans_[count_++] = ByteSpan{data, size};
    return true;
  }

  // Writes everything collected; must run before the bytes it points at change.
  bool flush() {
    if (count_ == 0) {
      return true;
    }
    if (!output_.write(spans_, count_, offset_, error_)) {
      return false;
    }
    for (std::size_t i = 0; i < count_; ++i) {
      offset_ += spans_[i].size;
    }
    count_ = 0;
    if (progress_ != nullptr && progress_->report != nullptr) {
      progress_->report(progress_->context, offset_ - start_, total_);
    }
    return true;
  }

  int error() const { return error_; }

 private:
  ByteSink& output_;
  const Progress* progress_;
  std::uint64_t start_;
  std::uint64_t offset_;
  std::uint64_t total_;
  ByteSpan spans_[kMaxSpans] = {};
  std::size_t count_ = 0;
  int error_ = 0;
};

// Reads `size` bytes at `offset`, mapping a short read to input_shrank: the
// size was checked against the file before, so the file changed meanwhile.
Outcome read_exactly(ByteSource& input, std::uint64_t offset, std::uint8_t* buffer,
                     std::size_t size) {
  int error = 0;
  const std::size_t got = input.read_at(offset, buffer, size, error);
  if (got == size) {
    return Outcome{};
  }
  if (error != 0) {
    return failed(Failure::read_failed, error);
  }
  return failed(Failure::input_shrank, 0, offset + got, offset + size);
}

Outcome write_failure(const SpanWriter& writer) {
  return failed(Failure::write_failed, writer.error());
}

// Rows whose enlargement fits the buffer: read a batch of stored rows with
// one read, enlarge them within the buffer and write each enlarged row
// factor times.
Outcome replicate_batched(ByteSource& input, SpanWriter& writer, const InputLayout& in,
                          const OutputLayout& out, WorkBuffer work) {
  const std::size_t row_bytes = static_cast<std::size_t>(out.row_bytes);
  const std::size_t pixel_bytes = row_bytes - out.pad_bytes;
  // Short rows are laid out factor times in the buffer (one long run per
  // batch); long rows once, and the span list repeats them.
  const bool copies_in_buffer =
      out.row_bytes < kMinSpanBytes && out.row_bytes * out.factor <= work.size;
  const std::size_t slot_bytes = copies_in_buffer ? row_bytes * out.factor : row_bytes;
  const std::size_t rows_per_batch = work.size / slot_bytes;

  std::uint64_t offset = in.first_row_at;
  for (std::uint32_t row = 0; row < in.rows;) {
    const std::uint32_t left = in.rows - row;
    const auto batch = static_cast<std::uint32_t>(left < rows_per_batch ? left : rows_per_batch);
    // The stored rows go to the end of the room their enlargements take, so
    // that enlarging them in order, each from the start of its slot, never
    // overwrites a stored byte still to be read. The last stored row's
    // padding is not needed (and may be missing).
    const std::size_t stored_bytes = static_cast<std::size_t>(in.row_bytes) * batch;
    std::uint8_t* stored = work.data + slot_bytes * batch - stored_bytes;
    Outcome read = read_exactly(input, offset, stored, stored_bytes - in.pad_bytes);
    if (!read.ok()) {
      return read;
    }
    for (std::uint32_t r = 0; r < batch; ++r) {
      std::uint8_t* slot = work.data + slot_bytes * r;
      expand_row(slot, stored + static_cast<std::size_t>(in.row_bytes) * r, in.width, out.factor);
      std::memset(slot + pixel_bytes, 0, out.pad_bytes);
      if (copies_in_buffer) {
        repeat_forward(slot, row_bytes, slot_bytes);
      }
    }
    for (std::uint32_t r = 0; r < batch; ++r) {
      const std::uint8_t* slot = work.data + slot_bytes * r;
      const std::uint32_t writes = copies_in_buffer ? 1 : out.factor;
      for (std::uint32_t k = 0; k < writes; ++k) {
        if (!writer.add(slot, slot_bytes)) {
          return write_failure(writer);
        }
      }
    }
    // The next batch overwrites the buffer.
    if (!writer.flush()) {
      return write_failure(writer);
    }
    offset += in.row_bytes * batch;
    row += batch;
  }
  return Outcome{};
}

// One piece of a long row, `pixels` stored pixels from `offset`, enlarged
// into the buffer and handed to the writer. When even one enlarged pixel
// exceeds the buffer, the buffer holds as many copies of the pixel as fit and
// its run is written from there in several spans.
Outcome write_piece(ByteSource& input, SpanWriter& writer, std::uint64_t offset,
                    std::uint32_t pixels, std::uint32_t factor, WorkBuffer work) {
  const std::size_t run_bytes = kBytesPerPixel * factor;  // one pixel, enlarged
  if (run_bytes <= work.size) {
    // As in a batch, the stored piece goes to the end of its enlargement.
    const std::size_t stored_at = (run_bytes - kBytesPerPixel) * pixels;
    Outcome read = read_exactly(input, offset, work.data + stored_at, kBytesPerPixel * pixels);
    if (!read.ok()) {
      return read;
    }
    expand_row(work.data, work.data + stored_at, pixels, factor);
    return writer.add(work.data, run_bytes * pixels) ? Outcome{} : write_failure(writer);
  }
  Outcome read = read_exactly(input, offset, work.data, kBytesPerPixel);
  if (!read.ok()) {
    return read;
  }
  const std::size_t fill_bytes = work.size / kBytesPerPixel * kBytesPerPixel;
  repeat_forward(work.data, kBytesPerPixel, fill_bytes);
  for (std::size_t done = 0; done < run_bytes; done += fill_bytes) {
    const std::size_t rest = run_bytes - done;
    if (!writer.add(work.data, rest < fill_bytes ? rest : fill_bytes)) {
      return write_failure(writer);
    }
  }
  return Outcome{};
}

// Rows whose enlargement does not fit the buffer: for each repetition, read
// the stored row again piece by piece, enlarge each piece and write it.
Outcome replicate_long_rows(ByteSource& input, SpanWriter& writer, const InputLayout& in,
                            const OutputLayout& out, WorkBuffer work) {
  const std::size_t run_bytes = kBytesPerPixel * out.factor;
  const std::size_t piece_pixels = run_bytes <= work.size ? work.size / run_bytes : 1;
  std::uint64_t row_offset = in.first_row_at;
  for (std::uint32_t row = 0; row < in.rows; ++row, row_offset += in.row_bytes) {
    for (std::uint32_t repeat = 0; repeat < out.factor; ++repeat) {
      for (std::uint32_t x = 0; x < in.width;) {
        const std::uint32_t left = in.width - x;
        const auto pixels = static_cast<std::uint32_t>(left < piece_pixels ? left : piece_pixels);
        Outcome piece = write_piece(input, writer, row_offset + std::uint64_t{kBytesPerPixel} * x,
                                    pixels, out.factor, work);
        if (!piece.ok()) {
          return piece;
        }
        // The next piece overwrites the buffer.
        if (!writer.flush()) {
          return write_failure(writer);
        }
        x += pixels;
      }
      if (!writer.add(kZeroPadding, out.pad_bytes)) {
        return write_failure(writer);
      }
    }
  }
  return writer.flush() ? Outcome{} : write_failure(writer);
}

}  // namespace

Outcome replicate_rows(ByteSource& input, ByteSink& output, std::uint64_t offset, ByteSpan headers,
                       const InputLayout& input_layout, const OutputLayout& output_layout,
                       const Progress* progress, WorkBuffer work) {
  const std::uint64_t total = headers.size + std::uint64_t{input_layout.rows} *
                                                 output_layout.factor * output_layout.row_bytes;
  SpanWriter writer(output, offset, progress, total);
  if (!writer.add(headers.data, headers.size)) {
    return write_failure(writer);
  }
  // Zero width or height: the output is its headers (rows of zero pixels have
  // zero padding too).
  if (input_layout.width == 0 || input_layout.rows == 0) {
    return writer.flush() ? Outcome{} : write_failure(writer);
  }
  std::uint8_t own[kDefaultWorkBytes];
  if (work.data == nullptr || work.size < kMinWorkBytes) {
    work = WorkBuffer{own, sizeof own};
  }
  if (output_layout.row_bytes <= work.size) {
    return replicate_batched(input, writer, input_layout, output_layout, work);
  }
  return replicate_long_rows(input, writer, input_layout, output_layout, work);
}

}  // namespace bmpresizer
