// Run-length encoded BMPs through the core: hand-written codes with every
// escape, enlarged at factors that split runs and deltas, kept encoded or
// written uncompressed, in a buffer that holds the rows and one that does
// not; and damaged codes, refused before anything is written. Outputs are
// judged by the tests' own reading of the codes.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "bmp_testing.h"
#include "bmpresizer_core.h"

namespace {

using bmpresizer::Failure;
using bmptest::Bytes;

constexpr std::uint32_t kUndrawn = 0xFFFFFFFF;

// A picture: rows from the bottom, each pixel a palette index or a BGR
// value, or kUndrawn.
using Grid = std::vector<std::vector<std::uint32_t>>;

std::uint32_t byte_at(const Bytes& b, std::size_t at) { return b.at(at); }

std::uint32_t u32_at(const Bytes& b, std::size_t at) {
  return byte_at(b, at) | byte_at(b, at + 1) << 8 | byte_at(b, at + 2) << 16 |
         byte_at(b, at + 3) << 24;
}

// A 24-bit pixel's blue, green and red as one number.
std::uint32_t bgr_at(const Bytes& b, std::size_t at) {
  return byte_at(b, at) | byte_at(b, at + 1) << 8 | byte_at(b, at + 2) << 16;
}

// A BMP of `bits` whose pixels are `codes` (RLE8, RLE4, or RLE24 in OS/2
// 2.x's 64-byte header), with a palette of 2^bits entries.
Bytes encoded_bmp(std::int32_t width, std::int32_t height, std::uint16_t bits, const Bytes& codes) {
  const std::uint32_t info = bits == 24 ? 64 : 40;
  const std::uint32_t table = bits == 24 ? 0 : 4u << bits;
  bmptest::BmpFields fields;
  fields.width = width;
  fields.height = height;
  fields.bit_count = bits;
  fields.compression = bits == 8 ? 1 : bits == 4 ? 2 : 4;
  fields.image_size = static_cast<std::uint32_t>(codes.size());
  fields.pixel_offset = 14 + info + table;
  Bytes bmp = bmptest::make_bmp(fields, Bytes(table, 0x5A));
  bmp.insert(bmp.begin() + 54, info - 40, 0);
  bmptest::put_le(bmp, 14, info, 4);
  bmp.insert(bmp.end(), codes.begin(), codes.end());
  bmptest::put_le(bmp, 2, bmp.size(), 4);
  return bmp;
}

// The picture the codes of `bmp` draw, read as the format describes them;
// runs into a row's padding are cut at its width.
Grid decode_codes(const Bytes& bmp) {
  const std::uint32_t width = u32_at(bmp, 18);
  const std::uint32_t height = u32_at(bmp, 22);
  const std::uint32_t bits = bmp[28];
  Grid grid(height, std::vector<std::uint32_t>(width, kUndrawn));
  const auto pixel = [&](std::size_t at, std::uint32_t i) -> std::uint32_t {
    if (bits == 24) {
      return bgr_at(bmp, at + 3 * i);
    }
    return bits == 8 ? byte_at(bmp, at + i)
                     : (i % 2 == 0 ? byte_at(bmp, at + i / 2) >> 4 : byte_at(bmp, at + i / 2) & 15);
  };
  std::size_t at = u32_at(bmp, 10);
  std::uint32_t x = 0;
  std::uint32_t y = 0;
  const auto draw = [&](std::uint32_t value) {
    if (x < width) {
      grid.at(y).at(x) = value;
    }
    ++x;
  };
  while (at + 1 < bmp.size()) {
    const std::uint32_t count = bmp[at];
    const std::uint32_t second = bmp[at + 1];
    at += 2;
    if (count > 0) {
      for (std::uint32_t i = 0; i < count; ++i) {
        draw(bits == 24   ? pixel(at - 1, 0)
             : bits == 8  ? second
             : i % 2 == 0 ? second >> 4
                          : second & 15);
      }
      at += bits == 24 ? 2 : 0;
    } else if (second == 0) {
      x = 0;
      ++y;
    } else if (second == 1) {
      break;
    } else if (second == 2) {
      x += bmp[at];
      y += bmp[at + 1];
      at += 2;
    } else {
      for (std::uint32_t i = 0; i < second; ++i) {
        draw(pixel(at, i));
      }
      const std::size_t stored = (second * bits + 7) / 8;
      at += stored + stored % 2;
    }
  }
  return grid;
}

// The picture of an uncompressed bottom-up BMP of 4, 8 or 24 bits.
Grid decode_rows(const Bytes& bmp) {
  const std::uint32_t width = u32_at(bmp, 18);
  const std::uint32_t height = u32_at(bmp, 22);
  const std::uint32_t bits = bmp[28];
  const std::size_t stride = (width * bits + 31) / 32 * 4;
  Grid grid(height, std::vector<std::uint32_t>(width));
  for (std::uint32_t y = 0; y < height; ++y) {
    const std::size_t row = u32_at(bmp, 10) + y * stride;
    for (std::uint32_t x = 0; x < width; ++x) {
      const std::size_t at = row + x * bits / 8;
      grid[y][x] = bits == 24  ? bgr_at(bmp, at)
                   : bits == 8 ? byte_at(bmp, at)
                               : (x % 2 == 0 ? byte_at(bmp, at) >> 4 : byte_at(bmp, at) & 15);
    }
  }
  return grid;
}

Grid enlarged(const Grid& grid, std::uint32_t across, std::uint32_t down, bool undrawn_as_zero) {
  Grid out;
  for (const auto& row : grid) {
    std::vector<std::uint32_t> wide;
    for (std::uint32_t value : row) {
      wide.insert(wide.end(), across, undrawn_as_zero && value == kUndrawn ? 0 : value);
    }
    out.insert(out.end(), down, wide);
  }
  return out;
}

struct Encoded {
  const char* what;
  std::int32_t width, height;
  std::uint16_t bits;
  Bytes codes;
};

const Encoded kPictures[] = {
    {"RLE8: a run and an odd absolute run ending at the row's end, a delta in a row, a delta "
     "from inside one row into the next, a last row left short",
     5,
     4,
     8,
     {2, 7, 0, 3, 1, 2, 3, 0, 0, 0, 0, 2, 1, 0, 1, 9, 0, 2, 2, 1, 1, 4, 0, 0, 0, 2, 4, 0, 0, 1}},
    {"RLE8: a delta from a row's end over a row, the codes ending without an end of bitmap",
     4,
     3,
     8,
     {4, 1, 0, 2, 0, 2}},
    {"RLE4: runs of two pixels taking turns (odd and even counts), absolute runs into the "
     "padding and of odd length",
     7,
     2,
     4,
     {5, 0x12, 0, 3, 0x34, 0x50, 0, 0, 0, 5, 0x12, 0x34, 0x50, 0, 2, 0x66, 0, 1}},
    {"RLE24 (OS/2): a run and an odd absolute run of three-byte pixels",
     3,
     2,
     24,
     {3, 1, 2, 3, 0, 0, 0, 3, 10, 11, 12, 20, 21, 22, 30, 31, 32, 0, 0, 1}},
    {"RLE8: long runs and deltas, enlarged past 255 and past the buffer",
     600,
     3,
     8,
     {255, 5, 255, 6, 90, 7, 0,   0, 0, 2, 200, 0, 0,  4, 1, 2,
      3,   4, 0,   0, 0,  2, 255, 0, 0, 2, 100, 0, 10, 8, 0, 1}},
};

// Rows of many short runs, as GraphicsMagick writes them: `count` runs of 1
// to 3 pixels (one of 100) of changing values, RLE4 ones with two values taking turns
// now and then; then a delta in the row, one more pixel, and a delta up
// into the next row, where five pixels follow the column reached.
Encoded many_runs(std::uint16_t bits, int count) {
  Bytes codes;
  std::int32_t width = 0;
  for (int i = 0; i < count; ++i) {
    const auto n = static_cast<std::uint8_t>(i == 20 ? 100 : 1 + i * 7 % 3);
    const auto v =
        static_cast<std::uint8_t>(bits == 4 ? (i % 5 == 0 ? 0x12 : 0x11 * (i % 16)) : 17 * i);
    codes.insert(codes.end(), {n, v});
    width += n;
  }
  codes.insert(codes.end(), {0, 2, 2, 0, 1, 0x33, 0, 2, 1, 1});
  for (int i = 0; i < 5; ++i) {
    codes.insert(codes.end(), {1, static_cast<std::uint8_t>(0x44 + i)});
  }
  codes.insert(codes.end(), {0, 0});
  return {bits == 4 ? "RLE4: rows of many short runs" : "RLE8: rows of many short runs", width + 10,
          2, bits, codes};
}

Bytes enlarge(const Bytes& input, bmpresizer::Factors factors, bmpresizer::OutputForm form,
              std::size_t work_bytes, bmpresizer::Outcome& outcome) {
  std::vector<std::uint8_t> work(work_bytes);
  bmpresizer::MemorySource source(input.data(), input.size());
  Bytes output(1 << 22);
  bmpresizer::MemorySink sink(output.data(), output.size());
  outcome = bmpresizer::resize(source, sink, factors, nullptr,
                               bmpresizer::WorkBuffer{work.data(), work.size()}, {},
                               bmpresizer::Kinds::every, form);
  output.resize(sink.length());
  return output;
}

TEST(Rle, EveryCodeIsEnlargedKeptEncodedOrUncompressed) {
  const bmpresizer::Factors factors[] = {{1, 1}, {2, 2}, {3, 1}, {1, 3}, {5, 2}, {300, 2}};
  std::vector<Encoded> pictures(std::begin(kPictures), std::end(kPictures));
  pictures.push_back(many_runs(8, 40));
  pictures.push_back(many_runs(4, 37));
  for (const Encoded& picture : pictures) {
    const Bytes input = encoded_bmp(picture.width, picture.height, picture.bits, picture.codes);
    const Grid source = decode_codes(input);
    for (const bmpresizer::Factors f : factors) {
      for (const auto form : {bmpresizer::OutputForm::same, bmpresizer::OutputForm::uncompressed}) {
        for (const std::size_t work : {std::size_t{2048}, std::size_t{1} << 20}) {
          const bool kept = form == bmpresizer::OutputForm::same;
          const std::string where = std::string(picture.what) + " at " + std::to_string(f.across) +
                                    "x" + std::to_string(f.down) + (kept ? " kept" : " plain") +
                                    ", buffer " + std::to_string(work);
          bmpresizer::Outcome outcome;
          const Bytes output = enlarge(input, f, form, work, outcome);
          ASSERT_TRUE(outcome.ok()) << where << ": " << static_cast<int>(outcome.failure);
          ASSERT_EQ(outcome.output_bytes, output.size()) << where;
          EXPECT_EQ(u32_at(output, 2), output.size()) << where;
          EXPECT_EQ(u32_at(output, 34), output.size() - u32_at(output, 10)) << where;
          EXPECT_EQ(u32_at(output, 30), kept ? u32_at(input, 30) : 0u) << where;
          const auto across = static_cast<std::uint32_t>(f.across);
          const auto down = static_cast<std::uint32_t>(f.down);
          EXPECT_EQ(kept ? decode_codes(output) : decode_rows(output),
                    enlarged(source, across, down, !kept))
              << where;
          // What comes before the pixels is the input's, but for the sizes.
          EXPECT_EQ(output[28], input[28]) << where;
          for (std::size_t at : {10u, 14u, 46u}) {
            EXPECT_EQ(u32_at(output, at), u32_at(input, at)) << where << " at " << at;
          }
          // The size an enlargement takes is told before one, from the whole file.
          bmpresizer::Description description;
          ASSERT_TRUE(bmpresizer::describe(input.data(), input.size(), input.size(), f,
                                           bmpresizer::Kinds::every, form, description)
                          .ok());
          EXPECT_EQ(description.output_bytes, output.size()) << where;
        }
      }
    }
  }
}

TEST(Rle, DamagedCodesAreRefusedBeforeAnyWrite) {
  struct Damaged {
    const char* what;
    std::int32_t height;
    std::uint16_t bits;
    Bytes codes;
    Failure failure;
    std::uint64_t have, want;
    std::int64_t size_image_extra;  // added to biSizeImage
  };
  const Damaged cases[] = {
      {"a run past the padding", 2, 8, {5, 1}, Failure::rle_past_row, 5, 4, 0},
      {"a run after one into the padding",
       2,
       4,
       {8, 0x11, 1, 0x22},
       Failure::rle_past_row,
       9,
       4,
       0},
      {"an absolute run past the padding",
       2,
       8,
       {0, 5, 1, 2, 3, 4, 5, 0},
       Failure::rle_past_row,
       5,
       4,
       0},
      {"a delta past the row", 2, 8, {0, 2, 5, 0}, Failure::rle_past_row, 5, 4, 0},
      {"a delta past the row's end into the padding",
       2,
       8,
       {3, 1, 0, 2, 2, 1},
       Failure::rle_past_row,
       5,
       4,
       0},
      {"a delta past the image", 2, 8, {0, 2, 0, 2}, Failure::rle_past_image, 2, 2, 0},
      {"a run after the last row", 2, 8, {0, 0, 0, 0, 1, 1}, Failure::rle_past_image, 2, 2, 0},
      {"the codes end inside a run", 2, 8, {2}, Failure::rle_truncated, 1, 2, 0},
      {"the codes end inside an absolute run", 2, 8, {0, 4, 1, 2}, Failure::rle_truncated, 4, 6, 0},
      {"the codes end inside a delta", 2, 8, {0, 2, 1}, Failure::rle_truncated, 3, 4, 0},
      {"the codes end inside an RLE24 run", 2, 24, {2, 1, 2}, Failure::rle_truncated, 3, 4, 0},
      {"more codes declared than the file has", 2, 8, {0, 1}, Failure::rle_size, 3, 2, 1},
      {"rows stored top-down", -2, 8, {0, 1}, Failure::rle_top_down, 0xFFFFFFFE, 0, 0},
  };
  for (const Damaged& c : cases) {
    Bytes input = encoded_bmp(4, c.height, c.bits, c.codes);
    const std::size_t codes_at = u32_at(input, 10);
    bmptest::put_le(input, 34, static_cast<std::uint64_t>(u32_at(input, 34) + c.size_image_extra),
                    4);
    bmpresizer::Outcome outcome;
    const Bytes output = enlarge(input, {2, 2}, bmpresizer::OutputForm::same, 2048, outcome);
    EXPECT_EQ(outcome.failure, c.failure) << c.what;
    const bool offsets = c.failure == Failure::rle_truncated;
    EXPECT_EQ(outcome.have, c.have + (offsets ? codes_at : 0)) << c.what;
    EXPECT_EQ(outcome.want, c.want + (offsets ? codes_at : 0)) << c.what;
    EXPECT_TRUE(output.empty()) << c.what;
  }
  // Depths the codes do not encode.
  Bytes rle8_at_4 = encoded_bmp(4, 2, 4, {0, 1});
  rle8_at_4[30] = 1;
  bmpresizer::Outcome outcome;
  enlarge(rle8_at_4, 2, bmpresizer::OutputForm::same, 2048, outcome);
  EXPECT_EQ(outcome.failure, Failure::rle_bit_count);
  // Only where asked for: the library's other kinds refuse the codes.
  const Bytes fine = encoded_bmp(4, 2, 8, {0, 1});
  for (const auto kinds : {bmpresizer::Kinds::uncompressed, bmpresizer::Kinds::classic}) {
    bmpresizer::MemorySource source(fine.data(), fine.size());
    Bytes output(4096);
    bmpresizer::MemorySink sink(output.data(), output.size());
    EXPECT_EQ(bmpresizer::resize(source, sink, 2, nullptr, {}, {}, kinds).failure,
              kinds == bmpresizer::Kinds::classic ? Failure::bit_count : Failure::compression);
  }
}

}  // namespace
