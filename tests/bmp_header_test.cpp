// Header checks and the derivation of the enlarged headers.
#include "bmp_header.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <ostream>

#include "bmp_testing.h"

namespace {

using bmpresizer::Failure;
using bmptest::BmpFields;
using bmptest::Bytes;

using bmpresizer::Kinds;

struct Header {
  std::uint8_t bytes[bmpresizer::kMaxHeaderBytes] = {};
};

Header header_of(const Bytes& bytes) {
  Header header;
  std::memcpy(header.bytes, bytes.data(), std::min(bytes.size(), sizeof header.bytes));
  return header;
}

Header header_of(const BmpFields& fields) { return header_of(bmptest::make_bmp(fields, {})); }

bmpresizer::Outcome check(const Header& header, std::size_t header_bytes, std::uint64_t file_bytes,
                          bmpresizer::InputLayout& layout, Kinds kinds = Kinds::classic) {
  return bmpresizer::check_input_header(header.bytes, header_bytes, file_bytes, kinds, layout);
}

BmpFields sized(std::int32_t width, std::int32_t height) {
  BmpFields fields;
  fields.width = width;
  fields.height = height;
  return fields;
}

// Worked examples, computed by hand from the format's rules.
struct Derivation {
  std::int32_t width, height, factor;
  std::int32_t want_width, want_height;
  std::uint32_t want_image_size, want_file_size;
};

// gtest prints parameters in failure messages; say what the case is rather
// than dumping its bytes.
void PrintTo(const Derivation& d, std::ostream* os) {
  *os << d.width << "x" << d.height << " factor " << d.factor;
}

class DeriveTest : public ::testing::TestWithParam<Derivation> {};

TEST_P(DeriveTest, RewritesExactlyTheFourSizeFields) {
  const Derivation& d = GetParam();
  BmpFields fields = sized(d.width, d.height);
  fields.file_size = 999999;  // wrong on purpose: must be replaced
  fields.image_size = 0;      // allowed for uncompressed images
  fields.planes = 3;          // not checked, copied
  fields.reserved2 = 0xBEEF;
  const Header in = header_of(fields);
  bmpresizer::InputLayout layout;
  ASSERT_EQ(check(in, 54, 1u << 30, layout).failure, Failure::none);

  Header out;
  bmpresizer::OutputLayout out_layout;
  ASSERT_EQ(
      bmpresizer::derive_output_header(in.bytes, layout, d.factor, {}, 0, out.bytes, out_layout)
          .failure,
      Failure::none);
  BmpFields want = fields;
  want.width = d.want_width;
  want.height = d.want_height;
  want.image_size = d.want_image_size;
  want.file_size = d.want_file_size;
  const Header expected = header_of(want);
  EXPECT_EQ(Bytes(out.bytes, out.bytes + 54), Bytes(expected.bytes, expected.bytes + 54));
  EXPECT_EQ(out_layout.file_bytes, d.want_file_size);
}

INSTANTIATE_TEST_SUITE_P(
    WorkedExamples, DeriveTest,
    ::testing::Values(Derivation{1, 2, 2, 2, 4, 32, 86}, Derivation{3, -2, 3, 9, -6, 168, 222},
                      Derivation{4, 1, 1, 4, 1, 12, 66}, Derivation{5, 3, 2, 10, 6, 192, 246},
                      Derivation{0, 5, 7, 0, 35, 0, 54}, Derivation{6, 0, 3, 18, 0, 0, 54},
                      Derivation{1, 1, 1, 1, 1, 4, 58},
                      // The widest and the highest enlargements a BMP holds,
                      // at no cost: the other side is 0. (One more is
                      // refused: see TooLargeTest.)
                      Derivation{0x7FFFFFFF, 0, 1, 0x7FFFFFFF, 0, 0, 54},
                      Derivation{1, 0, 0x7FFFFFFF, 0x7FFFFFFF, 0, 0, 54},
                      Derivation{0, 0x7FFFFFFF, 1, 0, 0x7FFFFFFF, 0, 54},
                      Derivation{0, -1, 0x7FFFFFFF, 0, -0x7FFFFFFF, 0, 54}));

// Every check, each with a file that fails only that one.
struct Refusal {
  const char* name;
  BmpFields fields;
  std::size_t header_bytes;
  std::uint64_t file_bytes;
  Failure want;
  std::uint64_t want_have;
  Kinds kinds = Kinds::classic;
  void (*poke)(Header&) = nullptr;  // bytes beyond the 40-byte header's fields
};

BmpFields with(BmpFields fields, void (*change)(BmpFields&)) {
  change(fields);
  return fields;
}

void PrintTo(const Refusal& r, std::ostream* os) { *os << r.name; }

class CheckTest : public ::testing::TestWithParam<Refusal> {};

TEST_P(CheckTest, RefusesWithTheFailingCheck) {
  const Refusal& r = GetParam();
  Header header = header_of(r.fields);
  if (r.poke != nullptr) {
    r.poke(header);
  }
  bmpresizer::InputLayout layout;
  const bmpresizer::Outcome outcome = check(header, r.header_bytes, r.file_bytes, layout, r.kinds);
  EXPECT_EQ(outcome.failure, r.want) << r.name;
  EXPECT_EQ(outcome.have, r.want_have) << r.name;
}

const BmpFields k2x2 = sized(2, 2);  // needs 54 + 8 + 6 = 68 bytes

INSTANTIATE_TEST_SUITE_P(
    EachCheck, CheckTest,
    ::testing::Values(
        Refusal{"signature BA", with(k2x2, [](BmpFields& f) { f.type = 0x4142; }), 54, 68,
                Failure::not_bmp, 0x4142},
        Refusal{"empty file", k2x2, 0, 0, Failure::not_bmp, 0},
        Refusal{"53 bytes", k2x2, 53, 53, Failure::header_truncated, 53},
        Refusal{"V4 header", with(k2x2, [](BmpFields& f) { f.info_size = 108; }), 54, 68,
                Failure::info_header_size, 108},
        Refusal{"V5 header", with(k2x2, [](BmpFields& f) { f.info_size = 124; }), 54, 68,
                Failure::info_header_size, 124},
        Refusal{"8 bits", with(k2x2, [](BmpFields& f) { f.bit_count = 8; }), 54, 68,
                Failure::bit_count, 8},
        Refusal{"32 bits", with(k2x2, [](BmpFields& f) { f.bit_count = 32; }), 54, 68,
                Failure::bit_count, 32},
        Refusal{"RLE8", with(k2x2, [](BmpFields& f) { f.compression = 1; }), 54, 68,
                Failure::compression, 1},
        Refusal{"bitfields", with(k2x2, [](BmpFields& f) { f.compression = 3; }), 54, 68,
                Failure::compression, 3},
        Refusal{"colour table", with(k2x2, [](BmpFields& f) { f.pixel_offset = 1078; }), 54, 68,
                Failure::pixel_offset, 1078},
        Refusal{"offset 53", with(k2x2, [](BmpFields& f) { f.pixel_offset = 53; }), 54, 68,
                Failure::pixel_offset, 53},
        Refusal{"negative width", sized(-2, 2), 54, 68, Failure::negative_width, 0xFFFFFFFE},
        Refusal{"one byte short", k2x2, 54, 67, Failure::pixels_truncated, 67},
        Refusal{"rows but no pixels", k2x2, 54, 54, Failure::pixels_truncated, 54},
        Refusal{"huge declared size", sized(0x7FFFFFFF, 0x7FFFFFFF), 54, 100,
                Failure::pixels_truncated, 100},
        Refusal{"INT32_MIN rows", sized(1, INT32_MIN), 54, 1000, Failure::pixels_truncated, 1000},
        // Every uncompressed kind: a palette image needs its palette; masks
        // go with 16 and 32 bits; a profile may not lie over the headers.
        Refusal{"8 bits, no room for a palette", with(k2x2, [](BmpFields& f) { f.bit_count = 8; }),
                54, 100, Failure::palette_missing, 8, Kinds::uncompressed},
        Refusal{"8 bits, 3 colours declared, room for 2",
                with(k2x2,
                     [](BmpFields& f) {
                       f.bit_count = 8;
                       f.colours_used = 3;
                       f.pixel_offset = 54 + 8;
                     }),
                54, 100, Failure::color_table, 3, Kinds::uncompressed},
        Refusal{"bit fields at 24 bits",
                with(k2x2,
                     [](BmpFields& f) {
                       f.compression = 3;
                       f.pixel_offset = 54 + 12;
                     }),
                54, 100, Failure::masks_bit_count, 24, Kinds::uncompressed},
        Refusal{"V5 profile over the headers",
                with(k2x2,
                     [](BmpFields& f) {
                       f.info_size = 124;
                       f.pixel_offset = 138;
                     }),
                138, 200, Failure::profile_offset, 0, Kinds::uncompressed, [](Header& h) {
                  const Bytes space = bmptest::le(0x4D424544, 4);  // 'MBED'
                  const Bytes size = bmptest::le(124, 4);
                  std::copy(space.begin(), space.end(), h.bytes + 70);
                  std::copy(size.begin(), size.end(), h.bytes + 130);  // at 14 + 0
                }}));

// What the classic kind takes, every kind takes, and reads alike: a colour
// table declared beside 24-bit pixels without room for it is ignored; a
// palette that fits, even short of 2^bits entries, is enough.
TEST(CheckInputHeader, EveryKindTakesWhatTheClassicKindTakes) {
  BmpFields declared = sized(2, 2);
  declared.colours_used = 33;
  bmpresizer::InputLayout classic;
  bmpresizer::InputLayout every;
  ASSERT_TRUE(check(header_of(declared), 54, 68, classic).ok());
  ASSERT_TRUE(check(header_of(declared), 54, 68, every, Kinds::uncompressed).ok());
  EXPECT_EQ(every.prefix_bytes, classic.prefix_bytes);
  EXPECT_EQ(every.needed_bytes, classic.needed_bytes);
  BmpFields short_palette = sized(2, 2);
  short_palette.bit_count = 8;
  short_palette.pixel_offset = 54 + 4;  // one colour of 256
  EXPECT_TRUE(check(header_of(short_palette), 54, 100, every, Kinds::uncompressed).ok());
}

// A header wrong in every way is refused for its signature; put right one
// field at a time, it is refused for the next check in order.
TEST(CheckInputHeader, ChecksInTheirOrder) {
  BmpFields f = sized(-2, 2);
  f.type = 0x4142;
  f.info_size = 108;
  f.bit_count = 32;
  f.compression = 3;
  f.pixel_offset = 1078;
  const struct Step {
    void (*fix)(BmpFields&);
    Failure want;
  } steps[] = {
      {[](BmpFields&) {}, Failure::not_bmp},
      {[](BmpFields& x) { x.type = 0x4D42; }, Failure::info_header_size},
      {[](BmpFields& x) { x.info_size = 40; }, Failure::bit_count},
      {[](BmpFields& x) { x.bit_count = 24; }, Failure::compression},
      {[](BmpFields& x) { x.compression = 0; }, Failure::pixel_offset},
      {[](BmpFields& x) { x.pixel_offset = 54; }, Failure::negative_width},
      {[](BmpFields& x) { x.width = 2; }, Failure::pixels_truncated},  // 2 x 2 needs 68 bytes
      {[](BmpFields& x) { x.height = 1; }, Failure::none},
  };
  for (const Step& step : steps) {
    step.fix(f);
    const Header header = header_of(f);
    bmpresizer::InputLayout layout;
    EXPECT_EQ(check(header, 54, 62, layout).failure, step.want) << static_cast<int>(step.want);
  }
}

TEST(CheckInputHeader, AcceptsAMissingLastRowPadding) {
  // 2 x 2: the first row needs its 2 padding bytes, the last one need not.
  const Header header = header_of(sized(2, 2));
  bmpresizer::InputLayout layout;
  EXPECT_TRUE(check(header, 54, 54 + 8 + 6, layout).ok());
  EXPECT_EQ(layout.rows, 2u);
  EXPECT_EQ(layout.row_bytes, 8u);
}

TEST(CheckInputHeader, AcceptsZeroWidthWithAnyHeight) {
  const Header header = header_of(sized(0, INT32_MIN));
  bmpresizer::InputLayout layout;
  EXPECT_TRUE(check(header, 54, 54, layout).ok());
  EXPECT_TRUE(layout.top_down);
  EXPECT_EQ(layout.rows, 0x80000000u);
}

// Enlargements the format cannot hold, with their limits worked out by hand.
struct TooLarge {
  const char* name;
  std::int32_t width, height, factor;
  Failure want;
  std::uint64_t want_value;
};

void PrintTo(const TooLarge& t, std::ostream* os) { *os << t.name; }

class TooLargeTest : public ::testing::TestWithParam<TooLarge> {};

TEST_P(TooLargeTest, IsRefused) {
  const TooLarge& t = GetParam();
  const Header header = header_of(sized(t.width, t.height));
  bmpresizer::InputLayout layout;
  ASSERT_TRUE(check(header, 54, UINT64_MAX / 2, layout).ok()) << t.name;
  Header out;
  bmpresizer::OutputLayout out_layout;
  const bmpresizer::Outcome outcome = bmpresizer::derive_output_header(
      header.bytes, layout, t.factor, {}, 0, out.bytes, out_layout);
  EXPECT_EQ(outcome.failure, t.want) << t.name;
  if (t.want == Failure::factor_below_one) {
    EXPECT_EQ(outcome.have, static_cast<std::uint32_t>(t.want_value)) << t.name;
  } else {
    EXPECT_EQ(outcome.want, t.want_value) << t.name;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Limits, TooLargeTest,
    ::testing::Values(
        TooLarge{"factor 0", 2, 2, 0, Failure::factor_below_one, 0},
        TooLarge{"factor -1", 2, 2, -1, Failure::factor_below_one, 0xFFFFFFFF},
        TooLarge{"factor INT32_MIN", 2, 2, INT32_MIN, Failure::factor_below_one, 0x80000000},
        TooLarge{"width 2^30 x 2", 0x40000000, 0, 2, Failure::width_too_large, 0x80000000},
        TooLarge{"height 2^30 x 2", 0, 0x40000000, 2, Failure::height_too_large, 0x80000000},
        TooLarge{"top-down 2^30 x 2", 0, -0x40000000, 2, Failure::height_too_large, 0x80000000},
        TooLarge{"INT32_MIN rows x 1", 0, INT32_MIN, 1, Failure::height_too_large, 0x80000000},
        // 21845 pixels: 65535 bytes + 1 padding = 65536 per row; 65536 rows
        // make 2^32 bytes of pixels, over the 32-bit bfSize.
        TooLarge{"just over 4 GiB", 21845, 65536, 1, Failure::file_too_large, 4294967296ull + 54},
        TooLarge{"5 GiB", 20000, 20000, 3, Failure::file_too_large, 54ull + 180000ull * 60000ull}));

TEST(DeriveOutputHeader, AcceptsTheLargestFileThatFits) {
  // 65535 rows of 65536 bytes: 4294901760 + 54 bytes, under 4 GiB - 1.
  const Header header = header_of(sized(21845, -65535));
  bmpresizer::InputLayout layout;
  ASSERT_TRUE(check(header, 54, UINT64_MAX / 2, layout).ok());
  Header out;
  bmpresizer::OutputLayout out_layout;
  ASSERT_TRUE(
      bmpresizer::derive_output_header(header.bytes, layout, 1, {}, 0, out.bytes, out_layout).ok());
  EXPECT_EQ(out_layout.file_bytes, 4294901814u);
  EXPECT_EQ(Bytes(out.bytes + 2, out.bytes + 6), (Bytes{0x36, 0x00, 0xFF, 0xFF}));
  EXPECT_EQ(Bytes(out.bytes + 22, out.bytes + 26), (Bytes{0x01, 0x00, 0xFF, 0xFF}));  // -65535
}

}  // namespace

// ---- Every kind of header, every bit depth, at each limit -----------------

bmpresizer::Outcome check_sample(const Bytes& bytes, std::uint64_t file_bytes,
                                 bmpresizer::InputLayout& layout) {
  return check(header_of(bytes), std::min<std::size_t>(bytes.size(), bmpresizer::kMaxHeaderBytes),
               file_bytes, layout, Kinds::uncompressed);
}

// Every kind x bit depth x masks x last padding there or not x a profile in
// a gap, after the pixels or none: accepted and enlarged exactly (checked
// by the independent decoder); then each limit one past its value refused
// with the check that guards it.
TEST(HeaderKinds, EveryKindAtEachLimit) {
  int samples = 0;
  for (const bmptest::KindFacts& kind : bmptest::kKindFacts) {
    for (const int depth : {1, 2, 4, 8, 16, 24, 32}) {
      const auto bits = static_cast<std::uint16_t>(depth);
      for (const bool masks : {false, true}) {
        if (masks && (kind.masks == 0 || (bits != 16 && bits != 32))) {
          continue;
        }
        for (const bool last_padding : {false, true}) {
          for (int profile = 0; profile <= (kind.profile ? 2 : 0); ++profile) {
            bmptest::KindedBmp s{kind.size, bits, 5, 3, masks, last_padding, profile};
            const Bytes bytes = bmptest::make_kinded_bmp(s);
            const std::string where = std::to_string(kind.size) + "-byte header, " +
                                      std::to_string(bits) + " bits" + (masks ? ", masks" : "") +
                                      (last_padding ? "" : ", no last padding") +
                                      (profile == 1   ? ", profile before the pixels"
                                       : profile == 2 ? ", profile after them"
                                                      : "");
            ++samples;
            bmpresizer::InputLayout layout;
            ASSERT_TRUE(check_sample(bytes, bytes.size(), layout).ok()) << where;
            bmpresizer::MemorySource source(bytes.data(), bytes.size());
            Bytes out(bytes.size() * 6 + 64);
            bmpresizer::MemorySink sink(out.data(), out.size());
            ASSERT_TRUE(
                bmpresizer::resize(source, sink, {2, 3}, nullptr, {}, {}, Kinds::uncompressed).ok())
                << where;
            out.resize(sink.length());
            EXPECT_EQ(bmptest::check_enlargement(bytes, out, 2, 3), "") << where;

            // One byte short of the last row (or of a profile after it).
            const std::uint64_t needed = profile == 2 ? bytes.size() : s.rows_end;
            EXPECT_EQ(check_sample(bytes, needed - 1, layout).failure, Failure::pixels_truncated)
                << where;
            // The pixels one byte into the table (or, without one, the
            // headers and masks).
            Bytes early = bytes;
            bmptest::put_le(early, 10, s.tables_end - 1, 4);
            const Failure want_early = bits > 8       ? Failure::pixel_offset
                                       : kind.counted ? Failure::color_table
                                                      : Failure::none;  // one colour fewer
            EXPECT_EQ(check_sample(early, early.size(), layout).failure, want_early) << where;
            if (bits <= 8 && !kind.counted) {
              // Without a count the table is what fits: one entry is
              // enough, a byte less is none.
              const std::uint64_t entry = kind.core ? 3 : 4;
              Bytes one = bytes;
              bmptest::put_le(one, 10, s.tables_end - entry, 4);
              EXPECT_TRUE(check_sample(one, one.size(), layout).ok()) << where;
              bmptest::put_le(one, 10, s.tables_end - entry - 1, 4);
              EXPECT_EQ(check_sample(one, one.size(), layout).failure, Failure::palette_missing)
                  << where;
            }
            if (profile == 2) {
              // A profile one byte into the last row.
              Bytes over = bytes;
              bmptest::put_le(over, 126, s.rows_end - 1 - 14, 4);
              EXPECT_EQ(check_sample(over, over.size(), layout).failure, Failure::profile_offset)
                  << where;
            }
            if (profile == 1) {
              // A profile one byte into the colour table, or the headers.
              Bytes over = bytes;
              bmptest::put_le(over, 126, s.tables_end - 1 - 14, 4);
              EXPECT_EQ(check_sample(over, over.size(), layout).failure, Failure::profile_offset)
                  << where;
            }
          }
        }
      }
      if (kind.masks == 0 && kind.has_compression) {
        // OS/2 2.x: 3 is Huffman 1D, not masks.
        bmptest::KindedBmp s{kind.size, bits, 5, 3, false, true, 0};
        Bytes huffman = bmptest::make_kinded_bmp(s);
        bmptest::put_le(huffman, 30, 3, 4);
        bmpresizer::InputLayout layout;
        EXPECT_EQ(check_sample(huffman, huffman.size(), layout).failure, Failure::compression)
            << kind.size << "-byte header, compression 3 at " << bits << " bits";
      }
      if (kind.masks != 0 && bits != 16 && bits != 32) {
        bmptest::KindedBmp s{kind.size, bits, 5, 3, false, true, 0};
        Bytes masked = bmptest::make_kinded_bmp(s);
        bmptest::put_le(masked, 30, 3, 4);
        bmpresizer::InputLayout layout;
        EXPECT_EQ(check_sample(masked, masked.size(), layout).failure, Failure::masks_bit_count)
            << kind.size << "-byte header, masks at " << bits << " bits";
      }
    }
  }
  // 8 kinds x 7 depths x 2, the V5 header's thrice for its profiles; masks
  // at 16 and 32 bits in the 5 kinds that have them.
  EXPECT_EQ(samples, (7 * 7 + 7 * 3) * 2 + (4 * 2 + 2 * 3) * 2);
}

// The 12-byte header's 16-bit sizes: 65535 pixels across fit, 65536 do not.
TEST(HeaderKinds, SixteenBitSizesAtTheirLimit) {
  for (const std::int32_t across : {13107, 13108}) {  // 5 x 13107 = 65535
    bmptest::KindedBmp s{12, 24, 5, 3, false, true, 0};
    const Bytes bytes = bmptest::make_kinded_bmp(s);
    bmpresizer::InputLayout layout;
    ASSERT_TRUE(check_sample(bytes, bytes.size(), layout).ok());
    Header out;
    bmpresizer::OutputLayout out_layout;
    EXPECT_EQ(bmpresizer::derive_output_header(header_of(bytes).bytes, layout, {across, 1}, {}, 0,
                                               out.bytes, out_layout)
                  .failure,
              across == 13107 ? Failure::none : Failure::width_too_large);
  }
}
