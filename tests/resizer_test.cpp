// BMPResizer as a host calls it: exact output bytes for the worked examples,
// and every result code (the core's own tests enlarge the many shapes).
#include <gtest/gtest.h>

#include <ostream>
#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "bmp_testing.h"
#include "bmpresizer.h"
#include "bmpresizer_core.h"

namespace {

using bmptest::BmpFields;
using bmptest::Bytes;
using bmptest::TempDir;

using bmptest::concat;
using bmptest::repeat;

BmpFields fields_of(std::int32_t width, std::int32_t height, std::uint32_t image_size,
                    std::uint32_t file_size) {
  BmpFields fields;
  fields.width = width;
  fields.height = height;
  fields.image_size = image_size;
  fields.file_size = file_size;
  return fields;
}

int resize(const std::string& in, const std::string& out, int factor) {
  return BMPResizer(bmptest::widen(in).c_str(), bmptest::widen(out).c_str(), factor);
}

// Hand-written inputs and the exact files they must give.
struct Exact {
  const char* name;
  Bytes input;
  int factor;
  Bytes want;
};

void PrintTo(const Exact& e, std::ostream* os) { *os << e.name; }

class ExactOutputTest : public ::testing::TestWithParam<Exact> {};

TEST_P(ExactOutputTest, WritesExactlyTheseBytes) {
  const Exact& e = GetParam();
  TempDir dir;
  bmptest::write_file(dir.file("in.bmp"), e.input);
  ASSERT_EQ(resize(dir.file("in.bmp"), dir.file("out.bmp"), e.factor), BMPRESIZER_SUCCESS);
  EXPECT_EQ(bmptest::read_file(dir.file("out.bmp")), e.want) << e.name;
}

const Bytes P0{0x01, 0x02, 0x03}, P1{0x0A, 0x0B, 0x0C};
const Bytes A{0x10, 0x11, 0x12}, B{0x20, 0x21, 0x22}, C{0x30, 0x31, 0x32};
const Bytes D{0x40, 0x41, 0x42}, E{0x50, 0x51, 0x52}, F{0x60, 0x61, 0x62};
const Bytes G{0x70, 0x71, 0x72}, H{0x80, 0x81, 0x82};
const Bytes junk1{0xEE}, junk2{0xEE, 0xEE}, junk3{0xEE, 0xEE, 0xEE};
const Bytes zero1{0}, zero2{0, 0};

INSTANTIATE_TEST_SUITE_P(
    WorkedExamples, ExactOutputTest,
    ::testing::Values(
        // 1 x 2, factor 2: four rows of 8 bytes, 86 bytes in all.
        Exact{"1x2 factor 2",
              bmptest::make_bmp(fields_of(1, 2, 8, 62), concat({P0, junk1, P1, junk1})), 2,
              bmptest::make_bmp(fields_of(2, 4, 32, 86), concat({P0, P0, zero2, P0, P0, zero2, P1,
                                                                 P1, zero2, P1, P1, zero2}))},
        // 3 wide, 2 high top-down, factor 3: rows stay in stored order and
        // the height stays negative; the last row's padding is missing.
        Exact{"3x-2 factor 3",
              bmptest::make_bmp(fields_of(3, -2, 0, 0), concat({A, B, C, junk3, D, E, F})), 3,
              bmptest::make_bmp(fields_of(9, -6, 168, 222),
                                concat({repeat(concat({A, A, A, B, B, B, C, C, C, zero1}), 3),
                                        repeat(concat({D, D, D, E, E, E, F, F, F, zero1}), 3)}))},
        // Factor 1: the same rows, but padding zeroed and trailing bytes
        // dropped; bfSize and biSizeImage corrected.
        Exact{"2x2 factor 1",
              bmptest::make_bmp(fields_of(2, 2, 1234, 5678),
                                concat({G, H, junk2, H, G, junk2, Bytes{1, 2, 3, 4, 5}})),
              1, bmptest::make_bmp(fields_of(2, 2, 16, 70), concat({G, H, zero2, H, G, zero2}))},
        // 4 x 1: no padding in input or output.
        Exact{"4x1 factor 1", bmptest::make_bmp(fields_of(4, 1, 0, 0), concat({A, B, C, D})), 1,
              bmptest::make_bmp(fields_of(4, 1, 12, 66), concat({A, B, C, D}))},
        // Zero height, zero width: headers alone.
        Exact{"3x0 factor 5", bmptest::make_bmp(fields_of(3, 0, 0, 0), {}), 5,
              bmptest::make_bmp(fields_of(15, 0, 0, 54), {})},
        Exact{"0x4 factor 2", bmptest::make_bmp(fields_of(0, 4, 0, 0), {}), 2,
              bmptest::make_bmp(fields_of(0, 8, 0, 54), {})}));

TEST(Enlargement, EnlargesTheSuiteImage) {
  TempDir dir;
  const std::string in = bmptest::data_dir() + "/bmpsuite/g/rgb24.bmp";
  for (int factor : {1, 2, 3, 6}) {
    ASSERT_EQ(resize(in, dir.file("out.bmp"), factor), BMPRESIZER_SUCCESS);
    EXPECT_EQ(bmptest::check_enlargement(bmptest::read_file(in),
                                         bmptest::read_file(dir.file("out.bmp")), factor),
              "")
        << "factor " << factor;
  }
}

// The result codes and what each leaves behind.
class ResultCodes : public ::testing::Test {
 protected:
  void SetUp() override {
    good_ = bmptest::make_random_bmp(5, 3, 42);
    bmptest::write_file(dir_.file("in.bmp"), good_);
    bmptest::write_file(dir_.file("existing.bmp"), Bytes{'o', 'l', 'd'});
  }

  // Calls BMPResizer with raw wide strings and returns its code and what it
  // printed.
  std::pair<int, std::string> call(const wchar_t* in, const wchar_t* out, int factor) {
    bmptest::StdoutCapture capture;
    const int code = BMPResizer(in, out, factor);
    return {code, capture.finish()};
  }
  std::pair<int, std::string> call(const std::string& in, const std::string& out, int factor) {
    return call(bmptest::widen(in).c_str(), bmptest::widen(out).c_str(), factor);
  }

  void expect_input_untouched() { EXPECT_EQ(bmptest::read_file(dir_.file("in.bmp")), good_); }

  TempDir dir_;
  Bytes good_;
};

TEST_F(ResultCodes, MissingInputPrintsAndLeavesTheOutputAlone) {
  const auto [code, printed] = call(dir_.file("missing.bmp"), dir_.file("existing.bmp"), 2);
  EXPECT_EQ(code, BMPRESIZER_CANNOT_OPEN_INPUT);
  EXPECT_EQ(printed, "Could not open " + dir_.file("missing.bmp") + ".\n");
  EXPECT_EQ(bmptest::read_file(dir_.file("existing.bmp")), (Bytes{'o', 'l', 'd'}));
  const auto second = call(dir_.file("missing.bmp"), dir_.file("new.bmp"), 2);
  EXPECT_EQ(second.first, BMPRESIZER_CANNOT_OPEN_INPUT);
  EXPECT_FALSE(bmptest::file_exists(dir_.file("new.bmp")));
  // What the host has buffered comes first.
  bmptest::StdoutCapture capture;
  std::printf("host says: ");
  EXPECT_EQ(resize(dir_.file("missing.bmp"), dir_.file("new.bmp"), 2),
            BMPRESIZER_CANNOT_OPEN_INPUT);
  EXPECT_EQ(capture.finish(), "host says: Could not open " + dir_.file("missing.bmp") + ".\n");
}

// Longer than any path a file system takes (PATH_MAX is 4096 on Linux).
constexpr std::size_t kOverlongName = 5000;

TEST_F(ResultCodes, InputsThatCannotBeOpened) {
  const std::string long_name = dir_.path() + "/" + std::string(kOverlongName, 'a');
  const std::wstring long_wide = bmptest::widen(long_name);
  const wchar_t lone_surrogate[] = {L'a', static_cast<wchar_t>(0xD800), L'\0'};
  const wchar_t beyond_unicode[] = {static_cast<wchar_t>(0x110000), L'\0'};
  const std::wstring out = bmptest::widen(dir_.file("existing.bmp"));
  struct Case {
    const char* name;
    const wchar_t* input;
    std::string printed;
  } cases[] = {
      {"a directory", nullptr, "Could not open " + dir_.path() + ".\n"},
      {"a null pointer", nullptr, "Could not open .\n"},
      {"an empty path", L"", "Could not open .\n"},
#ifdef _WIN32
      // Windows opens the UTF-16 path as it is; the console shows what the
      // ANSI code page makes of it.
      {"a lone surrogate", lone_surrogate, "Could not open a?.\n"},
#else
      {"a lone surrogate", lone_surrogate, "Could not open .\n"},
#endif
      {"a value above U+10FFFF", beyond_unicode, "Could not open .\n"},
  };
  const std::wstring dir_wide = bmptest::widen(dir_.path());
  cases[0].input = dir_wide.c_str();
  for (const Case& c : cases) {
    const auto [code, printed] = call(c.input, out.c_str(), 2);
    EXPECT_EQ(code, BMPRESIZER_CANNOT_OPEN_INPUT) << c.name;
    EXPECT_EQ(printed, c.printed) << c.name;
  }
  // Too long for any file system: refused, the whole path shown.
  const auto [code, printed] = call(long_wide.c_str(), out.c_str(), 2);
  EXPECT_EQ(code, BMPRESIZER_CANNOT_OPEN_INPUT);
  EXPECT_EQ(printed, "Could not open " + long_name + ".\n");
  EXPECT_EQ(bmptest::read_file(dir_.file("existing.bmp")), (Bytes{'o', 'l', 'd'}));
}

TEST_F(ResultCodes, UnreadableInput) {
#ifdef _WIN32
  GTEST_SKIP() << "no permission bits on Windows";
#else
  if (geteuid() == 0) {
    GTEST_SKIP() << "root reads every file";
  }
  bmptest::write_file(dir_.file("secret.bmp"), good_);
  chmod(dir_.file("secret.bmp").c_str(), 0);
  EXPECT_EQ(call(dir_.file("secret.bmp"), dir_.file("out.bmp"), 2).first,
            BMPRESIZER_CANNOT_OPEN_INPUT);
#endif
}

TEST_F(ResultCodes, OutputsThatCannotBeOpened) {
#ifdef _WIN32
  // A symbolic link needs a privilege there; a hard link does not.
  const bool have_symbolic_link = false;
  ASSERT_TRUE(CreateHardLinkA(dir_.file("hard.bmp").c_str(), dir_.file("in.bmp").c_str(), nullptr));
#else
  const bool have_symbolic_link = true;
  ASSERT_EQ(symlink(dir_.file("in.bmp").c_str(), dir_.file("soft.bmp").c_str()), 0);
  ASSERT_EQ(link(dir_.file("in.bmp").c_str(), dir_.file("hard.bmp").c_str()), 0);
#endif
  const std::string long_name = dir_.path() + "/" + std::string(kOverlongName, 'b');
  const std::string same_via_dots = dir_.path() + "/./in.bmp";
  const std::wstring in = bmptest::widen(dir_.file("in.bmp"));
  std::vector<std::wstring> outputs = {
      bmptest::widen(dir_.file("no-such-folder/out.bmp")),
      bmptest::widen(dir_.path()),
      bmptest::widen(long_name),
      bmptest::widen(dir_.file("in.bmp")),
      bmptest::widen(same_via_dots),
      bmptest::widen(dir_.file("hard.bmp")),
  };
  if (have_symbolic_link) {
    outputs.push_back(bmptest::widen(dir_.file("soft.bmp")));
  }
  for (const std::wstring& out : outputs) {
    const auto [code, printed] = call(in.c_str(), out.c_str(), 2);
    EXPECT_EQ(code, BMPRESIZER_CANNOT_OPEN_OUTPUT) << std::string(out.begin(), out.end());
    EXPECT_EQ(printed, "");
    expect_input_untouched();
  }
  const auto [code, printed] = call(in.c_str(), nullptr, 2);
  EXPECT_EQ(code, BMPRESIZER_CANNOT_OPEN_OUTPUT);
  EXPECT_EQ(printed, "");
  EXPECT_FALSE(bmptest::file_exists(dir_.file("no-such-folder")));
  expect_input_untouched();
}

TEST_F(ResultCodes, RefusedInputsLeaveAnEmptyOutput) {
  BmpFields eight_bit;
  eight_bit.width = 2;
  eight_bit.height = 2;
  eight_bit.bit_count = 8;
  eight_bit.pixel_offset = 54 + 1024;
  const Bytes inputs[] = {
      bmptest::make_bmp(eight_bit, Bytes(1024 + 8, 0)),
      Bytes(good_.begin(), good_.begin() + 53),                 // shorter than the headers
      Bytes(good_.begin(), good_.end() - 16),                   // rows missing
      bmptest::make_bmp(fields_of(-5, 3, 0, 0), Bytes(48, 0)),  // negative width
      Bytes{'B', 'M'},
  };
  for (const Bytes& input : inputs) {
    bmptest::write_file(dir_.file("bad.bmp"), input);
    bmptest::write_file(dir_.file("existing.bmp"), Bytes{'o', 'l', 'd'});
    // The input is judged before the factor: 0 would be refused with 6.
    for (int factor : {2, 0}) {
      const auto [code, printed] = call(dir_.file("bad.bmp"), dir_.file("existing.bmp"), factor);
      EXPECT_EQ(code, BMPRESIZER_UNSUPPORTED_INPUT) << input.size() << " bytes";
      EXPECT_EQ(printed, "");
      EXPECT_EQ(bmptest::read_file(dir_.file("existing.bmp")), Bytes{});
    }
  }
  // Inputs that are not files: a pipe or a device cannot be read twice.
#ifdef _WIN32
  const std::vector<std::string> not_files = {"NUL"};
#else
  ASSERT_EQ(mkfifo(dir_.file("pipe").c_str(), 0600), 0);
  const std::vector<std::string> not_files = {"/dev/null", "/dev/zero", dir_.file("pipe")};
#endif
  for (const std::string& input : not_files) {
    bmptest::write_file(dir_.file("existing.bmp"), Bytes{'o', 'l', 'd'});
    EXPECT_EQ(call(input, dir_.file("existing.bmp"), 2).first, BMPRESIZER_UNSUPPORTED_INPUT)
        << input;
    EXPECT_EQ(bmptest::read_file(dir_.file("existing.bmp")), Bytes{}) << input;
  }
}

TEST_F(ResultCodes, ImpossibleEnlargementsLeaveAnEmptyOutput) {
  // A real 3 x 1 image: factors below 1, a width over 2^31 - 1 (3 x 2^30)
  // and a file over 4 GiB (40000 rows of 360000 bytes).
  const Bytes narrow = bmptest::make_random_bmp(3, 1, 7);
  bmptest::write_file(dir_.file("narrow.bmp"), narrow);
  for (int factor : {0, -1, INT_MIN, 0x40000000, 40000}) {
    bmptest::write_file(dir_.file("existing.bmp"), Bytes{'o', 'l', 'd'});
    const auto [code, printed] = call(dir_.file("narrow.bmp"), dir_.file("existing.bmp"), factor);
    EXPECT_EQ(code, BMPRESIZER_OUTPUT_TOO_LARGE) << "factor " << factor;
    EXPECT_EQ(bmptest::read_file(dir_.file("existing.bmp")), Bytes{});
  }
}

TEST_F(ResultCodes, AFullDiskIsAnError) {
  if (!bmptest::file_exists("/dev/full")) {
    GTEST_SKIP() << "no /dev/full";
  }
  EXPECT_EQ(call(dir_.file("in.bmp"), "/dev/full", 2).first, BMPRESIZER_IO_ERROR);
  expect_input_untouched();
}

TEST_F(ResultCodes, NonAsciiNamesWork) {
  // Cyrillic, CJK and a character outside the Basic Multilingual Plane.
  const std::string in_name = dir_.file("\xD0\xB2\xD1\x85\xD0\xBE\xD0\xB4.bmp");
  const std::string out_name = dir_.file("\xE6\x97\xA5\xE6\x9C\xAC-\xF0\x9F\x98\x80.bmp");
  bmptest::write_file(in_name, good_);
  const std::wstring in = bmptest::widen(dir_.path()) + L"/\x0432\x0445\x043E\x0434.bmp";
  const std::wstring out = bmptest::widen(dir_.path()) + L"/\x65E5\x672C-\U0001F600.bmp";
  const auto [code, printed] = call(in.c_str(), out.c_str(), 3);
  ASSERT_EQ(code, BMPRESIZER_SUCCESS);
  EXPECT_EQ(printed, "");
  EXPECT_EQ(bmptest::check_enlargement(good_, bmptest::read_file(out_name), 3), "");
}

// Outputs that are not plain files: a device takes the image, a dangling
// symbolic link gets its target created (as shell redirection does), and a
// named pipe without a reader is refused at once instead of waiting.
TEST_F(ResultCodes, OutputsThatAreNotPlainFiles) {
#ifdef _WIN32
  EXPECT_EQ(call(dir_.file("in.bmp"), "NUL", 2).first, BMPRESIZER_SUCCESS);
#else
  EXPECT_EQ(call(dir_.file("in.bmp"), "/dev/null", 2).first, BMPRESIZER_SUCCESS);
  ASSERT_EQ(mkdir(dir_.file("sub").c_str(), 0755), 0);
  ASSERT_EQ(symlink("sub/target.bmp", dir_.file("dangling.bmp").c_str()), 0);
  EXPECT_EQ(call(dir_.file("in.bmp"), dir_.file("dangling.bmp"), 2).first, BMPRESIZER_SUCCESS);
  EXPECT_EQ(bmptest::check_enlargement(good_, bmptest::read_file(dir_.file("sub/target.bmp")), 2),
            "");
  ASSERT_EQ(mkfifo(dir_.file("pipe").c_str(), 0600), 0);
  alarm(10);  // a call that waits for a reader fails the test instead of hanging it
  EXPECT_EQ(call(dir_.file("in.bmp"), dir_.file("pipe"), 2).first, BMPRESIZER_CANNOT_OPEN_OUTPUT);
  alarm(0);
#endif
  expect_input_untouched();
}

#ifndef _WIN32
// Whether SIGPIPE and SIGXFSZ are blocked in this thread, and pending.
std::vector<bool> write_signal_state() {
  sigset_t mask;
  sigset_t pending;
  pthread_sigmask(SIG_SETMASK, nullptr, &mask);
  sigpending(&pending);
  return {sigismember(&mask, SIGPIPE) == 1, sigismember(&pending, SIGPIPE) == 1,
          sigismember(&mask, SIGXFSZ) == 1, sigismember(&pending, SIGXFSZ) == 1};
}

// A host with the default actions of SIGPIPE and SIGXFSZ, which end the
// process: a reader that goes away, a broken standard output for the console
// line, a file-size limit (RLIMIT_FSIZE) below the image must end the call
// with its code (the output emptied), and leave the signal mask and the
// pending signals as they were, also when the host had them pending before
// the call. Each case runs in a child process, which the signals would end.
TEST_F(ResultCodes, WriteSignalsNeverKillTheHost) {
  bmptest::write_file(dir_.file("big.bmp"), bmptest::make_random_bmp(300, 200, 5));
  ASSERT_EQ(mkfifo(dir_.file("pipe").c_str(), 0600), 0);
  enum Fault { reader_goes_away, stdout_broken, size_limit };
  const struct Case {
    const char* name;
    Fault fault;
    bool pending_before;
    int want;
  } cases[] = {
      {"a reader that goes away", reader_goes_away, false, BMPRESIZER_IO_ERROR},
      {"a broken standard output", stdout_broken, false, BMPRESIZER_CANNOT_OPEN_INPUT},
      {"a file-size limit", size_limit, false, BMPRESIZER_IO_ERROR},
      {"a reader that goes away, signals pending", reader_goes_away, true, BMPRESIZER_IO_ERROR},
      {"a file-size limit, signals pending", size_limit, true, BMPRESIZER_IO_ERROR},
  };
  for (const Case& c : cases) {
    std::fflush(stdout);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      if (c.pending_before) {
        sigset_t both;
        sigemptyset(&both);
        sigaddset(&both, SIGPIPE);
        sigaddset(&both, SIGXFSZ);
        pthread_sigmask(SIG_BLOCK, &both, nullptr);
        raise(SIGPIPE);
        raise(SIGXFSZ);
      }
      const std::vector<bool> before = write_signal_state();
      int code = 0;
      std::size_t output_bytes = 0;
      if (c.fault == reader_goes_away) {
        std::size_t read = 0;
        std::thread reader =
            bmptest::read_pipe(dir_.file("pipe"), [&](const std::uint8_t*, std::size_t got) {
              read += got;
              return read < 1000;  // then the reader goes away
            });
        code = resize(dir_.file("big.bmp"), dir_.file("pipe"), 8);
        reader.join();
      } else if (c.fault == stdout_broken) {
        int ends[2];
        if (pipe(ends) != 0 || close(ends[0]) != 0 || dup2(ends[1], STDOUT_FILENO) < 0) {
          _exit(9);
        }
        code = resize(dir_.file("missing.bmp"), dir_.file("out.bmp"), 2);
      } else {
        const rlimit limit{20480, 20480};
        setrlimit(RLIMIT_FSIZE, &limit);
        code = resize(dir_.file("big.bmp"), dir_.file("out.bmp"), 8);
        output_bytes = bmptest::read_file(dir_.file("out.bmp")).size();
      }
      _exit(code != c.want ? 1 : write_signal_state() != before ? 2 : output_bytes != 0 ? 3 : 0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status)) << c.name << ": ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0)
        << c.name << ": 1 another code, 2 the signals' state changed, 3 the output is not empty";
  }
}
#endif

TEST_F(ResultCodes, ReplacesAnExistingOutput) {
  bmptest::write_file(dir_.file("existing.bmp"), Bytes(100000, 0x55));
  ASSERT_EQ(call(dir_.file("in.bmp"), dir_.file("existing.bmp"), 2).first, BMPRESIZER_SUCCESS);
  EXPECT_EQ(bmptest::check_enlargement(good_, bmptest::read_file(dir_.file("existing.bmp")), 2),
            "");
}

}  // namespace
