#include "replicate.h"

#include <cstring>

#include "expand.h"
#include "rle.h"
#include "span_writer.h"

namespace bmpresizer {
namespace {

// Rows shorter than this are copied factor times inside the buffer, so that
// each system call carries kilobytes rather than a handful of bytes.
constexpr std::uint64_t kMinSpanBytes = 4096;

const std::uint8_t kZeroPadding[4] = {0, 0, 0, 0};

// How the stored pixels of a row become its enlargement in memory.
class RowExpander {
 public:
  // Sub-byte pixels take a table where the factor is small enough to make
  // its room worth it; `work` gives that room and keeps the rest.
  RowExpander(const InputLayout& in, const OutputLayout& out, WorkBuffer& work)
      : pixels_(in.width), bits_(in.bits_per_pixel), factor_(out.across) {
    // (Not in a small buffer, which the table would mostly fill.)
    if (bits_ < 8 && factor_ <= kMaxBitTableFactor && bit_table_bytes(factor_) <= work.size / 4) {
      table_ = work.data;
      make_bit_table(work.data, bits_, factor_);
      work.data += bit_table_bytes(factor_);
      work.size -= bit_table_bytes(factor_);
    }
  }

  // The row data at `source` (which may lie inside the destination from
  // dest + out.row_data_bytes - in.row_data_bytes on) as its enlargement at
  // `dest`.
  void expand(std::uint8_t* dest, const std::uint8_t* source) const {
    if (bits_ < 8) {
      expand_bits(dest, source, pixels_, bits_, factor_, table_);
    } else {
      expand_pixels(dest, source, pixels_, bits_ / 8, factor_);
    }
  }

  // The same for `pixels` sub-byte pixels of a row, from a stored byte on.
  void expand_bit_piece(std::uint8_t* dest, const std::uint8_t* source,
                        std::uint32_t pixels) const {
    expand_bits(dest, source, pixels, bits_, factor_, table_);
  }

 private:
  std::uint32_t pixels_;
  std::uint32_t bits_;
  std::uint32_t factor_;
  const std::uint8_t* table_ = nullptr;
};

// How a batch of rows lies in the buffer.
struct BatchLayout {
  bool copies_in_buffer;   // each enlarged row laid out `down` times
  std::size_t slot_bytes;  // the room of one stored row's enlargement
  std::size_t rows;        // stored rows per batch
};

BatchLayout batch_layout(const OutputLayout& out, std::size_t work_bytes) {
  BatchLayout batch{};
  // Short rows are laid out `down` times in the buffer (one long run per
  // batch); long rows once, and the span list repeats them.
  batch.copies_in_buffer = out.row_bytes < kMinSpanBytes && out.row_bytes * out.down <= work_bytes;
  batch.slot_bytes =
      static_cast<std::size_t>(out.row_bytes) * (batch.copies_in_buffer ? out.down : 1);
  batch.rows = work_bytes / batch.slot_bytes;
  if (!batch.copies_in_buffer && out.down > 1) {
    // The length of the span list decides how much one write carries; a
    // batch beyond what fills it only touches more of the buffer, and every
    // page touched for the first time is a page fault (a 256x256 image at
    // x16 touched 1 MiB for 12 KiB rows: 5% of the call). Each stored row
    // adds down - 1 spans, its last copy joining the next row's first.
    const std::size_t rows_per_list = (kMaxSpans - 1) / (out.down - 1);
    if (rows_per_list < batch.rows) {
      batch.rows = rows_per_list > 0 ? rows_per_list : 1;
    }
  }
  return batch;
}

// Rows whose enlargement fits the buffer: read a batch of stored rows with
// one read, enlarge them within the buffer and write each enlarged row
// `down` times.
Outcome replicate_batched(ByteSource& input, SpanWriter& writer, const InputLayout& in,
                          const OutputLayout& out, const RowExpander& expander, WorkBuffer work) {
  const std::size_t row_bytes = static_cast<std::size_t>(out.row_bytes);
  const std::size_t data_bytes = static_cast<std::size_t>(out.row_data_bytes);
  const auto [copies_in_buffer, slot_bytes, rows_per_batch] = batch_layout(out, work.size);
  const auto stored_stride = static_cast<std::size_t>(in.row_bytes);
  const auto stored_data = static_cast<std::size_t>(in.row_data_bytes);

  std::uint64_t offset = in.first_row_at;
  for (std::uint32_t row = 0; row < in.rows;) {
    const std::uint32_t left = in.rows - row;
    const auto batch = static_cast<std::uint32_t>(left < rows_per_batch ? left : rows_per_batch);
    // The stored rows go to the end of the room their enlargements take, the
    // last row's pixels ending where its enlarged pixels end: enlarging them
    // in order, each from the start of its slot, then never overwrites a
    // stored byte still to be read. The last stored row's padding is not
    // needed (and may be missing).
    std::uint8_t* stored =
        work.data + (slot_bytes - stored_stride) * (batch - 1) + data_bytes - stored_data;
    const Outcome read =
        read_exactly(input, offset, stored, stored_stride * (batch - 1) + stored_data);
    if (!read.ok()) {
      return read;
    }
    for (std::uint32_t r = 0; r < batch; ++r) {
      std::uint8_t* slot = work.data + slot_bytes * r;
      expander.expand(slot, stored + stored_stride * r);
      std::memset(slot + data_bytes, 0, out.pad_bytes);
      if (copies_in_buffer) {
        repeat_forward(slot, row_bytes, slot_bytes);
      }
    }
    for (std::uint32_t r = 0; r < batch; ++r) {
      const std::uint8_t* slot = work.data + slot_bytes * r;
      const std::uint32_t writes = copies_in_buffer ? 1 : out.down;
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

// One piece of a long row of whole-byte pixels, `pixels` stored pixels from
// `offset`, enlarged into the buffer and handed to the writer. When even one
// enlarged pixel exceeds the buffer, the buffer holds as many copies of the
// pixel as fit and its run is written from there in several spans.
Outcome write_piece(ByteSource& input, SpanWriter& writer, std::uint64_t offset,
                    std::uint32_t pixels, std::uint32_t bytes, std::uint32_t factor,
                    WorkBuffer work) {
  const std::size_t run_bytes = std::size_t{bytes} * factor;  // one pixel, enlarged
  if (run_bytes <= work.size) {
    // As in a batch, the stored piece goes to the end of its enlargement.
    const std::size_t stored_at = (run_bytes - bytes) * pixels;
    Outcome read = read_exactly(input, offset, work.data + stored_at, std::size_t{bytes} * pixels);
    if (!read.ok()) {
      return read;
    }
    expand_pixels(work.data, work.data + stored_at, pixels, bytes, factor);
    return writer.add(work.data, run_bytes * pixels) ? Outcome{} : write_failure(writer);
  }
  Outcome read = read_exactly(input, offset, work.data, bytes);
  if (!read.ok()) {
    return read;
  }
  const std::size_t fill_bytes = work.size / bytes * bytes;
  repeat_forward(work.data, bytes, fill_bytes);
  for (std::size_t done = 0; done < run_bytes; done += fill_bytes) {
    const std::size_t rest = run_bytes - done;
    if (!writer.add(work.data, rest < fill_bytes ? rest : fill_bytes)) {
      return write_failure(writer);
    }
  }
  return Outcome{};
}

// Rows of whole-byte pixels whose enlargement does not fit the buffer: for
// each repetition, read the stored row again piece by piece, enlarge each
// piece and write it.
Outcome replicate_long_rows(ByteSource& input, SpanWriter& writer, const InputLayout& in,
                            const OutputLayout& out, WorkBuffer work) {
  const std::uint32_t bytes = in.bits_per_pixel / 8;
  const std::size_t run_bytes = std::size_t{bytes} * out.across;
  const std::size_t piece_pixels = run_bytes <= work.size ? work.size / run_bytes : 1;
  std::uint64_t row_offset = in.first_row_at;
  for (std::uint32_t row = 0; row < in.rows; ++row, row_offset += in.row_bytes) {
    for (std::uint32_t repeat = 0; repeat < out.down; ++repeat) {
      for (std::uint32_t x = 0; x < in.width;) {
        const std::uint32_t left = in.width - x;
        const auto pixels = static_cast<std::uint32_t>(left < piece_pixels ? left : piece_pixels);
        Outcome piece = write_piece(input, writer, row_offset + std::uint64_t{bytes} * x, pixels,
                                    bytes, out.across, work);
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

// Runs of bits written through the buffer, for rows of sub-byte pixels too
// long for it: whole bytes are gathered in the buffer and handed to the
// writer when it is full; a byte begun is kept until it is complete.
class BitStream {
 public:
  BitStream(SpanWriter& writer, WorkBuffer work) : writer_(writer), work_(work) {}

  // `count` bits of `fill`.
  bool add_run(std::uint8_t fill, std::uint64_t count) {
    if (begun_ > 0) {
      const std::uint32_t take =
          count < 8 - begun_ ? static_cast<std::uint32_t>(count) : 8 - begun_;
      const auto mask = static_cast<std::uint8_t>((0xFFu >> begun_) & ~(0xFFu >> (begun_ + take)));
      byte_ = static_cast<std::uint8_t>(byte_ | (fill & mask));
      begun_ += take;
      count -= take;
      if (begun_ < 8) {
        return true;  // the run ended inside the byte
      }
      if (!add_bytes(byte_, 1)) {
        return false;
      }
      begun_ = 0;
    }
    if (!add_bytes(fill, count / 8)) {
      return false;
    }
    begun_ = static_cast<std::uint32_t>(count % 8);
    byte_ = static_cast<std::uint8_t>(fill & ~(0xFFu >> begun_));
    return true;
  }

  // Closes the row: its last byte begun, then `padding` zero bytes.
  bool end_row(std::uint32_t padding) {
    const bool ok = (begun_ == 0 || add_bytes(byte_, 1)) && add_bytes(0, padding);
    begun_ = 0;
    byte_ = 0;
    return ok;
  }

  bool flush() {
    const bool ok = used_ == 0 || (writer_.add(work_.data, used_) && writer_.flush());
    used_ = 0;
    return ok;
  }

 private:
  bool add_bytes(std::uint8_t value, std::uint64_t count) {
    while (count > 0) {
      if (used_ == work_.size && !flush()) {
        return false;
      }
      const std::size_t room = work_.size - used_;
      const std::size_t n = count < room ? static_cast<std::size_t>(count) : room;
      std::memset(work_.data + used_, value, n);
      used_ += n;
      count -= n;
    }
    return true;
  }

  SpanWriter& writer_;
  WorkBuffer work_;
  std::size_t used_ = 0;
  std::uint8_t byte_ = 0;
  std::uint32_t begun_ = 0;  // bits of byte_ set
};

// Rows of sub-byte pixels so long, and a factor so large, that the
// enlargement of one stored byte does not fit half the buffer: for each
// repetition, the stored row is read again a small piece at a time and each
// pixel becomes a run of bits.
Outcome replicate_bit_runs(ByteSource& input, SpanWriter& writer, const InputLayout& in,
                           const OutputLayout& out, WorkBuffer work) {
  const std::uint32_t bits = in.bits_per_pixel;
  const std::uint32_t per_byte = 8 / bits;
  const std::uint64_t run = std::uint64_t{out.across} * bits;
  BitStream stream(writer, work);
  std::uint8_t piece[256];
  std::uint64_t row_offset = in.first_row_at;
  for (std::uint32_t row = 0; row < in.rows; ++row, row_offset += in.row_bytes) {
    for (std::uint32_t repeat = 0; repeat < out.down; ++repeat) {
      for (std::uint64_t at = 0; at < in.row_data_bytes; at += sizeof piece) {
        const std::uint64_t left = in.row_data_bytes - at;
        const std::size_t size =
            left < sizeof piece ? static_cast<std::size_t>(left) : sizeof piece;
        const Outcome read = read_exactly(input, row_offset + at, piece, size);
        if (!read.ok()) {
          return read;
        }
        for (std::size_t i = 0; i < size * per_byte && at * per_byte + i < in.width; ++i) {
          const auto shift = static_cast<std::uint32_t>(8 - bits * (i % per_byte + 1));
          const std::uint32_t value =
              (std::uint32_t{piece[i / per_byte]} >> shift) & ((1u << bits) - 1);
          if (!stream.add_run(fill_of(value, bits), run)) {
            return write_failure(writer);
          }
        }
      }
      if (!stream.end_row(out.pad_bytes)) {
        return write_failure(writer);
      }
    }
  }
  return stream.flush() ? Outcome{} : write_failure(writer);
}

// Rows of sub-byte pixels whose enlargement does not fit the buffer. The
// pixels of a stored byte enlarge to exactly `across` bytes, so pieces of
// whole stored bytes make whole bytes of output: for each repetition the
// stored row is read again piece by piece and each piece is enlarged by the
// row kernels, as rows that fit are.
Outcome replicate_long_bit_rows(ByteSource& input, SpanWriter& writer, const InputLayout& in,
                                const OutputLayout& out, const RowExpander& expander,
                                WorkBuffer work) {
  if (out.across > work.size / 2) {
    return replicate_bit_runs(input, writer, in, out, work);
  }
  const std::uint32_t per_byte = 8 / in.bits_per_pixel;
  const std::size_t piece_bytes = work.size / (std::size_t{out.across} + 1);
  std::uint64_t row_offset = in.first_row_at;
  for (std::uint32_t row = 0; row < in.rows; ++row, row_offset += in.row_bytes) {
    for (std::uint32_t repeat = 0; repeat < out.down; ++repeat) {
      for (std::uint64_t at = 0; at < in.row_data_bytes;) {
        const std::uint64_t left = in.row_data_bytes - at;
        const std::size_t stored =
            left < piece_bytes ? static_cast<std::size_t>(left) : piece_bytes;
        const std::uint64_t pixels_left = in.width - at * per_byte;
        const auto pixels = static_cast<std::uint32_t>(
            pixels_left < std::uint64_t{stored} * per_byte ? pixels_left : stored * per_byte);
        const auto enlarged = static_cast<std::size_t>(
            (std::uint64_t{pixels} * out.across * in.bits_per_pixel + 7) / 8);
        // As in a batch, the stored piece goes to the end of its enlargement.
        std::uint8_t* const source = work.data + enlarged - stored;
        const Outcome read = read_exactly(input, row_offset + at, source, stored);
        if (!read.ok()) {
          return read;
        }
        expander.expand_bit_piece(work.data, source, pixels);
        // The next piece overwrites the buffer.
        if (!writer.add(work.data, enlarged) || !writer.flush()) {
          return write_failure(writer);
        }
        at += stored;
      }
      if (!writer.add(kZeroPadding, out.pad_bytes)) {
        return write_failure(writer);
      }
    }
  }
  return writer.flush() ? Outcome{} : write_failure(writer);
}

Outcome replicate_pixels(ByteSource& input, SpanWriter& writer, const InputLayout& in,
                         const OutputLayout& out, WorkBuffer work) {
  const RowExpander expander(in, out, work);
  if (out.row_bytes <= work.size) {
    return replicate_batched(input, writer, in, out, expander, work);
  }
  return in.bits_per_pixel < 8 ? replicate_long_bit_rows(input, writer, in, out, expander, work)
                               : replicate_long_rows(input, writer, in, out, work);
}

}  // namespace

Outcome replicate_rows(ByteSource& input, ByteSink& output, std::uint64_t offset,
                       const Surroundings& around, const InputLayout& input_layout,
                       const OutputLayout& output_layout, const Progress* progress,
                       WorkBuffer work) {
  const std::uint64_t pixel_bytes =
      input_layout.encoded_bits != 0
          ? output_layout.pixel_bytes
          : std::uint64_t{input_layout.rows} * output_layout.down * output_layout.row_bytes;
  const std::uint64_t total =
      around.headers.size + around.prefix_bytes + pixel_bytes + around.suffix_bytes;
  SpanWriter writer(output, offset, progress, total);
  if (!writer.add(around.headers.data, around.headers.size)) {
    return write_failure(writer);
  }
  std::uint8_t own[kDefaultWorkBytes];
  if (work.data == nullptr || work.size < kMinWorkBytes) {
    work = WorkBuffer{own, sizeof own};
  }
  Outcome outcome = copy_bytes(input, writer, around.prefix_from, around.prefix_bytes, work);
  if (outcome.ok() && input_layout.encoded_bits != 0) {
    outcome = replicate_encoded(input, writer, input_layout, output_layout, work);
  } else if (outcome.ok() && input_layout.width > 0 && input_layout.rows > 0) {
    // Zero width or height: no rows (rows of zero pixels have no padding).
    outcome = replicate_pixels(input, writer, input_layout, output_layout, work);
  }
  if (outcome.ok()) {
    outcome = copy_bytes(input, writer, around.suffix_from, around.suffix_bytes, work);
  }
  if (outcome.ok() && !writer.flush()) {
    outcome = write_failure(writer);
  }
  return outcome;
}

}  // namespace bmpresizer
