// Every file call of a successful resize, failed in turn, through the
// library's frame and through the tool's outputs: each failure must end
// with the documented code, leave the output as the contract says and leave
// no descriptor open. Also real faults: an input that shrinks or
// disappears during the call, and hostile headers that must be refused
// before any pixel is read or written.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <ostream>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "bmp_testing.h"
#include "bmpresizer.h"
#include "enlarge.h"
#include "file_call_faults.h"
#include "resize_files.h"

namespace {

#if defined(__SANITIZE_THREAD__)
constexpr bool kThreadSanitizer = true;
#elif defined(__has_feature)
constexpr bool kThreadSanitizer = __has_feature(thread_sanitizer);
#else
constexpr bool kThreadSanitizer = false;
#endif

using bmptest::Bytes;
using faults::Call;

struct Scenario {
  const char* name;
  std::int32_t width, height;
  int factor;
  bool output_exists;  // an existing, non-empty output must be emptied
};

void PrintTo(const Scenario& s, std::ostream* os) { *os << s.name; }

class EveryCallFails : public ::testing::TestWithParam<Scenario> {};

TEST_P(EveryCallFails, WithTheDocumentedCode) {
  const Scenario& s = GetParam();
  bmptest::TempDir dir;
  const Bytes input = bmptest::make_random_bmp(s.width, s.height, 99);
  const std::string in = dir.file("in.bmp");
  const std::string out = dir.file("out.bmp");
  bmptest::write_file(in, input);
  const Bytes old_output{'o', 'l', 'd'};
  const auto reset_output = [&] {
    std::remove(out.c_str());
    if (s.output_exists) {
      bmptest::write_file(out, old_output);
    }
  };

  reset_output();
  faults::arm({});
  const int dry_code =
      bmpresizer::result_code(bmpresizer::resize_files(in.c_str(), out.c_str(), s.factor));
  const std::vector<Call> calls = faults::disarm();
  ASSERT_EQ(dry_code, BMPRESIZER_SUCCESS);
  ASSERT_GT(calls.size(), 8u);

  bool seen_open = false;
  for (std::size_t n = 1; n <= calls.size(); ++n) {
    const Call call = calls[n - 1];
    const bool first_open = call == Call::open && !seen_open;
    seen_open = seen_open || call == Call::open;
    reset_output();
    const int descriptors = faults::open_descriptors();
    faults::Plan plan;
    plan.fail_at = static_cast<int>(n);
    plan.fail_errno = call == Call::writev ? ENOSPC : EIO;
    faults::arm(plan);
    const int code =
        bmpresizer::result_code(bmpresizer::resize_files(in.c_str(), out.c_str(), s.factor));
    faults::disarm();
    const std::string where = std::string(s.name) + ": call " + std::to_string(n) + " (" +
                              faults::name(call) + ") failed, result " + std::to_string(code);

    if (std::getenv("BMPRESIZER_PRINT_FAULTS") != nullptr) {
      std::printf("%s\n", where.c_str());
    }
    EXPECT_EQ(faults::open_descriptors(), descriptors) << where;
    EXPECT_EQ(bmptest::read_file(in), input) << where;
    switch (call) {
      case Call::open:
        EXPECT_EQ(code, first_open ? BMPRESIZER_CANNOT_OPEN_INPUT : BMPRESIZER_CANNOT_OPEN_OUTPUT)
            << where;
        break;
      case Call::fstat:
        EXPECT_TRUE(code == BMPRESIZER_CANNOT_OPEN_INPUT || code == BMPRESIZER_CANNOT_OPEN_OUTPUT ||
                    code == BMPRESIZER_IO_ERROR)
            << where;
        break;
      case Call::fcntl:  // clearing O_NONBLOCK: pipes and devices only, never reached here
        EXPECT_EQ(code, BMPRESIZER_SUCCESS) << where;
        break;
      case Call::lseek:  // before the writes, it only decides how to write
        EXPECT_TRUE(code == BMPRESIZER_SUCCESS || code == BMPRESIZER_IO_ERROR) << where;
        break;
      case Call::fallocate:  // reserving space only speeds the writes up
        EXPECT_EQ(code, BMPRESIZER_SUCCESS) << where;
        break;
      case Call::ftruncate:
        EXPECT_EQ(code, BMPRESIZER_CANNOT_OPEN_OUTPUT) << where;
        break;
      default:
        EXPECT_EQ(code, BMPRESIZER_IO_ERROR) << where;
        break;
    }
    // What each code leaves behind.
    if (code == BMPRESIZER_CANNOT_OPEN_INPUT || code == BMPRESIZER_CANNOT_OPEN_OUTPUT) {
      if (s.output_exists) {
        EXPECT_EQ(bmptest::read_file(out), old_output) << where;
      } else {
        EXPECT_FALSE(bmptest::file_exists(out)) << where;
      }
    } else if (code == BMPRESIZER_IO_ERROR) {
      EXPECT_EQ(bmptest::read_file(out).size(), 0u) << where;
    } else if (code == BMPRESIZER_SUCCESS) {
      EXPECT_EQ(bmptest::check_enlargement(input, bmptest::read_file(out), s.factor), "") << where;
    }
  }
}

// Every read and write of a successful run, interrupted before it moves a
// byte (EINTR) or cut short: at one byte, inside a span, one byte before its
// end. The call must resume where the system stopped and still be exact.
TEST_P(EveryCallFails, ShortAndInterruptedTransfersStillGiveTheExactImage) {
  const Scenario& s = GetParam();
  bmptest::TempDir dir;
  const Bytes input = bmptest::make_random_bmp(s.width, s.height, 98);
  const std::string in = dir.file("in.bmp");
  const std::string out = dir.file("out.bmp");
  bmptest::write_file(in, input);
  faults::arm({});
  ASSERT_EQ(bmpresizer::resize_files(in.c_str(), out.c_str(), s.factor).failure,
            bmpresizer::Failure::none);
  const std::vector<Call> calls = faults::disarm();
  const struct Cut {
    const char* name;
    std::size_t (*to)(std::size_t asked);
  } cuts[] = {
      {"EINTR", [](std::size_t) { return std::size_t{0}; }},
      {"one byte", [](std::size_t) { return std::size_t{1}; }},
      {"inside a span", [](std::size_t asked) { return asked / 2 + 1; }},
      {"one byte short", [](std::size_t asked) { return asked > 1 ? asked - 1 : asked; }},
  };
  int transfers = 0;
  for (std::size_t n = 1; n <= calls.size(); ++n) {
    if (calls[n - 1] != Call::pread && calls[n - 1] != Call::writev &&
        calls[n - 1] != Call::pwritev) {
      continue;
    }
    ++transfers;
    for (const Cut& cut : cuts) {
      std::remove(out.c_str());
      faults::Plan plan;
      plan.cut_at = static_cast<int>(n);
      plan.cut_to = cut.to;
      faults::arm(plan);
      const bmpresizer::Outcome outcome =
          bmpresizer::resize_files(in.c_str(), out.c_str(), s.factor);
      faults::disarm();
      const std::string where = std::string(s.name) + ": call " + std::to_string(n) + " (" +
                                faults::name(calls[n - 1]) + ") " + cut.name;
      EXPECT_EQ(outcome.failure, bmpresizer::Failure::none) << where;
      EXPECT_EQ(bmptest::check_enlargement(input, bmptest::read_file(out), s.factor), "") << where;
    }
  }
  EXPECT_GE(transfers, 3) << "the run must read and write";
}

INSTANTIATE_TEST_SUITE_P(Runs, EveryCallFails,
                         ::testing::Values(Scenario{"batched rows, new output", 300, 20, 2, false},
                                           Scenario{"long rows, existing output", 7100, 2, 3, true},
                                           Scenario{"factor 1, top-down, existing output", 5, -4, 1,
                                                    true}));

// The tool's outputs, with every file call of a successful run failed in
// turn: whatever fails, an existing output is exactly as it was (a missing
// one still missing), no file of the tool's is left in the folder and no
// descriptor stays open; a run that succeeds anyway is exact.
struct ToolScenario {
  const char* name;
  bool output_exists;
  bool no_unnamed_files;  // every temporary file then has a name
};

void PrintTo(const ToolScenario& s, std::ostream* os) { *os << s.name; }

class ToolOutputCallsFail : public ::testing::TestWithParam<ToolScenario> {};

std::set<std::string> names_in(const std::string& dir) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

TEST_P(ToolOutputCallsFail, LeaveTheOutputAsItWas) {
  const ToolScenario& s = GetParam();
  bmptest::TempDir dir;
  const Bytes input = bmptest::make_random_bmp(300, 20, 97);
  const std::string in = dir.file("in.bmp");
  const std::string out = dir.file("out.bmp");
  bmptest::write_file(in, input);
  const Bytes old_output{'o', 'l', 'd'};
  std::vector<std::uint8_t> work(std::size_t{1} << 20);
  const auto run = [&](faults::Plan plan) {
    std::remove(out.c_str());
    if (s.output_exists) {
      bmptest::write_file(out, old_output);
    }
    plan.no_unnamed_files = s.no_unnamed_files;
    faults::arm(plan);
    bmpresize::Enlargement how;
    how.across = how.down = 2;
    how.work = work.data();
    const bmpresize_result outcome = bmpresize::enlarge_file(in, out, how);
    return std::make_pair(outcome.error == BMPRESIZE_OK, faults::disarm());
  };
  const auto dry = run({});
  ASSERT_TRUE(dry.first);
  for (std::size_t n = 1; n <= dry.second.size(); ++n) {
    const int descriptors = faults::open_descriptors();
    faults::Plan plan;
    plan.fail_at = static_cast<int>(n);
    plan.fail_errno = EIO;
    const bool ok = run(plan).first;
    const std::string where = std::string(s.name) + ": call " + std::to_string(n) + " (" +
                              faults::name(dry.second[n - 1]) + ") failed";
    EXPECT_EQ(faults::open_descriptors(), descriptors) << where;
    std::set<std::string> names = {"in.bmp"};
    if (s.output_exists || ok) {
      names.insert("out.bmp");
    }
    EXPECT_EQ(names_in(dir.path()), names) << where;
    if (ok) {
      EXPECT_EQ(bmptest::check_enlargement(input, bmptest::read_file(out), 2), "") << where;
    } else if (s.output_exists) {
      EXPECT_EQ(bmptest::read_file(out), old_output) << where;
    } else {
      EXPECT_FALSE(bmptest::file_exists(out)) << where;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Outputs, ToolOutputCallsFail,
    ::testing::Values(ToolScenario{"new output", false, false},
                      ToolScenario{"replaced output", true, false},
                      ToolScenario{"new output, named temporary file", false, true},
                      ToolScenario{"replaced output, named temporary file", true, true}));

// The folder opened is the folder written: when the output's folder is
// renamed during the run and a link to another folder takes its name, the
// output still lands in the folder the run opened, the other folder's
// file of that name is left alone, and no temporary name stays anywhere.
TEST_P(ToolOutputCallsFail, StayInTheFolderTheRunOpened) {
  const ToolScenario& s = GetParam();
  bmptest::TempDir dir;
  const Bytes input = bmptest::make_random_bmp(300, 20, 5);
  const std::string in = dir.file("in.bmp");
  bmptest::write_file(in, input);
  std::filesystem::create_directory(dir.file("a"));
  std::filesystem::create_directory(dir.file("c"));
  const Bytes old{'o', 'l', 'd'};
  const Bytes theirs{'t', 'h', 'e', 'i', 'r', 's'};
  if (s.output_exists) {
    bmptest::write_file(dir.file("a/o.bmp"), old);
  }
  bmptest::write_file(dir.file("c/o.bmp"), theirs);
  ::chmod(dir.file("c/o.bmp").c_str(), 0444);
  bmpresize::Enlargement how;
  how.across = how.down = 2;
  how.progress = [](void* context, uint64_t, uint64_t) {
    const auto* folder = static_cast<const bmptest::TempDir*>(context);
    if (!bmptest::file_exists(folder->file("b"))) {
      std::rename(folder->file("a").c_str(), folder->file("b").c_str());
      ::symlink(folder->file("c").c_str(), folder->file("a").c_str());
    }
    return 0;
  };
  how.progress_context = &dir;
  faults::Plan plan;
  plan.no_unnamed_files = s.no_unnamed_files;
  faults::arm(plan);
  const bmpresize_result result = bmpresize::enlarge_file(in, dir.file("a/o.bmp"), how);
  faults::disarm();
  ASSERT_EQ(result.error, BMPRESIZE_OK) << bmpresize_error_name(result.error);
  EXPECT_EQ(bmptest::check_enlargement(input, bmptest::read_file(dir.file("b/o.bmp")), 2), "");
  EXPECT_EQ(bmptest::read_file(dir.file("c/o.bmp")), theirs);
  EXPECT_EQ(names_in(dir.file("b")), std::set<std::string>{"o.bmp"});
  EXPECT_EQ(names_in(dir.file("c")), std::set<std::string>{"o.bmp"});
}

// An interruption at any of three moments (the first write of the output,
// the last, and as the output is put in place), by each of the signals the
// clean-up takes, ends the process as the signal would, with the old output
// as it was (or none, where there was none) and no temporary name left:
// with unnamed files or named ones, the status never says "interrupted"
// over a replaced file. (In a child: the clean-up ends it.)
TEST_P(ToolOutputCallsFail, AnInterruptionAtAnyMomentLeavesTheOldOutput) {
  const ToolScenario& s = GetParam();
  bmptest::TempDir dir;
  const Bytes input = bmptest::make_random_bmp(30, 20, 6);
  const std::string in = dir.file("in.bmp");
  const std::string out = dir.file("out.bmp");
  bmptest::write_file(in, input);
  const Bytes old{'o', 'l', 'd'};
  bmpresize::Enlargement how;
  const auto run = [&](faults::Plan plan) {
    std::remove(out.c_str());
    if (s.output_exists) {
      bmptest::write_file(out, old);
    }
    plan.no_unnamed_files = s.no_unnamed_files;
    faults::arm(plan);
    const bool ok = bmpresize::enlarge_file(in, out, how).error == BMPRESIZE_OK;
    return std::make_pair(ok, faults::disarm());
  };
  const auto dry = run({});
  ASSERT_TRUE(dry.first);
  // The first and last writes, and the last call that names the output: its
  // link, or the rename or swap.
  int first_write = 0, last_write = 0, placing = 0;
  for (std::size_t i = 0; i < dry.second.size(); ++i) {
    const int number = static_cast<int>(i) + 1;
    if (dry.second[i] == Call::pwritev) {
      first_write = first_write == 0 ? number : first_write;
      last_write = number;
    }
    if (dry.second[i] == Call::linkat || dry.second[i] == Call::renameat) {
      placing = number;
    }
  }
  ASSERT_GT(first_write, 0);
  ASSERT_GT(placing, 0);
  const int signals[] = {SIGINT, SIGTERM, SIGHUP};
  const int moments[] = {first_write, last_write, placing};
  for (int m = 0; m < 3; ++m) {
    const int signal_number = signals[m];
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      bmpresize_clean_up_on_interruption(nullptr);
      faults::Plan plan;
      plan.hook_at = moments[m];
      plan.hook = [signal_number] { ::raise(signal_number); };
      run(plan);
      _exit(99);  // the clean-up should have ended the process
    }
    const std::string where =
        "signal " + std::to_string(signal_number) + " at call " + std::to_string(moments[m]);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal_number)
        << where << ": status " << status;
    std::set<std::string> names = {"in.bmp"};
    if (s.output_exists) {
      names.insert("out.bmp");
      EXPECT_EQ(bmptest::read_file(out), old) << where;
    }
    EXPECT_EQ(names_in(dir.path()), names) << where;
  }
}

// A file is one file only on one volume: the same number on another device
// is another file (an input on one disk is no output on another).
TEST(FileFacts, OneFileOnlyOnOneVolume) {
  bmpresizer::FileFacts here;
  here.regular = true;
  here.volume = 1;
  here.file = 7;
  bmpresizer::FileFacts there = here;
  EXPECT_TRUE(bmpresizer::same_file(here, there));
  there.volume = 2;
  EXPECT_FALSE(bmpresizer::same_file(here, there));
  there.volume = 1;
  there.error = ENOENT;
  EXPECT_FALSE(bmpresizer::same_file(here, there));
}

// Where no file can be made without a name, the names made instead: the
// temporary beside an output whose own name nearly fills a folder entry is
// cut to fit at a character's start, never inside one; and a piped input's
// copy in the temporary folder keeps its name only until it is unlinked,
// a moment an interruption cannot leave it behind in.
TEST(NamedTemporaryFiles, FitWholeCharactersAndLeaveNothing) {
  bmptest::TempDir dir;
  const Bytes input = bmptest::make_random_bmp(30, 20, 8);
  bmptest::write_file(dir.file("in.bmp"), input);
  std::string long_name;
  while (long_name.size() < 250) {
    long_name += "\xE2\x82\xAC";  // the euro sign: three bytes of UTF-8
  }
  long_name += ".bmp";  // 256 bytes in all would not fit; 253 do
  long_name.erase(long_name.size() - 7, 3);
  std::filesystem::create_directory(dir.file("tmp"));
  ::setenv("TMPDIR", dir.file("tmp").c_str(), 1);
  std::vector<std::string> seen;  // in the output's folder
  faults::Plan plan;
  plan.no_unnamed_files = true;
  plan.hook = [&] {
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
      seen.push_back(entry.path().filename().string());
    }
  };
  // A stream read in order, kept in the temporary folder first.
  struct Stream {
    const Bytes* bytes;
    std::size_t at;
  };
  const auto read = [](void* context, void* buffer, size_t size, int*) -> int64_t {
    auto* stream = static_cast<Stream*>(context);
    const std::size_t n = std::min(size, stream->bytes->size() - stream->at);
    std::memcpy(buffer, stream->bytes->data() + stream->at, n);
    stream->at += n;
    return static_cast<int64_t>(n);
  };
  // Look around at every file call of both, one at a time.
  for (plan.hook_at = 1; plan.hook_at <= 40; ++plan.hook_at) {
    faults::arm(plan);
    bmpresize::enlarge_file(dir.file("in.bmp"), dir.file(long_name), bmpresize::Enlargement{});
    faults::disarm();
    Stream stream{&input, 0};
    const bmpresize_source source{&stream, nullptr, 0, read};
    faults::arm(plan);
    bmpresize_enlarge_to_file(&source, dir.file("piped.bmp").c_str(), nullptr, nullptr);
    const std::vector<Call> calls = faults::disarm();
    EXPECT_EQ(names_in(dir.file("tmp")), std::set<std::string>{});
    if (plan.hook_at == 1) {
      // Interrupted as the copy is unlinked: the clean-up removes it.
      const auto unlink_at = std::find(calls.begin(), calls.end(), Call::unlink);
      ASSERT_NE(unlink_at, calls.end());
      const pid_t child = fork();
      ASSERT_GE(child, 0);
      if (child == 0) {
        bmpresize_clean_up_on_interruption(nullptr);
        faults::Plan interrupted = plan;
        interrupted.hook_at = static_cast<int>(unlink_at - calls.begin()) + 1;
        interrupted.hook = [] { ::raise(SIGTERM); };
        Stream again{&input, 0};
        const bmpresize_source piped{&again, nullptr, 0, read};
        faults::arm(interrupted);
        bmpresize_enlarge_to_file(&piped, dir.file("piped.bmp").c_str(), nullptr, nullptr);
        _exit(99);
      }
      int status = 0;
      ASSERT_EQ(waitpid(child, &status, 0), child);
      EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
      EXPECT_EQ(names_in(dir.file("tmp")), std::set<std::string>{});
    }
  }
  ::unsetenv("TMPDIR");
  ASSERT_FALSE(seen.empty());
  for (const std::string& name : seen) {
    EXPECT_LE(name.size(), 255u) << name;
    // Valid UTF-8: every lead byte followed by its continuation bytes.
    for (std::size_t i = 0; i < name.size();) {
      const auto lead = static_cast<unsigned char>(name[i]);
      const std::size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
      ASSERT_FALSE(lead >= 0x80 && lead < 0xC0) << "cut inside a character: " << name;
      for (std::size_t k = 1; k < length; ++k) {
        ASSERT_TRUE(i + k < name.size() && (static_cast<unsigned char>(name[i + k]) & 0xC0) == 0x80)
            << "cut inside a character: " << name;
      }
      i += length;
    }
  }
  EXPECT_EQ(bmptest::check_enlargement(input, bmptest::read_file(dir.file(long_name)), 1), "");
  EXPECT_EQ(bmptest::check_enlargement(input, bmptest::read_file(dir.file("piped.bmp")), 1), "");
}

// A host that has closed some of its standard descriptors: the call's files
// get those numbers, and what another thread prints meanwhile must not end
// up in the output. A child process closes them and, before each file call
// in turn, prints a line to all three, as another thread of the host might;
// then, a thread prints all through a longer call. The output must still
// be exact (to its length: a 1 x 1 image is shorter than the line), and no
// file of the call may be left on 0, 1 or 2.
TEST(RealFaults, ClosedStandardDescriptorsNeverReachTheOutput) {
  bmptest::TempDir dir;
  const std::string in = dir.file("in.bmp");
  const std::string big = dir.file("big.bmp");
  const std::string out = dir.file("out.bmp");
  const Bytes input = bmptest::make_random_bmp(1, 1, 4);
  const Bytes large = bmptest::make_random_bmp(600, 300, 5);
  bmptest::write_file(in, input);
  bmptest::write_file(big, large);
  faults::arm({});
  ASSERT_EQ(bmpresizer::resize_files(in.c_str(), out.c_str(), 1).failure,
            bmpresizer::Failure::none);
  const std::vector<Call> made = faults::disarm();
  const int calls = static_cast<int>(made.size());
  const auto print_everywhere = [] {
    const std::string line(100, 'x');
    for (int fd = 0; fd <= 2; ++fd) {
      static_cast<void>(write(fd, line.data(), line.size()));
    }
  };
  const std::vector<std::vector<int>> closings = {{0, 1, 2}, {2}, {1, 2}};
  for (const std::vector<int>& closed : closings) {
    // Call 0: the long call with a printing thread (whose races with the
    // call's opens and closes are the point, and which ThreadSanitizer would
    // report as such).
    for (int n = kThreadSanitizer ? 1 : 0; n <= calls; ++n) {
      std::remove(out.c_str());
      const pid_t child = fork();
      ASSERT_GE(child, 0);
      if (child == 0) {
        for (int fd : closed) {
          close(fd);
        }
        std::atomic<bool> done{false};
        std::thread printer;
        faults::Plan plan;
        // Reading and writing happen on descriptors above 2, whatever was
        // closed.
        bool stdio_used = false;
        if (n > 0) {
          const bool transfer = made[static_cast<std::size_t>(n - 1)] == Call::pread ||
                                made[static_cast<std::size_t>(n - 1)] == Call::pwritev;
          plan.hook_at = n;
          plan.hook = [&, transfer] {
            for (int fd : closed) {
              stdio_used = stdio_used || (transfer && fcntl(fd, F_GETFD) >= 0);
            }
            print_everywhere();
          };
        } else {
          printer = std::thread([&] {
            while (!done.load()) {
              print_everywhere();
            }
          });
        }
        faults::arm(plan);
        const bool ok =
            bmpresizer::resize_files(n > 0 ? in.c_str() : big.c_str(), out.c_str(), n > 0 ? 1 : 3)
                .ok();
        faults::disarm();
        done.store(true);
        if (printer.joinable()) {
          printer.join();
        }
        bool stdio_kept = !stdio_used;
        for (int fd : closed) {
          stdio_kept = stdio_kept && fcntl(fd, F_GETFD) < 0;
        }
        const bool exact = bmptest::check_enlargement(n > 0 ? input : large,
                                                      bmptest::read_file(out), n > 0 ? 1 : 3)
                               .empty();
        _exit(ok ? (stdio_kept ? (exact ? 0 : 3) : 2) : 1);
      }
      int status = 0;
      ASSERT_EQ(waitpid(child, &status, 0), child);
      ASSERT_TRUE(WIFEXITED(status));
      EXPECT_EQ(WEXITSTATUS(status), 0)
          << closed.size() << " closed, a line printed "
          << (n > 0 ? "before call " + std::to_string(n) : std::string("all through"))
          << ": 1 the call failed, 2 a file stayed on 0-2, 3 the output is not exact";
    }
  }
}

// A line written in pieces, as a console or a pipe may take it: each write
// cut short or interrupted, at every point, still gives the whole line.
TEST(RealFaults, ShortWritesOfALineResume) {
  bmptest::TempDir dir;
  const std::string path = dir.file("line");
  const std::string parts[] = {"Could not open ", "/some/path/missing.bmp", ".\n"};
  const bmpresizer::ByteSpan spans[] = {
      {reinterpret_cast<const std::uint8_t*>(parts[0].data()), parts[0].size()},
      {reinterpret_cast<const std::uint8_t*>(parts[1].data()), parts[1].size()},
      {reinterpret_cast<const std::uint8_t*>(parts[2].data()), parts[2].size()}};
  const std::string whole = parts[0] + parts[1] + parts[2];
  for (std::size_t cut = 0; cut < whole.size(); ++cut) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    faults::Plan plan;
    plan.cut_at = 1;
    plan.cut_to = [cut](std::size_t) { return cut; };
    faults::arm(plan);
    int error = 0;
    const bool written = bmpresizer::write_all(fd, spans, 3, error);
    faults::disarm();
    close(fd);
    EXPECT_TRUE(written) << "cut at " << cut;
    const Bytes line = bmptest::read_file(path);
    EXPECT_EQ(std::string(line.begin(), line.end()), whole) << "cut at " << cut;
  }
}

// The number of the call that reads the input's rows for the second time in
// a run of `in` into `out` at factor 2: well into the rows.
int second_row_read(const std::string& in, const std::string& out) {
  faults::arm({});
  bmpresizer::resize_files(in.c_str(), out.c_str(), 2);
  const std::vector<Call> calls = faults::disarm();
  int reads = 0;
  for (std::size_t n = 0; n < calls.size(); ++n) {
    reads += calls[n] == Call::pread ? 1 : 0;
    if (reads == 3) {  // the header, then two reads of rows
      return static_cast<int>(n + 1);
    }
  }
  return 0;
}

// An input cut short while its rows are being read: the call notices the
// short read instead of writing a damaged image.
TEST(RealFaults, InputTruncatedDuringTheCall) {
  bmptest::TempDir dir;
  const std::string in = dir.file("in.bmp");
  const std::string out = dir.file("out.bmp");
  bmptest::write_file(in, bmptest::make_random_bmp(2000, 400, 5));
  faults::Plan plan;
  plan.hook_at = second_row_read(in, out);
  ASSERT_GT(plan.hook_at, 0);
  plan.hook = [&] { ASSERT_EQ(truncate(in.c_str(), 1000), 0); };
  faults::arm(plan);
  const bmpresizer::Outcome outcome = bmpresizer::resize_files(in.c_str(), out.c_str(), 2);
  faults::disarm();
  EXPECT_EQ(outcome.failure, bmpresizer::Failure::input_shrank);
  EXPECT_EQ(bmpresizer::result_code(outcome), BMPRESIZER_IO_ERROR);
  EXPECT_EQ(bmptest::read_file(out).size(), 0u);
}

// Removing the input's name does not take the open file away.
TEST(RealFaults, InputRemovedDuringTheCall) {
  bmptest::TempDir dir;
  const std::string in = dir.file("in.bmp");
  const std::string out = dir.file("out.bmp");
  const Bytes input = bmptest::make_random_bmp(2000, 400, 6);
  bmptest::write_file(in, input);
  faults::Plan plan;
  plan.hook_at = second_row_read(in, out);
  ASSERT_GT(plan.hook_at, 0);
  plan.hook = [&] { ASSERT_EQ(unlink(in.c_str()), 0); };
  faults::arm(plan);
  const int code = bmpresizer::result_code(bmpresizer::resize_files(in.c_str(), out.c_str(), 2));
  faults::disarm();
  EXPECT_EQ(code, BMPRESIZER_SUCCESS);
  EXPECT_EQ(bmptest::check_enlargement(input, bmptest::read_file(out), 2), "");
}

TEST(RealFaults, OutputFolderWithoutWritePermission) {
  if (geteuid() == 0) {
    GTEST_SKIP() << "root may write anywhere";
  }
  bmptest::TempDir dir;
  bmptest::write_file(dir.file("in.bmp"), bmptest::make_random_bmp(3, 3, 1));
  ASSERT_EQ(mkdir(dir.file("locked").c_str(), 0500), 0);
  EXPECT_EQ(bmpresizer::result_code(bmpresizer::resize_files(
                dir.file("in.bmp").c_str(), dir.file("locked/out.bmp").c_str(), 2)),
            BMPRESIZER_CANNOT_OPEN_OUTPUT);
}

// Tiny files whose headers declare enormous or wrapping images: refused from
// the header and the file's size alone, with one read and no write.
TEST(HostileSizes, RefusedWithoutTouchingPixels) {
  struct Case {
    const char* name;
    std::int32_t width, height;
    int factor;
    int want;
  } cases[] = {
      {"2^31 - 1 square", 0x7FFFFFFF, 0x7FFFFFFF, 1, BMPRESIZER_UNSUPPORTED_INPUT},
      {"INT32_MIN rows", 1, INT32_MIN, 1, BMPRESIZER_UNSUPPORTED_INPUT},
      {"row size wraps 32 bits", 0x55555556, 1, 1, BMPRESIZER_UNSUPPORTED_INPUT},
      {"zero width, 2^31 rows", 0, INT32_MIN, 1, BMPRESIZER_OUTPUT_TOO_LARGE},
      {"zero width, factor wraps", 0, 0x40000000, 4, BMPRESIZER_OUTPUT_TOO_LARGE},
      {"one pixel, factor 2^31 - 1", 1, 1, 0x7FFFFFFF, BMPRESIZER_OUTPUT_TOO_LARGE},
  };
  bmptest::TempDir dir;
  for (const Case& c : cases) {
    bmptest::BmpFields fields;
    fields.width = c.width;
    fields.height = c.height;
    bmptest::write_file(dir.file("in.bmp"), bmptest::make_bmp(fields, Bytes(16, 0x5A)));
    faults::arm({});
    const int code = bmpresizer::result_code(bmpresizer::resize_files(
        dir.file("in.bmp").c_str(), dir.file("out.bmp").c_str(), c.factor));
    const std::vector<Call> calls = faults::disarm();
    EXPECT_EQ(code, c.want) << c.name;
    int reads = 0;
    int writes = 0;
    for (Call call : calls) {
      reads += call == Call::pread ? 1 : 0;
      writes += call == Call::writev ? 1 : 0;
    }
    EXPECT_EQ(reads, 1) << c.name << ": only the header is read";
    EXPECT_EQ(writes, 0) << c.name;
    EXPECT_EQ(bmptest::read_file(dir.file("out.bmp")).size(), 0u) << c.name;
  }
}

}  // namespace
