// The engine's C API as its users call it: every kind of BMP, factors
// across and down, through every form of source and sink, each output
// checked pixel by pixel by the independent decoder; then what each call
// does when it must refuse, stop or fail.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "bmp_testing.h"
#include "bmpresize.h"

namespace {

using bmptest::Bytes;

// One file of each kind: every header size, every bit depth, palettes,
// masks, top-down rows, a V5 profile.
const char* const kKinds[] = {
    "g/pal1.bmp",    "q/pal2.bmp",         "g/pal4.bmp",      "g/pal8.bmp",
    "g/pal8os2.bmp", "q/pal8os2v2-16.bmp", "q/pal8os2v2.bmp", "g/pal8v4.bmp",
    "g/pal8v5.bmp",  "g/pal8topdown.bmp",  "g/rgb16-565.bmp", "g/rgb24.bmp",
    "g/rgb32bf.bmp", "q/rgb32-111110.bmp", "g/pal8w125.bmp",
};

struct Factors {
  int across, down;
};
const Factors kFactors[] = {{1, 1}, {2, 3}, {3, 1}, {1, 2}, {5, 4}};

// The caller's side of the callbacks: an image in memory read at offsets,
// or in order only, and an output gathered in order.
struct Reading {
  const Bytes* bytes;
  std::size_t position = 0;
};

int64_t read_at(void* context, uint64_t offset, void* buffer, size_t size, int* error) {
  const auto* reading = static_cast<Reading*>(context);
  if (offset > reading->bytes->size()) {
    *error = EINVAL;
    return -1;
  }
  // Short reads on purpose: the engine must ask again.
  const std::size_t n = std::min<std::size_t>(
      {size, static_cast<std::size_t>(reading->bytes->size() - offset), 1000});
  std::memcpy(buffer, reading->bytes->data() + offset, n);
  return static_cast<int64_t>(n);
}

int64_t read_next(void* context, void* buffer, size_t size, int* error) {
  auto* reading = static_cast<Reading*>(context);
  int64_t n = read_at(context, reading->position, buffer, size, error);
  reading->position += static_cast<std::size_t>(n > 0 ? n : 0);
  return n;
}

struct Writing {
  Bytes bytes;
  bool out_of_order = false;
  int fail_with = 0;
};

int write_spans(void* context, const bmpresize_span* spans, size_t count, uint64_t offset) {
  auto* writing = static_cast<Writing*>(context);
  if (writing->fail_with != 0) {
    return writing->fail_with;
  }
  writing->out_of_order = writing->out_of_order || offset != writing->bytes.size();
  for (size_t i = 0; i < count; ++i) {
    const auto* data = static_cast<const std::uint8_t*>(spans[i].data);
    writing->bytes.insert(writing->bytes.end(), data, data + spans[i].size);
  }
  return 0;
}

enum class Form { path, read_at, sequential, memory, read_at_to_path, sequential_to_path };
const char* name_of(Form form) {
  switch (form) {
    case Form::path:
      return "path";
    case Form::read_at:
      return "read_at";
    case Form::sequential:
      return "sequential";
    case Form::read_at_to_path:
      return "read_at into a path";
    case Form::sequential_to_path:
      return "sequential reads into a path";
    default:
      return "memory";
  }
}

// Enlarges `input` in the given form; the output, or empty on failure.
Bytes enlarge(Form form, const Bytes& input, const bmpresize_options& options,
              bmpresize_result& result, const bmptest::TempDir& dir) {
  Reading reading{&input};
  Writing writing;
  const bmpresize_sink sink{&writing, &write_spans};
  switch (form) {
    case Form::path: {
      bmptest::write_file(dir.file("in.bmp"), input);
      std::remove(dir.file("out.bmp").c_str());
      bmpresize_enlarge_file(dir.file("in.bmp").c_str(), dir.file("out.bmp").c_str(), &options,
                             &result);
      return result.error == BMPRESIZE_OK ? bmptest::read_file(dir.file("out.bmp")) : Bytes();
    }
    case Form::read_at: {
      const bmpresize_source source{&reading, &read_at, input.size(), nullptr};
      bmpresize_enlarge_stream(&source, &sink, &options, &result);
      break;
    }
    case Form::sequential: {
      const bmpresize_source source{&reading, nullptr, 0, &read_next};
      bmpresize_enlarge_stream(&source, &sink, &options, &result);
      break;
    }
    case Form::read_at_to_path:
    case Form::sequential_to_path: {
      const bool positional = form == Form::read_at_to_path;
      const bmpresize_source source{&reading, positional ? &read_at : nullptr, input.size(),
                                    positional ? nullptr : &read_next};
      std::remove(dir.file("out.bmp").c_str());
      bmpresize_enlarge_to_file(&source, dir.file("out.bmp").c_str(), &options, &result);
      return result.error == BMPRESIZE_OK ? bmptest::read_file(dir.file("out.bmp")) : Bytes();
    }
    case Form::memory: {
      bmpresize_image image{};
      if (bmpresize_describe(input.data(), input.size(), input.size(), &options, &image, &result) !=
          BMPRESIZE_OK) {
        return Bytes();
      }
      Bytes output(static_cast<std::size_t>(image.output_bytes));
      bmpresize_enlarge_memory(input.data(), input.size(), output.data(), output.size(), &options,
                               &result);
      return result.error == BMPRESIZE_OK ? output : Bytes();
    }
  }
  EXPECT_FALSE(writing.out_of_order);
  return result.error == BMPRESIZE_OK ? writing.bytes : Bytes();
}

TEST(Engine, EnlargesEveryKindByEveryFactorThroughEveryForm) {
  bmptest::TempDir dir;
  std::vector<std::pair<std::string, Bytes>> images;
  for (const char* kind : kKinds) {
    images.emplace_back(kind, bmptest::read_file(bmptest::data_dir() + "/bmpsuite/" + kind));
  }
  // Odd widths, rows of 1 byte and padding, bottom-up and top-down.
  images.emplace_back("random 7x5", bmptest::make_random_bmp(7, 5, 11, 3));
  images.emplace_back("random 1x-3", bmptest::make_random_bmp(1, -3, 12));
  for (const auto& [name, input] : images) {
    ASSERT_FALSE(input.empty()) << name;
    for (const Factors f : kFactors) {
      const bmpresize_options options = bmpresize_default_options(f.across, f.down);
      for (const Form form : {Form::path, Form::read_at, Form::sequential, Form::memory,
                              Form::read_at_to_path, Form::sequential_to_path}) {
        const std::string where = name + " " + std::to_string(f.across) + "x" +
                                  std::to_string(f.down) + " via " + name_of(form);
        bmpresize_result result{};
        const Bytes output = enlarge(form, input, options, result, dir);
        ASSERT_EQ(result.error, BMPRESIZE_OK)
            << where << ": " << bmpresize_error_name(result.error);
        EXPECT_EQ(result.output_bytes, output.size()) << where;
        EXPECT_EQ(bmptest::check_enlargement(input, output, f.across, f.down), "") << where;
      }
    }
  }
}

// Pixels of 1, 2 and 4 bits in rows whose enlargement exceeds the smallest
// work buffer a caller may lend: pieces of whole stored bytes, a last byte
// only partly used, factors of 1, and (at 1 bit) a factor so large that
// one stored byte's enlargement exceeds half the buffer.
TEST(Engine, EnlargesSubBytePixelsInRowsLongerThanTheBuffer) {
  std::vector<std::uint8_t> work(2048);
  for (const std::uint16_t bits : {std::uint16_t{1}, std::uint16_t{2}, std::uint16_t{4}}) {
    bmptest::BmpFields fields;
    fields.width = 20001;  // rows of 2501 bytes and more; the last byte partly used
    fields.height = -2;
    fields.bit_count = bits;
    fields.pixel_offset = 54 + 4 * (1u << bits);
    const std::size_t stride = (20001u * bits + 31) / 32 * 4;
    Bytes pixels(fields.pixel_offset - 54 + 2 * stride);
    std::uint32_t seed = bits;
    for (std::uint8_t& byte : pixels) {
      seed = seed * 1103515245u + 12345u;
      byte = static_cast<std::uint8_t>(seed >> 16);
    }
    const Bytes input = bmptest::make_bmp(fields, pixels);
    for (const Factors f : {Factors{1, 1}, Factors{3, 2}, Factors{bits == 1 ? 1030 : 1, 1}}) {
      bmpresize_options options = bmpresize_default_options(f.across, f.down);
      options.work = work.data();
      options.work_bytes = work.size();
      bmpresize_image image{};
      ASSERT_EQ(
          bmpresize_describe(input.data(), input.size(), input.size(), &options, &image, nullptr),
          BMPRESIZE_OK);
      Bytes output(static_cast<std::size_t>(image.output_bytes));
      bmpresize_result result{};
      bmpresize_enlarge_memory(input.data(), input.size(), output.data(), output.size(), &options,
                               &result);
      const std::string where = std::to_string(bits) + " bits at " + std::to_string(f.across) +
                                "x" + std::to_string(f.down);
      ASSERT_EQ(result.error, BMPRESIZE_OK) << where;
      EXPECT_EQ(bmptest::check_enlargement(input, output, f.across, f.down), "") << where;
    }
  }
}

// A large image into a file goes through two threads; the halves must meet
// exactly, with factors that differ, and the caller hears of both, against
// the whole output, up to its end.
TEST(Engine, TwoThreadsWriteOneFileExactly) {
  bmptest::TempDir dir;
  const Bytes input = bmptest::make_random_bmp(1501, -1001, 5);
  const std::string in = dir.file("in.bmp");
  const std::string out = dir.file("out.bmp");
  bmptest::write_file(in, input);
  struct Heard {
    int reports = 0;
    uint64_t last = 0;
    std::vector<uint64_t> totals;
  } heard;
  bmpresize_options options = bmpresize_default_options(3, 2);
  options.progress = [](void* context, uint64_t written, uint64_t total) {
    auto* h = static_cast<Heard*>(context);
    ++h->reports;
    h->last = written;
    h->totals.push_back(total);
    return 0;
  };
  options.progress_context = &heard;
  bmpresize_result result{};
  ASSERT_EQ(bmpresize_enlarge_file(in.c_str(), out.c_str(), &options, &result), BMPRESIZE_OK);
  const Bytes output = bmptest::read_file(out);
  EXPECT_EQ(bmptest::check_enlargement(input, output, 3, 2), "");
  EXPECT_GT(heard.reports, 1);
  EXPECT_EQ(heard.last, output.size());
  EXPECT_EQ(std::count(heard.totals.begin(), heard.totals.end(), output.size()),
            static_cast<long>(heard.totals.size()));
}

// What the headers tell: the exact output size, before any pixel is read.
TEST(Engine, DescribesFromTheHeadersAlone) {
  const Bytes input = bmptest::read_file(bmptest::data_dir() + "/bmpsuite/g/pal8v5.bmp");
  const bmpresize_options options = bmpresize_default_options(3, 2);
  bmpresize_image image{};
  bmpresize_result result{};
  ASSERT_EQ(bmpresize_describe(input.data(), BMPRESIZE_HEADER_BYTES, BMPRESIZE_UNKNOWN_LENGTH,
                               &options, &image, &result),
            BMPRESIZE_OK);
  // have 127 x 64, 8 bits, a V5 header; want 381 x 128 rows of 384 bytes
  // after the 1146 bytes before the pixels.
  EXPECT_EQ(image.header_size, 124u);
  EXPECT_EQ(image.bits_per_pixel, 8u);
  EXPECT_EQ(image.width, 127u);
  EXPECT_EQ(image.height, 64);
  EXPECT_EQ(image.output_width, 381u);
  EXPECT_EQ(image.output_height, 128);
  EXPECT_EQ(image.output_bytes, 1146u + 384u * 128u);
  EXPECT_EQ(result.output_bytes, image.output_bytes);
  // A file one byte shorter than its last row needs.
  EXPECT_EQ(bmpresize_describe(input.data(), input.size(), image.input_bytes - 1, &options, &image,
                               &result),
            BMPRESIZE_E_PIXELS_TRUNCATED);
  EXPECT_EQ(result.have, result.want - 1);
}

// Refusals come before the first byte is written, wherever the output goes.
TEST(Engine, RefusesBeforeWriting) {
  const Bytes pal8 = bmptest::read_file(bmptest::data_dir() + "/bmpsuite/g/pal8.bmp");
  const Bytes rgb24 = bmptest::make_random_bmp(3, 2, 7);
  bmpresize_options classic = bmpresize_default_options(2, 2);
  classic.kinds = BMPRESIZE_KINDS_CLASSIC;
  bmpresize_options flags = bmpresize_default_options(2, 2);
  flags.flags = 0x80;
  const struct Case {
    const char* what;
    const Bytes* input;
    bmpresize_options options;
    std::size_t capacity;  // of the memory output
    bmpresize_error want;
    uint64_t want_have, want_want;
  } cases[] = {
      {"8 bits, the classic kind only", &pal8, classic, 1 << 20, BMPRESIZE_E_BIT_COUNT, 8, 0},
      {"24 bits, the classic kind", &rgb24, classic, 1 << 20, BMPRESIZE_OK, 0, 0},
      {"across 0", &rgb24, bmpresize_default_options(0, 2), 1 << 20, BMPRESIZE_E_FACTOR_BELOW_ONE,
       0, 0},
      {"down -1", &rgb24, bmpresize_default_options(2, -1), 1 << 20, BMPRESIZE_E_FACTOR_BELOW_ONE,
       0xFFFFFFFF, 0},
      // 3 x 2 pixels at 2 x 3: rows of 18 bytes padded to 20, 6 of them.
      {"buffer one byte short", &rgb24, bmpresize_default_options(2, 3), 54 + 120 - 1,
       BMPRESIZE_E_OUTPUT_BUFFER_SMALL, 54 + 120 - 1, 54 + 120},
      {"buffer just large enough", &rgb24, bmpresize_default_options(2, 3), 54 + 120, BMPRESIZE_OK,
       0, 0},
      {"width beyond 2^31 - 1", &rgb24, bmpresize_default_options(0x2AAAAAAB, 1), 1 << 20,
       BMPRESIZE_E_WIDTH_TOO_LARGE, 0x7FFFFFFF, 0x80000001},
      {"an unknown flag", &rgb24, flags, 1 << 20, BMPRESIZE_E_INVALID_ARGUMENT, 0, 0},
  };
  for (const Case& c : cases) {
    Bytes output(c.capacity, 0xA5);
    bmpresize_result result{};
    bmpresize_enlarge_memory(c.input->data(), c.input->size(), output.data(), output.size(),
                             &c.options, &result);
    EXPECT_EQ(result.error, c.want) << c.what << ": " << bmpresize_error_name(result.error);
    if (c.want != BMPRESIZE_OK) {
      EXPECT_EQ(result.have, c.want_have) << c.what;
      EXPECT_EQ(result.want, c.want_want) << c.what;
      EXPECT_EQ(std::count(output.begin(), output.end(), 0xA5), static_cast<long>(c.capacity))
          << c.what << ": written before the refusal";
    }
    EXPECT_EQ(bmpresize_exit_status(c.want), static_cast<int>(c.want) / 100) << c.what;
  }
  const bmpresize_sink sink{nullptr, &write_spans};
  const bmpresize_source no_reads{nullptr, nullptr, 0, nullptr};
  EXPECT_EQ(bmpresize_enlarge_stream(&no_reads, &sink, nullptr, nullptr),
            BMPRESIZE_E_INVALID_ARGUMENT);
  EXPECT_EQ(bmpresize_enlarge_file(nullptr, "out.bmp", nullptr, nullptr),
            BMPRESIZE_E_INPUT_PATH_INVALID);
}

// A stop asked by the progress callback, or a sink that fails, ends the
// call soon; an existing output file is left as it was, and nothing else
// stays behind.
TEST(Engine, StopsWhenAskedAndLeavesThePathOutputAsItWas) {
  bmptest::TempDir dir;
  const Bytes input = bmptest::make_random_bmp(2000, 300, 9);
  const std::string in = dir.file("in.bmp");
  const std::string out = dir.file("out.bmp");
  bmptest::write_file(in, input);
  const Bytes old{'o', 'l', 'd'};
  for (const unsigned threads : {1u, 0u}) {
    bmptest::write_file(out, old);
    int calls = 0;
    bmpresize_options options = bmpresize_default_options(4, 4);
    options.threads = threads;
    options.progress = [](void* context, uint64_t, uint64_t) {
      return ++*static_cast<int*>(context) >= 2 ? 1 : 0;
    };
    options.progress_context = &calls;
    bmpresize_result result{};
    EXPECT_EQ(bmpresize_enlarge_file(in.c_str(), out.c_str(), &options, &result),
              BMPRESIZE_E_CANCELLED)
        << threads << " threads";
    EXPECT_EQ(calls, 2) << "called on after the stop, " << threads << " threads";
    EXPECT_EQ(bmptest::read_file(out), old);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()),
                            std::filesystem::directory_iterator()),
              2)
        << "a file stayed behind";
  }
  Reading reading{&input};
  Writing writing;
  writing.fail_with = ENOSPC;
  const bmpresize_source source{&reading, &read_at, input.size(), nullptr};
  const bmpresize_sink sink{&writing, &write_spans};
  bmpresize_result result{};
  EXPECT_EQ(bmpresize_enlarge_stream(&source, &sink, nullptr, &result), BMPRESIZE_E_WRITE_FAILED);
  EXPECT_EQ(result.system_error, ENOSPC);
}

// FACTOR as every program on the engine reads it.
TEST(Engine, ReadsFactorsAsTheToolDoes) {
  const struct Case {
    const char* text;
    int want;  // 0: read, 1: no factor, 2: beyond a 32-bit int
    int32_t across, down;
  } cases[] = {
      {"3", 0, 3, 3},
      {"+3", 0, 3, 3},
      {"3x2", 0, 3, 2},
      {"3X2", 0, 3, 2},
      {"-3", 0, -3, -3},
      {"0x1", 0, 0, 1},
      {"2147483647", 0, INT32_MAX, INT32_MAX},
      {"-2147483648x1", 0, INT32_MIN, 1},
      {"2147483648", 2, 0, 0},
      {"-2147483649", 2, 0, 0},
      {"99999999999999999999x2", 2, 0, 0},
      {"2x99999999999999999999", 2, 0, 0},
      {"ax99999999999999999999", 1, 0, 0},
      {"2x", 1, 0, 0},
      {"x2", 1, 0, 0},
      {"2x2x2", 1, 0, 0},
      {"1.5", 1, 0, 0},
      {"", 1, 0, 0},
      {" 3", 1, 0, 0},
      {"3 ", 1, 0, 0},
      {"+", 1, 0, 0},
  };
  for (const Case& c : cases) {
    int32_t across = 7;
    int32_t down = 7;
    bmpresize_result result{};
    const bmpresize_error error = bmpresize_parse_factor(c.text, &across, &down, &result);
    EXPECT_EQ(error, c.want == 0 ? BMPRESIZE_OK : BMPRESIZE_E_INVALID_ARGUMENT) << c.text;
    if (c.want == 0) {
      EXPECT_EQ(across, c.across) << c.text;
      EXPECT_EQ(down, c.down) << c.text;
    } else {
      EXPECT_EQ(result.have, static_cast<uint64_t>(c.want)) << c.text;
      EXPECT_EQ(across, 7) << c.text;
    }
  }
}

// The tool's words for a result, written as snprintf writes: cut to the
// buffer but always ended, the whole length returned.
TEST(Engine, SaysWhatIsWrongInTheToolsWords) {
  bmpresize_result result{};
  result.error = BMPRESIZE_E_PIXELS_TRUNCATED;
  result.have = 100;
  result.want = 118;
  const std::string whole =
      "in.bmp: file is truncated: the header declares 118 bytes, the file has 100";
  char text[80];
  EXPECT_EQ(bmpresize_message(&result, "in.bmp", "out.bmp", text, sizeof text), whole.size());
  EXPECT_EQ(std::string(text), whole);
  char cut[11];
  EXPECT_EQ(bmpresize_message(&result, "in.bmp", "out.bmp", cut, sizeof cut), whole.size());
  EXPECT_EQ(std::string(cut), whole.substr(0, 10));
  result.error = BMPRESIZE_E_OUTPUT_BUFFER_SMALL;
  result.have = 10;
  result.want = 86;
  EXPECT_EQ(std::string(text, bmpresize_message(&result, "in.bmp", "memory", text, sizeof text)),
            "memory: the output buffer holds 10 bytes; the enlarged image needs 86");
  // A path no system call could even try.
  EXPECT_EQ(bmpresize_enlarge_file(nullptr, "out.bmp", nullptr, &result),
            BMPRESIZE_E_INPUT_PATH_INVALID);
  char line[200];
  EXPECT_EQ(std::string(line, bmpresize_message(&result, nullptr, "out.bmp", line, sizeof line)),
            "\"\": cannot open: not a path the system takes (none, too long, or not valid "
            "Unicode)");
  result.error = BMPRESIZE_OK;
  EXPECT_EQ(bmpresize_message(&result, "in.bmp", "out.bmp", text, sizeof text), 0u);
  // Every reason has a name of its own.
  std::vector<std::string> names;
  for (int number = 0; number < 1000; ++number) {
    const std::string name = bmpresize_error_name(static_cast<bmpresize_error>(number));
    if (name != "unknown") {
      names.push_back(name);
    }
  }
  EXPECT_EQ(names.size(), 45u);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(std::unique(names.begin(), names.end()), names.end());
}

}  // namespace
