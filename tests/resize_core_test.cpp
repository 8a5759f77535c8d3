// The core on byte streams: what it writes where, its progress reports,
// parts written by several callers, and the detailed outcome of refusals
// and failing streams.
#include "bmpresizer_core.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "bmp_testing.h"

namespace {

using bmpresizer::Failure;
using bmptest::Bytes;

// An output that takes bytes only in sequence, as a pipe does: it checks
// that every write's offset continues the last, and can fail its n-th write.
class PipeSink final : public bmpresizer::ByteSink {
 public:
  bool positional() const override { return false; }
  bool write(const bmpresizer::ByteSpan* spans, std::size_t count, std::uint64_t offset,
             int& error) override {
    in_sequence = in_sequence && offset == bytes.size();
    if (++writes == fail_at_write) {
      error = EPIPE;
      return false;
    }
    for (std::size_t i = 0; i < count; ++i) {
      bytes.insert(bytes.end(), spans[i].data, spans[i].data + spans[i].size);
    }
    return true;
  }
  Bytes bytes;
  bool in_sequence = true;
  int writes = 0;
  int fail_at_write = 0;
};

// A source that holds fewer bytes than it says (a file cut short meanwhile),
// or fails every read after the header's.
class FaultySource final : public bmpresizer::ByteSource {
 public:
  FaultySource(const Bytes& image, std::size_t held, int read_error)
      : image_(image), held_(held), read_error_(read_error) {}
  std::uint64_t size() const override { return image_.size(); }
  std::size_t read_at(std::uint64_t offset, void* buffer, std::size_t size, int& error) override {
    if (offset > 0 && read_error_ != 0) {
      error = read_error_;
      return 0;
    }
    bmpresizer::MemorySource real(image_.data(), held_);
    return real.read_at(offset, buffer, size, error);
  }

 private:
  const Bytes& image_;
  std::size_t held_;
  int read_error_;
};

struct Reports {
  std::vector<std::uint64_t> written;
  std::uint64_t total = 0;
};

bool record(void* context, std::uint64_t written, std::uint64_t total) {
  auto* reports = static_cast<Reports*>(context);
  reports->written.push_back(written);
  reports->total = total;
  return true;
}

TEST(Resize, ReportsProgressUpToTheWholeOutput) {
  // 3000 x 40 at factor 3: 40 x 3 rows of 27000 bytes, many writes.
  const Bytes input = bmptest::make_random_bmp(3000, 40, 11);
  const std::uint64_t want_bytes = 54 + 120ull * 27000;
  Bytes output(want_bytes + 100);
  bmpresizer::MemorySource source(input.data(), input.size());
  bmpresizer::MemorySink sink(output.data(), output.size());
  Reports reports;
  const bmpresizer::Progress progress{&record, &reports};
  const bmpresizer::Outcome outcome = bmpresizer::resize(source, sink, 3, &progress);
  ASSERT_TRUE(outcome.ok());
  EXPECT_EQ(outcome.output_bytes, want_bytes);
  EXPECT_EQ(sink.length(), want_bytes);
  EXPECT_EQ(reports.total, want_bytes);
  ASSERT_GT(reports.written.size(), 10u);
  for (std::size_t i = 1; i < reports.written.size(); ++i) {
    EXPECT_LT(reports.written[i - 1], reports.written[i]);
  }
  EXPECT_EQ(reports.written.back(), want_bytes);
  output.resize(sink.length());
  EXPECT_EQ(bmptest::check_enlargement(input, output, 3), "");
}

// The property all the paths through the core share: any image it takes,
// of any kind and bit depth, enlarged by any factors across and down with
// any work buffer (from the smallest to the tool's), whole or in parts
// written in any order, is the input enlarged, as the independent decoder
// reads it, and its parts' progress adds up to the output. Widths are drawn
// around each buffer's size, where the ways through it change; the draws
// are seeded, so a failure names a case that can be run again.
TEST(Resize, AnyImageAnyBufferAnyPartsIsEnlargedExactly) {
  std::mt19937 random(20261209);
  const auto pick = [&random](auto low, auto high) {
    return std::uniform_int_distribution<long long>(low, high)(random);
  };
  const std::size_t buffers[] = {bmpresizer::kMinWorkBytes, 16u << 10, 512u << 10, 1u << 20};
  const std::uint16_t depths[] = {1, 2, 4, 8, 16, 24, 32};
  const std::int32_t factors[] = {1, 2, 3, 5, 7};
  const std::uint32_t part_counts[] = {1, 2, 3, 5};
  std::vector<std::uint8_t> work(std::size_t{1} << 20);
  // Bytes of output in all; fewer under a slow checker (scripts/memcheck.sh).
  const char* const mib = std::getenv("BMPRESIZER_PROPERTY_MIB");
  std::uint64_t budget = (mib != nullptr ? std::strtoull(mib, nullptr, 10) : 200) << 20;
  int cases = 0;
  for (; cases < 400 && budget > 0; ++cases) {
    bmptest::KindedBmp image;
    image.info_size = bmptest::kKindFacts[pick(0, 7)].size;
    image.bits = depths[pick(0, 6)];
    const std::int32_t across = factors[pick(0, 4)];
    const std::int32_t down = factors[pick(0, 4)];
    const auto wide = static_cast<std::uint64_t>(across);
    const auto tall = static_cast<std::uint64_t>(down);
    const std::size_t buffer = buffers[pick(0, 3)];
    // An enlarged row just short of the buffer, at it, or past it; or tiny.
    const std::uint64_t row_bits = buffer * 8 + static_cast<std::uint64_t>(pick(-40, 40));
    const std::uint64_t width =
        pick(0, 3) == 0 ? static_cast<std::uint64_t>(pick(0, 9)) : row_bits / image.bits / wide;
    image.width = static_cast<std::int32_t>(width);
    const bool core = image.info_size == 12;
    if (core && width * wide > 0xFFFF) {
      continue;  // beyond the 16-bit sizes
    }
    image.height = static_cast<std::int32_t>(pick(core ? 0 : -3, 4));
    const auto kind = bmptest::kind_facts(image.info_size);
    image.masks = kind.masks != 0 && (image.bits == 16 || image.bits == 32) && pick(0, 1) == 1;
    image.last_padding = pick(0, 1) == 1;
    image.profile = kind.profile ? static_cast<int>(pick(0, 2)) : 0;
    image.seed = static_cast<std::uint32_t>(cases);
    const std::uint32_t parts = part_counts[pick(0, 3)];
    const Bytes input = bmptest::make_kinded_bmp(image);
    const std::uint64_t rows =
        static_cast<std::uint64_t>(image.height < 0 ? -image.height : image.height);
    const std::uint64_t out_stride = (width * wide * image.bits + 31) / 32 * 4;
    const std::uint64_t out_bytes = input.size() + out_stride * rows * tall + 8;
    if (out_bytes > (std::uint64_t{8} << 20)) {
      continue;  // too large a share of the budget for one case
    }
    if (out_bytes > budget) {
      break;
    }
    budget -= out_bytes;
    const std::string where =
        "case " + std::to_string(cases) + ": " + std::to_string(image.info_size) +
        "-byte header, " + std::to_string(image.bits) + " bits, " + std::to_string(width) + "x" +
        std::to_string(image.height) + " at " + std::to_string(across) + "x" +
        std::to_string(down) + ", buffer " + std::to_string(buffer) + ", " + std::to_string(parts) +
        " parts, profile " + std::to_string(image.profile);
    Bytes output(static_cast<std::size_t>(out_bytes));
    bmpresizer::MemorySource source(input.data(), input.size());
    bmpresizer::MemorySink sink(output.data(), output.size());
    std::uint64_t reported = 0;
    bmpresizer::Outcome outcome;
    // The parts last first, as a slow first thread may leave them.
    for (std::uint32_t k = 0; k < parts && outcome.ok(); ++k) {
      const std::uint32_t index = parts - 1 - k;
      Reports reports;
      const bmpresizer::Progress progress{&record, &reports};
      outcome = bmpresizer::resize(source, sink, {across, down}, &progress, {work.data(), buffer},
                                   bmpresizer::Part{index, parts}, bmpresizer::Kinds::uncompressed);
      reported += reports.written.empty() ? 0 : reports.written.back();
    }
    int error = 0;
    ASSERT_TRUE(outcome.ok() && (parts == 1 || sink.finish(outcome.output_bytes, error)))
        << where << ": failure " << static_cast<int>(outcome.failure);
    output.resize(sink.length());
    ASSERT_EQ(bmptest::check_enlargement(input, output, across, down), "") << where;
    EXPECT_EQ(reported, output.size()) << where;
  }
  EXPECT_GE(cases, mib != nullptr ? 10 : 150) << "too few cases within the budget";
}

// With a caller's large buffer, as the tool and the library lend: each way
// through it enlarges correctly, and a row written many times touches no
// more of it than one write carries (64 spans: four 12 KiB rows at x16),
// however large it is: every page touched is a page fault.
TEST(Resize, UsesALargeBufferOnlyAsFarAsAWriteGoes) {
  struct Shape {
    std::int32_t width, height, factor;
    std::size_t most_touched;  // 0: not checked
  };
  const Shape shapes[] = {{256, 40, 16, 64 << 10}, {1920, 8, 2, 0}, {300, 50, 3, 0}};
  for (const Shape& s : shapes) {
    const Bytes input = bmptest::make_random_bmp(s.width, s.height, 7, 0);
    bmpresizer::MemorySource source(input.data(), input.size());
    PipeSink sink;
    std::vector<std::uint8_t> buffer(std::size_t{1} << 20, 0xA5);
    const std::string shape = std::to_string(s.width) + "x" + std::to_string(s.height) +
                              " factor " + std::to_string(s.factor);
    ASSERT_TRUE(
        bmpresizer::resize(source, sink, s.factor, nullptr, {buffer.data(), buffer.size()}).ok())
        << shape;
    EXPECT_EQ(bmptest::check_enlargement(input, sink.bytes, s.factor), "") << shape;
    if (s.most_touched > 0) {
      const auto untouched =
          std::find_if(buffer.rbegin(), buffer.rend(), [](std::uint8_t b) { return b != 0xA5; });
      EXPECT_LE(static_cast<std::size_t>(buffer.rend() - untouched), s.most_touched) << shape;
    }
  }
}

// A factor so large that one enlarged pixel exceeds the call's own buffer:
// 1.3 GB of output, checked as it goes by instead of kept.
TEST(Resize, StreamsAPixelWiderThanTheBuffer) {
  constexpr std::uint32_t kFactor = 21168;  // 3 x 21168 bytes, a multiple of four
  static_assert(3 * kFactor > bmpresizer::kDefaultWorkBytes, "one pixel must exceed the buffer");
  bmptest::BmpFields fields;
  fields.width = 1;
  fields.height = 1;
  const Bytes input = bmptest::make_bmp(fields, Bytes{0x11, 0x22, 0x33, 0});
  class CheckingSink final : public bmpresizer::ByteSink {
   public:
    bool positional() const override { return false; }
    bool write(const bmpresizer::ByteSpan* spans, std::size_t count, std::uint64_t, int&) override {
      for (std::size_t i = 0; i < count; ++i) {
        // Past the headers, the bytes 11 22 33 over and over.
        for (std::size_t at = 0; at < spans[i].size;) {
          const std::size_t skip = total < 54 ? static_cast<std::size_t>(54 - total) : 0;
          const std::size_t phase = total < 54 ? 0 : static_cast<std::size_t>((total - 54) % 3);
          const std::size_t size = std::min(spans[i].size - at, skip > 0 ? skip : 3000 - phase);
          exact =
              exact && (skip > 0 || std::memcmp(spans[i].data + at, pattern + phase, size) == 0);
          at += size;
          total += size;
        }
      }
      return true;
    }
    std::uint8_t pattern[3000];
    std::uint64_t total = 0;
    bool exact = true;
  } sink;
  for (std::size_t i = 0; i < sizeof sink.pattern; ++i) {
    sink.pattern[i] = static_cast<std::uint8_t>(0x11 * (i % 3 + 1));
  }
  bmpresizer::MemorySource source(input.data(), input.size());
  ASSERT_TRUE(bmpresizer::resize(source, sink, kFactor).ok());
  EXPECT_TRUE(sink.exact);
  EXPECT_EQ(sink.total, 54 + std::uint64_t{3} * kFactor * kFactor);
}

TEST(Resize, SaysWhatItFoundInARefusedFileAndWritesNothing) {
  bmptest::BmpFields fields;
  fields.width = 100;
  fields.height = 100;
  const Bytes input = bmptest::make_bmp(fields, Bytes(1000, 0));
  bmpresizer::MemorySource source(input.data(), input.size());
  PipeSink sink;
  const bmpresizer::Outcome outcome = bmpresizer::resize(source, sink, 2);
  EXPECT_EQ(outcome.failure, Failure::pixels_truncated);
  EXPECT_EQ(outcome.have, 1054u);
  EXPECT_EQ(outcome.want, 54u + 99u * 300u + 300u);  // the last row's padding may be missing
  EXPECT_EQ(sink.writes, 0);
}

// Streams that fail: each ends the call with its own failure and the
// system's error number.
TEST(Resize, FailingStreamsEndTheCall) {
  const Bytes input = bmptest::make_random_bmp(40, 30, 8);
  const struct Case {
    const char* name;
    std::size_t held;  // the bytes the source holds of those it says it has
    int read_error;    // every read after the header's fails so
    int fail_at_write;
    bmpresizer::Part part;
    Failure want;
    int want_error;
  } cases[] = {
      {"read error", input.size(), EIO, 0, {}, Failure::read_failed, EIO},
      {"source shorter than it says", input.size() - 100, 0, 0, {}, Failure::input_shrank, 0},
      {"first write fails", input.size(), 0, 1, {}, Failure::write_failed, EPIPE},
      {"second write fails", input.size(), 0, 2, {}, Failure::write_failed, EPIPE},
      {"a part of a sequential output", input.size(), 0, 0, {1, 2}, Failure::write_failed, EINVAL},
  };
  for (const Case& c : cases) {
    FaultySource source(input, c.held, c.read_error);
    PipeSink sink;
    sink.fail_at_write = c.fail_at_write;
    const bmpresizer::Outcome outcome = bmpresizer::resize(source, sink, 40, nullptr, {}, c.part);
    EXPECT_EQ(outcome.failure, c.want) << c.name;
    EXPECT_EQ(outcome.error, c.want_error) << c.name;
  }
}

using bmptest::concat;
using bmptest::le;
using bmptest::repeat;

// A file header and a 40-byte information header, `colours` in the table.
Bytes headers(std::uint32_t file_size, std::uint32_t offset, std::int32_t width,
              std::int32_t height, int bits, std::uint32_t image_size, std::uint32_t colours) {
  return concat({{'B', 'M'},
                 le(file_size, 4),
                 le(0, 4),
                 le(offset, 4),
                 le(40, 4),
                 le(static_cast<std::uint32_t>(width), 4),
                 le(static_cast<std::uint32_t>(height), 4),
                 le(1, 2),
                 le(static_cast<std::uint32_t>(bits), 2),
                 le(0, 4),
                 le(image_size, 4),
                 le(2835, 4),
                 le(2835, 4),
                 le(colours, 4),
                 le(0, 4)});
}

// Kinds other than the library's, each input and the exact output it must
// give, from the format's rules: pixels of 1, 2 and 4 bits repeated bit by
// bit, the enlarged row ending inside a byte whose other bits are zero, the
// stored rows' unused bits and padding ignored; a V5 profile after the
// pixels; the 16-bit sizes of an OS/2 1.x header.
TEST(Resize, EnlargesOtherKindsIntoTheirOwn) {
  const Bytes two_colours = {0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0};
  // A palette of one colour, all that fits before the pixels: enough.
  const Bytes one_colour = {1, 2, 3, 0};
  const Bytes junk3 = {0xEE, 0xEE, 0xEE};
  // Masks, 'MBED', endpoints and gammas, intent, the profile at 14 + 128 of
  // 4 bytes, reserved.
  const Bytes v5_tail = concat({Bytes(16, 0), le(0x4D424544, 4), Bytes(36 + 12, 0), le(0, 4),
                                le(128, 4), le(4, 4), le(0, 4)});
  const auto v5 = [&](std::uint32_t file_size, std::int32_t side, std::uint32_t image_size,
                      std::uint32_t profile_at) {
    Bytes h = headers(file_size, 138, side, side, 24, image_size, 0);
    h[14] = 124;
    Bytes tail = v5_tail;
    const Bytes at = le(profile_at, 4);
    std::copy(at.begin(), at.end(), tail.end() - 12);
    return concat({h, tail});
  };
  const Bytes os2_palette = {1, 2, 3, 4, 5, 6};
  const auto os2 = [&](std::uint32_t file_size, std::uint16_t width, std::uint16_t height) {
    return concat({{'B', 'M'},
                   le(file_size, 4),
                   le(0, 4),
                   le(32, 4),
                   le(12, 4),
                   le(width, 2),
                   le(height, 2),
                   le(1, 2),
                   le(8, 2),
                   os2_palette});
  };
  const struct Case {
    const char* name;
    Bytes input;
    bmpresizer::Factors factors;
    Bytes want;
  } cases[] = {
      // Pixels 1 0 1 (the rest of the byte junk) at 3: 111000111, in E3 80.
      {"1 bit", concat({headers(0, 62, 3, 1, 1, 4, 2), two_colours, {0xBF}, junk3}), 3,
       concat({headers(74, 62, 9, 3, 1, 12, 2), two_colours, repeat({0xE3, 0x80, 0, 0}, 3)})},
      // 3 1 2 at 2: 11 11 01 01 10 10, in F5 A0.
      {"2 bits", concat({headers(0, 70, 3, -1, 2, 4, 4), two_colours, two_colours, {0xDB}, junk3}),
       2,
       concat({headers(78, 70, 6, -2, 2, 8, 4), two_colours, two_colours,
               repeat({0xF5, 0xA0, 0, 0}, 2)})},
      // A 5 C at 3: AAA555CCC, in AA A5 55 CC C0.
      {"4 bits", concat({headers(0, 58, 3, 1, 4, 4, 0), one_colour, {0xA5, 0xCF}, {0xEE, 0xEE}}), 3,
       concat({headers(82, 58, 9, 3, 4, 24, 0), one_colour,
               repeat({0xAA, 0xA5, 0x55, 0xCC, 0xC0, 0, 0, 0}, 3)})},
      // 1 0 at 20, past the factors that take a table: 20 ones, 20 zeros.
      {"1 bit at 20", concat({headers(0, 62, 2, 1, 1, 4, 2), two_colours, {0xBF}, junk3}), 20,
       concat({headers(222, 62, 40, 20, 1, 160, 2), two_colours,
               repeat({0xFF, 0xFF, 0xF0, 0, 0, 0, 0, 0}, 20)})},
      // 8 bits, a byte per pixel: 7 9 at 2.
      {"8 bits", concat({headers(0, 58, 2, 1, 8, 4, 0), one_colour, {7, 9}, {0xEE, 0xEE}}), 2,
       concat({headers(66, 58, 4, 2, 8, 8, 0), one_colour, repeat({7, 7, 9, 9}, 2)})},
      // The same 3 times across, once down: one row of 7 7 7 9 9 9.
      {"8 bits at 3x1",
       concat({headers(0, 58, 2, 1, 8, 4, 0), one_colour, {7, 9}, {0xEE, 0xEE}}),
       {3, 1},
       concat({headers(66, 58, 6, 1, 8, 8, 0), one_colour, {7, 7, 7, 9, 9, 9, 0, 0}})},
      // Once across, 3 times down: 7 9, three rows.
      {"8 bits at 1x3",
       concat({headers(0, 58, 2, 1, 8, 4, 0), one_colour, {7, 9}, {0xEE, 0xEE}}),
       {1, 3},
       concat({headers(70, 58, 2, 3, 8, 12, 0), one_colour, repeat({7, 9, 0, 0}, 3)})},
      // 1 0 1 twice across, 3 times down: 110011, in CC.
      {"1 bit at 2x3",
       concat({headers(0, 62, 3, 1, 1, 4, 2), two_colours, {0xBF}, junk3}),
       {2, 3},
       concat({headers(74, 62, 6, 3, 1, 12, 2), two_colours, repeat({0xCC, 0, 0, 0}, 3)})},
      // 1 x 1 with a profile after the pixels (and junk after it, dropped):
      // the profile follows the enlarged pixels, its offset moved.
      {"V5 profile", concat({v5(0, 1, 4, 128), {0x11, 0x22, 0x33, 0}, {'I', 'C', 'C', '!'}, {'J'}}),
       2,
       concat({v5(158, 2, 16, 140),
               repeat({0x11, 0x22, 0x33, 0x11, 0x22, 0x33, 0, 0}, 2),
               {'I', 'C', 'C', '!'}})},
      // OS/2 1.x: 16-bit sizes, 3-byte colours, no image size.
      {"OS/2 1.x", concat({os2(0, 2, 1), {5, 6}, {0xEE, 0xEE}}), 2,
       concat({os2(40, 4, 2), repeat({5, 5, 6, 6}, 2)})},
  };
  for (const Case& c : cases) {
    bmpresizer::MemorySource source(c.input.data(), c.input.size());
    PipeSink sink;
    const bmpresizer::Outcome outcome = bmpresizer::resize(source, sink, c.factors, nullptr, {}, {},
                                                           bmpresizer::Kinds::uncompressed);
    EXPECT_TRUE(outcome.ok()) << c.name << ": " << static_cast<int>(outcome.failure);
    EXPECT_EQ(sink.bytes, c.want) << c.name;
  }
  // 40000 x 1 at 2 is more than the 16-bit width holds.
  const Bytes wide = concat({os2(0, 40000, 1), Bytes(40000, 1)});
  bmpresizer::MemorySource source(wide.data(), wide.size());
  PipeSink sink;
  const bmpresizer::Outcome outcome =
      bmpresizer::resize(source, sink, 2, nullptr, {}, {}, bmpresizer::Kinds::uncompressed);
  EXPECT_EQ(outcome.failure, Failure::width_too_large);
  EXPECT_EQ(outcome.have, 65535u);
  EXPECT_EQ(outcome.want, 80000u);
  EXPECT_EQ(sink.writes, 0);
}

}  // namespace
