// The core on byte streams: what it writes where, its progress reports,
// parts written by several callers, and the detailed outcome of refusals
// and failing streams.
#include "bmpresizer_core.h"

#include <gtest/gtest.h>

#include <cerrno>
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

void record(void* context, std::uint64_t written, std::uint64_t total) {
  auto* reports = static_cast<Reports*>(context);
  reports->written.push_back(written);
  reports->total = total;
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

// A sequential output gets the same bytes, in order, at offsets that follow
// each other: short rows copied in the buffer, rows whose copies do not fit
// it, long rows piece by piece, rows of no pixels.
TEST(Resize, WritesASequentialOutputInOrder) {
  const struct Shape {
    std::int32_t width, height, factor;
  } shapes[] = {{5, -3, 2}, {1, 2, 200}, {7000, 2, 3}, {0, 4, 2}};
  for (const Shape& shape : shapes) {
    const Bytes input = bmptest::make_random_bmp(shape.width, shape.height, 4);
    bmpresizer::MemorySource source(input.data(), input.size());
    PipeSink sink;
    ASSERT_TRUE(bmpresizer::resize(source, sink, shape.factor).ok()) << shape.width;
    EXPECT_TRUE(sink.in_sequence) << shape.width;
    EXPECT_EQ(bmptest::check_enlargement(input, sink.bytes, shape.factor), "") << shape.width;
  }
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

// An enlargement in parts, as threads of one caller write it: each part
// writes its own rows at their place, whatever the order the parts run in,
// and together they make the exact image; the parts' progress adds up to
// the output.
TEST(Resize, PartsMakeTheWholeImage) {
  const struct Shape {
    std::int32_t width, height;
    int factor;
    std::uint32_t parts;
  } shapes[] = {
      {301, 17, 3, 2}, {5, 1, 2, 2},     // one row: the first part has none
      {0, 10, 2, 2},   {10, 0, 4, 2},    // no pixels at all
      {9, -7, 2, 3},   {7000, 3, 3, 2},  // top-down; rows longer than the buffer
  };
  for (const Shape& shape : shapes) {
    const Bytes input = bmptest::make_random_bmp(shape.width, shape.height, 21);
    Bytes output(input.size() * static_cast<std::size_t>(shape.factor * shape.factor) + 64);
    bmpresizer::MemorySource source(input.data(), input.size());
    bmpresizer::MemorySink sink(output.data(), output.size());
    std::uint64_t total = 0;
    for (std::uint32_t index = shape.parts; index-- > 0;) {
      Reports reports;
      const bmpresizer::Progress progress{&record, &reports};
      const bmpresizer::Outcome outcome = bmpresizer::resize(
          source, sink, shape.factor, &progress, {}, bmpresizer::Part{index, shape.parts});
      EXPECT_TRUE(outcome.ok()) << shape.width << "x" << shape.height << " part " << index;
      total += reports.total;
    }
    output.resize(sink.length());
    EXPECT_EQ(bmptest::check_enlargement(input, output, shape.factor), "")
        << shape.width << "x" << shape.height << " in " << shape.parts << " parts";
    EXPECT_EQ(total, output.size()) << shape.width << "x" << shape.height;
  }
}

}  // namespace
