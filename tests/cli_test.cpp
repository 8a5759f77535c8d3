// The bmpresize tool: arguments, exit status and the one line it prints.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "bmp_testing.h"
#include "tool_runner.h"

namespace {

using bmptest::Bytes;
using bmptest::run_tool;
using bmptest::ToolRun;

class Tool : public ::testing::Test {
 protected:
  void SetUp() override {
    image_ = bmptest::make_random_bmp(7, -5, 3);
    bmptest::write_file(dir_.file("in.bmp"), image_);
  }

  bmptest::TempDir dir_;
  Bytes image_;
};

// Success is silent, but for a warning when the name says another kind of
// image; an existing output (named with either separator on Windows) is
// replaced, and so is one of a long name.
TEST_F(Tool, SucceedsSilently) {
  ToolRun run = run_tool(dir_, {dir_.file("in.bmp"), dir_.file("out.bmp"), "3"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(bmptest::check_enlargement(image_, bmptest::read_file(dir_.file("out.bmp")), 3), "");
  run = run_tool(dir_, {dir_.file("in.bmp"), dir_.file("out.bmp"), "2x3"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(bmptest::check_enlargement(image_, bmptest::read_file(dir_.file("out.bmp")), 2, 3), "");
  // A long name, whose path with a temporary suffix would pass MAX_PATH.
  const std::string long_name = dir_.file(std::string(230, 'n') + ".bmp");
  for (const char* state : {"new", "replaced"}) {
    run = run_tool(dir_, {dir_.file("in.bmp"), long_name, "2"});
    EXPECT_EQ(run.status, 0) << state << ": " << run.err;
    EXPECT_EQ(bmptest::check_enlargement(image_, bmptest::read_file(long_name), 2), "") << state;
  }
  run = run_tool(dir_, {dir_.file("in.bmp"), dir_.file("out.PNG"), "2"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "bmpresize: warning: " + dir_.file("out.PNG") +
                         " is named like a png image, but it holds a BMP\n");
}

// An input of several megabytes is enlarged by two threads, half of the rows
// each: the file is the same as from one.
TEST_F(Tool, EnlargesALargeImageExactly) {
  const Bytes large = bmptest::make_random_bmp(1203, -1201, 17);  // 4.3 MB
  bmptest::write_file(dir_.file("large.bmp"), large);
  const ToolRun run = run_tool(dir_, {dir_.file("large.bmp"), dir_.file("out.bmp"), "2"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(bmptest::check_enlargement(large, bmptest::read_file(dir_.file("out.bmp")), 2), "");
}

TEST_F(Tool, VerboseSaysWhatItDid) {
  ToolRun run = run_tool(dir_, {"-v", dir_.file("in.bmp"), dir_.file("out.bmp"), "2"});
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.err.find("enlarged 2x into " + dir_.file("out.bmp")), std::string::npos) << run.err;
  EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1);
  run = run_tool(dir_, {"-v", dir_.file("in.bmp"), dir_.file("out.bmp"), "1x2"});
  EXPECT_NE(run.err.find("enlarged 1x2 into " + dir_.file("out.bmp")), std::string::npos)
      << run.err;
  EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1);
}

// Wrong arguments (the parser's own tests have every kind): exit 2, the
// line that says what is wrong and where to read more, and nothing written.
TEST_F(Tool, UsageErrors) {
  const std::string in = dir_.file("in.bmp");
  const std::string out = dir_.file("out.bmp");
  const std::vector<std::vector<std::string>> cases = {
      {}, {in, out, "2x"}, {"-q", "-v", in, out, "2"}, {in, out, "4294967298"}};
  for (const auto& args : cases) {
    const ToolRun run = run_tool(dir_, args);
    EXPECT_EQ(run.status, 2) << args.size() << " arguments";
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 2) << run.err;
    EXPECT_EQ(run.err.rfind("bmpresize: ", 0), 0u) << run.err;
    EXPECT_NE(run.err.find("\nTry 'bmpresize --help' for more information.\n"), std::string::npos)
        << run.err;
  }
  EXPECT_FALSE(bmptest::file_exists(out));
}

#ifndef _WIN32
// Started with standard input, output and error closed (as by ">&- 2>&-
// <&-"), the tool's files must not take their numbers: the failure lines of
// the bad files would land in the good file's output.
TEST_F(Tool, ClosedStandardStreamsNeverReachAnOutput) {
  ASSERT_EQ(mkdir(dir_.file("out").c_str(), 0755), 0);
  const Bytes big = bmptest::make_random_bmp(900, 300, 8);
  bmptest::write_file(dir_.file("big.bmp"), big);
  std::vector<std::string> args = {
      "-v", "-j", "2", "-f", "3", "-o", dir_.file("out"), dir_.file("big.bmp")};
  for (int i = 0; i < 30; ++i) {
    args.push_back(dir_.file("missing-" + std::to_string(i) + ".bmp"));
  }
  const ToolRun run = run_tool(dir_, args, ">&- 2>&- <&-");
  EXPECT_EQ(run.status, 3);
  EXPECT_EQ(bmptest::check_enlargement(big, bmptest::read_file(dir_.file("out/big.bmp")), 3), "");
}

// A reader that goes away, of a named pipe or of standard output: the tool
// ends as every filter ends then, quietly, as SIGPIPE ends it (141 in the
// shell).
TEST_F(Tool, AReaderThatGoesAwayEndsItAsAFilter) {
  ASSERT_EQ(mkfifo(dir_.file("pipe").c_str(), 0600), 0);
  bmptest::write_file(dir_.file("big.bmp"), bmptest::make_random_bmp(300, 200, 5));
  std::size_t read = 0;
  std::thread reader =
      bmptest::read_pipe(dir_.file("pipe"), [&](const std::uint8_t*, std::size_t got) {
        read += got;
        return read < 1000;
      });
  const std::string status = " 2>'" + dir_.file("stderr") + "'; echo $? >'" + dir_.file("status") +
                             "') | head -c 100 >/dev/null";
  for (const char* output : {"pipe", "-"}) {
    const std::string to = output[0] == '-' ? "-" : dir_.file(output);
    const ToolRun run = run_tool(dir_, {dir_.file("big.bmp"), to, "8"}, status, "(");
    const Bytes said = bmptest::read_file(dir_.file("status"));
    EXPECT_EQ(std::string(said.begin(), said.end()), "141\n") << output;
    EXPECT_EQ(run.err, "") << output;
  }
  reader.join();
}

TEST_F(Tool, HelpAndVersion) {
  const ToolRun help = run_tool(dir_, {"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind("usage: bmpresize", 0), 0u);
  EXPECT_NE(help.out.find("Exit status"), std::string::npos);
  const ToolRun version = run_tool(dir_, {"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, "bmpresize " BMPRESIZER_TEST_VERSION "\n");
}

#endif

// The names in `dir`, sorted: what a run left behind, temporary files
// included (but not the files that capture the tool's output).
std::vector<std::string> names_in(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    const std::string name = entry.path().filename().string();
    if (name != "stdout" && name != "stderr") {
      names.push_back(name);
    }
  }
  std::sort(names.begin(), names.end());
  return names;
}

// Each failure: its exit status and the line that says what is wrong; and
// an existing output left exactly as it was, with no file of the tool's
// beside it.
TEST_F(Tool, ExplainsEachFailure) {
  bmptest::write_file(dir_.file("rle.bmp"), bmptest::damaged_rle8_bmp());
  bmptest::BmpFields deep;
  deep.width = 1;
  deep.height = 1;
  deep.bit_count = 64;
  bmptest::write_file(dir_.file("deep.bmp"), bmptest::make_bmp(deep, Bytes(8, 0)));
  bmptest::write_file(dir_.file("cut.bmp"), Bytes(image_.begin(), image_.end() - 30));
  bmptest::write_file(dir_.file("narrow.bmp"), bmptest::make_random_bmp(3, 1, 9));
  bmptest::BmpFields no_palette;
  no_palette.width = 1;
  no_palette.height = 1;
  no_palette.bit_count = 8;
  bmptest::write_file(dir_.file("no-palette.bmp"), bmptest::make_bmp(no_palette, Bytes(4, 0)));
  bmptest::BmpFields masks = no_palette;
  masks.bit_count = 24;
  masks.compression = 3;
  masks.pixel_offset = 54 + 12;
  bmptest::write_file(dir_.file("masks.bmp"), bmptest::make_bmp(masks, Bytes(16, 0)));
#ifndef _WIN32
  const int listener = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof address.sun_path, "%s", dir_.file("socket").c_str());
  ASSERT_EQ(bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
#endif

  const std::string in = dir_.file("in.bmp");
  const std::string out = dir_.file("out.bmp");
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string line;
    std::string redirections = "";
  } cases[] = {
      {{dir_.file("missing.bmp"), out, "2"},
       3,
       dir_.file("missing.bmp") + ": cannot open: " + bmptest::missing_file_text()},
      {{dir_.path(), out, "2"}, 3, dir_.path() + ": is a directory, not a BMP file"},
#ifndef _WIN32
      // A line break in a name is shown as the shell would take it back.
      {{dir_.file("two\nlines.bmp"), out, "2"},
       3,
       "'" + dir_.file("two'$'\\n''lines.bmp") + "': cannot open: " + bmptest::missing_file_text()},
#endif
      {{in, dir_.file("nowhere/out.bmp"), "2"},
       4,
       dir_.file("nowhere/out.bmp") + ": cannot create: " + bmptest::missing_folder_text()},
      {{in, in, "2"}, 4, in + ": output is the same file as the input"},
      {{dir_.file("rle.bmp"), out, "2"},
       5,
       dir_.file("rle.bmp") +
           ": a run-length code reaches column 5 of rows 2 pixels wide; the encoded pixels are "
           "damaged"},
      {{dir_.file("deep.bmp"), out, "2"},
       5,
       dir_.file("deep.bmp") + ": 64 bits per pixel; BMP files of 1, 2, 4, 8, 16, 24 and 32 "
                               "are enlarged"},
      // 7 x 5: rows of 24 bytes; the last needs only 21: 54 + 96 + 21 = 171.
      {{dir_.file("cut.bmp"), out, "2"},
       5,
       dir_.file("cut.bmp") + ": file is truncated: the header declares 171 bytes, the file has " +
           std::to_string(image_.size() - 30)},
      {{dir_.file("no-palette.bmp"), out, "2"},
       5,
       dir_.file("no-palette.bmp") +
           ": an image of 8 bits per pixel without its colour table: its pixels start at byte "
           "54, with no room for one; the header is damaged"},
      {{dir_.file("masks.bmp"), out, "2"},
       5,
       dir_.file("masks.bmp") +
           ": colour masks (BITFIELDS) at 24 bits per pixel, where masks go with 16 and 32; the "
           "header is damaged"},
      {{in, out, "0"}, 6, out + ": factor 0 is below 1; nothing to enlarge"},
      {{in, out, "-3"}, 6, out + ": factor -3 is below 1; nothing to enlarge"},
      // 3 x 1 at 40000: 40000 rows of 360000 bytes, 13.4 GiB.
      {{dir_.file("narrow.bmp"), out, "40000"},
       6,
       out + ": the enlarged image would be 13.4 GiB; BMP files cannot exceed 4 GiB"},
      {{in, "", "2"}, 4, "\"\": cannot create: " + bmptest::missing_folder_text()},
      // 7 x 5 at the largest factor there is: too wide, not a usage error.
      {{in, out, "2147483647"},
       6,
       out + ": the enlarged image would be 15032385529 pixels wide; its kind of BMP allows "
             "at most 2147483647"},
#ifndef _WIN32
      {{in, dir_.file("socket"), "2"},
       4,
       dir_.file("socket") +
           ": a socket, which cannot be opened as a file; write to standard output (-) and send "
           "it on from there"},
      {{in, "/dev/full", "2"}, 7, "/dev/full: write error: No space left on device"},
      // "-" for a standard stream closed at the start, not the null device
      // put in its place.
      {{in, "-", "2"}, 4, "-: standard output is closed", "2>'" + dir_.file("stderr") + "' >&-"},
      {{"-", out, "2"}, 3, "-: standard input is closed", "2>'" + dir_.file("stderr") + "' <&-"},
#endif
  };
  const Bytes old{'o', 'l', 'd'};
  for (const Case& c : cases) {
    bmptest::write_file(out, old);
    const std::vector<std::string> before = names_in(dir_.path());
    const ToolRun run = run_tool(dir_, c.args, c.redirections);
    EXPECT_EQ(run.status, c.status) << c.line;
    EXPECT_EQ(run.err, "bmpresize: " + c.line + "\n");
    EXPECT_EQ(run.out, "") << "the library's console line is not the tool's";
    EXPECT_EQ(bmptest::read_file(out), old) << c.line;
    EXPECT_EQ(names_in(dir_.path()), before) << c.line;
  }
#ifndef _WIN32
  close(listener);
#endif
}

#ifndef _WIN32
// Whether process `pid` has a file open in `dir` other than `input`: the
// output it is writing, named or not.
bool writing_in(pid_t pid, const std::string& dir, const std::string& input) {
  const std::string fds = "/proc/" + std::to_string(pid) + "/fd";
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(fds, error)) {
    const std::string target = std::filesystem::read_symlink(entry.path(), error).string();
    if (target.rfind(dir + "/", 0) == 0 && target != input) {
      return true;
    }
  }
  return false;
}

// Interrupted in the middle of a large output, by Ctrl-C or a termination
// signal, the tool leaves no file of its own, leaves the existing output as
// it was and ends as the signal would.
TEST_F(Tool, InterruptionLeavesNothingBehind) {
  bmptest::write_file(dir_.file("big.bmp"), bmptest::make_random_bmp(1000, 1000, 6));
  const std::string out = dir_.file("out.bmp");
  const Bytes old{'o', 'l', 'd'};
  for (int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
    bmptest::write_file(out, old);
    const std::vector<std::string> before = names_in(dir_.path());
    // 108 MB: long enough to be caught writing.
    const pid_t child = bmptest::start_tool({"-q", dir_.file("big.bmp"), out, "6"});
    ASSERT_GT(child, 0);
    for (int tries = 0; tries < 5000 && !writing_in(child, dir_.path(), dir_.file("big.bmp"));
         ++tries) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    kill(child, signal_number);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal_number) << signal_number;
    EXPECT_EQ(bmptest::read_file(out), old) << signal_number;
    EXPECT_EQ(names_in(dir_.path()), before) << signal_number;
  }
}

// The output's file: a symbolic link has its target replaced (the link
// stays), a new file gets the mode of the umask, a replaced one keeps its
// own, and a link to the input is still the input.
TEST_F(Tool, ReplacesTheLinksTargetAndKeepsModes) {
  ASSERT_EQ(symlink("target.bmp", dir_.file("link.bmp").c_str()), 0);
  ASSERT_EQ(symlink("in.bmp", dir_.file("in-link.bmp").c_str()), 0);
  const std::string target = dir_.file("target.bmp");
  ToolRun run = run_tool(dir_, {dir_.file("in.bmp"), dir_.file("link.bmp"), "2"}, "", "umask 027;");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(std::filesystem::symlink_status(dir_.file("link.bmp")).type(),
            std::filesystem::file_type::symlink);
  EXPECT_EQ(bmptest::check_enlargement(image_, bmptest::read_file(target), 2), "");
  struct stat info {};
  ASSERT_EQ(stat(target.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0640u) << "a new file: 0666 under umask 027";

  ASSERT_EQ(chmod(target.c_str(), 0604), 0);
  // The user's extended attributes go with the file too, where the file
  // system has them.
  const bool attributes = setxattr(target.c_str(), "user.origin", "scan", 4, 0) == 0;
  run = run_tool(dir_, {dir_.file("in.bmp"), dir_.file("link.bmp"), "3"});
  EXPECT_EQ(run.status, 0) << run.err;
  ASSERT_EQ(stat(target.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0604u) << "a replaced file keeps its mode";
  if (attributes) {
    char origin[8] = {};
    EXPECT_EQ(getxattr(target.c_str(), "user.origin", origin, sizeof origin), 4);
    EXPECT_STREQ(origin, "scan");
  }
  EXPECT_EQ(bmptest::check_enlargement(image_, bmptest::read_file(target), 3), "");

  run = run_tool(dir_, {dir_.file("in.bmp"), dir_.file("in-link.bmp"), "2"});
  EXPECT_EQ(run.status, 4);
  EXPECT_EQ(bmptest::read_file(dir_.file("in.bmp")), image_);
}

// "-" is standard input as INPUT and standard output as OUTPUT, in
// pipelines and with redirected files; a file named "-" is "./-". With "-"
// as FILE, the batch form refuses (see the batch tests).
TEST_F(Tool, DashIsStandardInputAndOutput) {
  const std::string in = "'" + dir_.file("in.bmp") + "'";
  const std::string out = "'" + dir_.file("out.bmp") + "'";
  bmptest::write_file(dir_.file("-"), image_);
  const struct Case {
    std::vector<std::string> args;
    std::string before, after;
    int factor;
  } cases[] = {
      {{dir_.file("in.bmp"), "-", "3"}, "", "2>/dev/null | cat >" + out, 3},
      {{"-", dir_.file("out.bmp"), "2"}, "", "<" + in, 2},
      {{"-", "-", "4"}, "cat " + in + " |", "2>/dev/null | cat >" + out, 4},
      {{"./-", dir_.file("out.bmp"), "5"}, "cd '" + dir_.path() + "' &&", "", 5},
  };
  for (const Case& c : cases) {
    std::remove(dir_.file("out.bmp").c_str());
    const ToolRun run = run_tool(dir_, c.args, c.after, c.before);
    EXPECT_EQ(run.status, 0) << c.before << " " << c.args[0] << " " << c.args[1];
    EXPECT_EQ(
        bmptest::check_enlargement(image_, bmptest::read_file(dir_.file("out.bmp")), c.factor), "")
        << c.before << " " << c.args[0] << " " << c.args[1];
  }
  // A refused input on standard input writes nothing to standard output.
  bmptest::write_file(dir_.file("out.bmp"), Bytes{'x'});
  const ToolRun refused = run_tool(dir_, {"-", "-", "2"}, "</dev/null >" + out + " 2>/dev/null");
  EXPECT_EQ(refused.status, 5);
  EXPECT_EQ(bmptest::read_file(dir_.file("out.bmp")), Bytes{});
}

// Every refusal of another kind of image ends with a command that converts
// it, with the user's own file name quoted for the shell; typed as it
// stands, the command works (checked when GraphicsMagick is installed).
TEST_F(Tool, ConversionHintsWorkWhenTyped) {
  const bool have_gm = std::system("gm version >/dev/null 2>&1") == 0;
  const std::string name = "my 'photo' 1";
  for (const char* kind : {"tiny.png"}) {
    const std::string input =
        dir_.file(name + (std::string(kind).find(".png") != std::string::npos ? ".png" : ".bmp"));
    bmptest::write_file(input, bmptest::read_file(bmptest::data_dir() + "/" + kind));
    const ToolRun run = run_tool(dir_, {input, dir_.file("out.bmp"), "2"});
    EXPECT_EQ(run.status, 5) << kind;
    const std::string quoted_in =
        "'" + dir_.path() + "/my '\\''photo'\\'' 1." + input.substr(input.size() - 3) + "'";
    const std::string quoted_out = "'" + dir_.path() + "/my '\\''photo'\\'' 1-plain.bmp'";
    const std::string gm = "gm convert " + quoted_in + " -compress None BMP3:" + quoted_out;
    const std::string want = "; " + bmptest::conversion_hint(quoted_in, quoted_out) + "\n";
    ASSERT_GE(run.err.size(), want.size()) << run.err;
    EXPECT_EQ(run.err.substr(run.err.size() - want.size()), want) << kind;
    if (have_gm) {
      ASSERT_EQ(std::system(gm.c_str()), 0) << gm;
      const ToolRun converted =
          run_tool(dir_, {dir_.path() + "/" + name + "-plain.bmp", dir_.file("out.bmp"), "2"});
      EXPECT_EQ(converted.status, 0) << kind << ": " << converted.err;
    }
    std::remove(input.c_str());
  }
  if (!have_gm) {
    GTEST_SKIP() << "GraphicsMagick (gm) is not installed: the commands were not run";
  }
}

// An output name as long as a folder entry may be, and a path as long as the
// system takes, work, new or replaced (the temporary name is shortened to
// fit); one byte more is refused with 4 before any work.
TEST_F(Tool, NamesAndPathsAtTheirLimits) {
  // Folders of 200-byte names down to `depth`, then a name that makes the
  // whole path `bytes` long.
  const auto path_of = [&](std::size_t bytes) {
    std::string path = dir_.path();
    while (path.size() + 1 + 200 + 1 + 10 < bytes) {
      path += "/" + std::string(200, 'd');
      mkdir(path.c_str(), 0755);
    }
    const std::size_t name = bytes - path.size() - 1;
    return path + "/" + std::string(name > 255 ? 255 : name - 4, 'n') + (name > 255 ? "" : ".bmp");
  };
  const struct Case {
    std::string output;
    int status;
  } cases[] = {
      {dir_.file(std::string(250, 'a') + ".bmp"), 0},  // 254 bytes
      {dir_.file(std::string(251, 'b') + ".bmp"), 0},  // 255
      {dir_.file(std::string(252, 'c') + ".bmp"), 4},  // 256
      {path_of(4095), 0},
      {path_of(4096), 4},
  };
  for (const Case& c : cases) {
    for (const char* state : {"new", "replaced"}) {
      const ToolRun run = run_tool(dir_, {dir_.file("in.bmp"), c.output, "2"});
      EXPECT_EQ(run.status, c.status) << c.output.size() << " bytes, " << state << ": " << run.err;
      if (c.status == 0) {
        EXPECT_EQ(bmptest::check_enlargement(image_, bmptest::read_file(c.output), 2), "");
      } else {
        EXPECT_NE(run.err.find(": cannot create: File name too long"), std::string::npos)
            << run.err;
      }
    }
  }
  EXPECT_EQ(std::system(("find '" + dir_.path() + "' -name '.*bmpresize-*' | grep -q .").c_str()),
            256)
      << "a temporary file was left";
}

// Names that are no plain entry of a folder, such as /dev/fd/N of a file
// the shell opened and deleted, are written through: the open file gets the
// image, and no file named after the link's text appears.
TEST_F(Tool, NamesThatAreNoPlainEntryAreWrittenThrough) {
  const std::string v = "'" + dir_.file("v.bmp") + "'";
  const ToolRun run = run_tool(
      dir_, {dir_.file("in.bmp"), "/dev/fd/3", "2"},
      "2>'" + dir_.file("stderr") + "'; s=$?; cat /dev/fd/3 >'" + dir_.file("copy") + "'; exit $s",
      "exec 3<>" + v + "; rm " + v + ";");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(bmptest::check_enlargement(image_, bmptest::read_file(dir_.file("copy")), 2), "");
  EXPECT_EQ(names_in(dir_.path()), (std::vector<std::string>{"copy", "in.bmp"}));
}

// A stream as INPUT ("-", /dev/stdin, <(...) of bash) is kept in a temporary file
// only as far as its headers say the image goes, its last row's padding
// included: refused headers are refused after their first 18 bytes, and the
// bytes beyond the image are left unread, so that images one after the
// other in one stream, or in a file given as standard input, are read one
// after the other, each from where the last left off. A missing temporary
// folder is named.
TEST_F(Tool, StreamsAreReadOnlyAsFarAsTheirHeadersSay) {
  const std::string in = "'" + dir_.file("in.bmp") + "'";
  const std::string out = dir_.file("out.bmp");
  const std::string left =
      " 2>'" + dir_.file("stderr") + "'; s=$?; wc -c >'" + dir_.file("left") + "'; exit $s) ";
  const auto unread = [&] {
    const Bytes text = bmptest::read_file(dir_.file("left"));
    return std::stoull(std::string(text.begin(), text.end()));
  };
  // 7 x 5: 54 + 4 x 24 + 21 bytes make the image; the last padding is not needed.
  ToolRun run = run_tool(dir_, {"-", out, "2"}, "<&0" + left,
                         "(cat " + in + "; head -c 100000 /dev/zero) | (");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(unread(), 100000u);
  EXPECT_EQ(bmptest::check_enlargement(image_, bmptest::read_file(out), 2), "");
  run = run_tool(dir_, {"-", out, "2"}, "<&0" + left, "head -c 50000000 /dev/zero | (");
  EXPECT_EQ(run.status, 5);
  EXPECT_EQ(unread(), 50000000u - 18u);
  // Two images in a pipe, in a file as standard input, and the second alone
  // after another program read the first.
  const Bytes second = bmptest::make_random_bmp(3, -2, 4);
  bmptest::write_file(dir_.file("two.bmp"), bmptest::concat({image_, second}));
  const std::string two = "'" + dir_.file("two.bmp") + "'";
  const std::string out2 = dir_.file("out2.bmp");
  // (The second run in a subshell: the command runs the tool in its place.)
  const std::string then_second = "&& (" + bmptest::tool_command({"-", out2, "3"}) + ")" + left;
  const std::string skip_first =
      "dd bs=" + std::to_string(image_.size()) + " count=1 of=/dev/null status=none; ";
  const struct Feed {
    std::string before, after;
    bool both;
  } feeds[] = {{"cat " + two + " | (", then_second, true},
               {"(", then_second + "<" + two, true},
               {"(" + skip_first, left + "<" + two, false}};
  for (const Feed& feed : feeds) {
    std::remove(out.c_str());
    std::remove(out2.c_str());
    run = run_tool(dir_, {"-", out, "2"}, feed.after, feed.before);
    EXPECT_EQ(run.status, 0) << feed.before << run.err;
    EXPECT_EQ(unread(), 0u) << feed.before;
    EXPECT_EQ(bmptest::check_enlargement(feed.both ? image_ : second, bmptest::read_file(out), 2),
              "")
        << feed.before;
    if (feed.both) {
      EXPECT_EQ(bmptest::check_enlargement(second, bmptest::read_file(out2), 3), "") << feed.before;
    }
  }
  std::remove(out.c_str());
  run = run_tool(dir_, {"/dev/stdin", out, "3"}, "2>'" + dir_.file("stderr") + "'",
                 "cat " + in + " | ");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(bmptest::check_enlargement(image_, bmptest::read_file(out), 3), "");
  run = run_tool(dir_, {"-", out, "2"}, "<" + in + " 2>'" + dir_.file("stderr") + "'",
                 "cat " + in + " | TMPDIR=" + dir_.file("nowhere"));
  EXPECT_EQ(run.status, 0) << "a redirected file needs no temporary file";
  run = run_tool(dir_, {"-", out, "2"}, "2>'" + dir_.file("stderr") + "'",
                 "cat " + in + " | TMPDIR=" + dir_.file("nowhere"));
  EXPECT_EQ(run.status, 7);
  EXPECT_EQ(run.err, "bmpresize: -: cannot keep it in a temporary file in " + dir_.file("nowhere") +
                         ": No such file or directory\n");
}

// The tool replaces only what its user may write, and follows a link only
// where the kernel would: a read-only output, another user's writable file
// in a sticky folder and (where the kernel protects them) a link in a
// sticky world-writable folder are refused with 4 before any work. Run as
// root, a replaced file keeps its owner and its mode.
TEST_F(Tool, PermissionsAsTheSystemChecksThem) {
  const bool root = geteuid() == 0;
  if (root &&
      (std::system("setpriv --version >/dev/null 2>&1") != 0 || !bmptest::tool_is_plain())) {
    GTEST_SKIP() << "no setpriv, or an emulator, to run the tool as an unprivileged user";
  }
  const std::string as_nobody = "setpriv --reuid=65534 --regid=65534 --clear-groups";
  ASSERT_EQ(chmod(dir_.path().c_str(), 0777), 0);
  ASSERT_EQ(mkdir(dir_.file("sticky").c_str(), 01777), 0);
  ASSERT_EQ(chmod(dir_.file("sticky").c_str(), 01777), 0);
  const Bytes old{'o', 'l', 'd'};
  const auto refused = [&](const std::string& output, const std::string& user) {
    const ToolRun run = run_tool(dir_, {dir_.file("in.bmp"), output, "2"}, "", user);
    EXPECT_EQ(run.status, 4) << output << ": " << run.err;
    EXPECT_NE(run.err.find(": cannot create: "), std::string::npos) << run.err;
  };
  bmptest::write_file(dir_.file("read-only.bmp"), old);
  ASSERT_EQ(chmod(dir_.file("read-only.bmp").c_str(), 0444), 0);
  refused(dir_.file("read-only.bmp"), root ? as_nobody : "");
  EXPECT_EQ(bmptest::read_file(dir_.file("read-only.bmp")), old);
  if (!root) {
    GTEST_SKIP() << "the other cases need a second user";
  }
  bmptest::write_file(dir_.file("sticky/others.bmp"), old);
  ASSERT_EQ(chmod(dir_.file("sticky/others.bmp").c_str(), 0666), 0);
  refused(dir_.file("sticky/others.bmp"), as_nobody);
  EXPECT_EQ(bmptest::read_file(dir_.file("sticky/others.bmp")), old);
  EXPECT_EQ(names_in(dir_.file("sticky")), std::vector<std::string>{"others.bmp"});
  // The sticky folder's owner may replace anyone's file in it.
  ASSERT_EQ(mkdir(dir_.file("nobodys-sticky").c_str(), 01777), 0);
  ASSERT_EQ(chmod(dir_.file("nobodys-sticky").c_str(), 01777), 0);
  ASSERT_EQ(chown(dir_.file("nobodys-sticky").c_str(), 65534, 65534), 0);
  bmptest::write_file(dir_.file("nobodys-sticky/roots.bmp"), old);
  ASSERT_EQ(chmod(dir_.file("nobodys-sticky/roots.bmp").c_str(), 0666), 0);
  const ToolRun owner = run_tool(
      dir_, {dir_.file("in.bmp"), dir_.file("nobodys-sticky/roots.bmp"), "2"}, "", as_nobody);
  EXPECT_EQ(owner.status, 0) << owner.err;
  EXPECT_EQ(bmptest::check_enlargement(
                image_, bmptest::read_file(dir_.file("nobodys-sticky/roots.bmp")), 2),
            "");

  ASSERT_EQ(symlink(dir_.file("target.bmp").c_str(), dir_.file("sticky/link.bmp").c_str()), 0);
  ASSERT_EQ(lchown(dir_.file("sticky/link.bmp").c_str(), 65534, 65534), 0);
  const Bytes protection = bmptest::read_file("/proc/sys/fs/protected_symlinks");
  if (!protection.empty() && protection[0] == '1') {
    refused(dir_.file("sticky/link.bmp"), "");
    EXPECT_FALSE(bmptest::file_exists(dir_.file("target.bmp")));
  }

  // A file its user may write in a folder they may not: said of the folder,
  // with the way to write into the file itself.
  ASSERT_EQ(mkdir(dir_.file("locked").c_str(), 0755), 0);
  bmptest::write_file(dir_.file("locked/open.bmp"), old);
  ASSERT_EQ(chmod(dir_.file("locked/open.bmp").c_str(), 0666), 0);
  const ToolRun locked =
      run_tool(dir_, {dir_.file("in.bmp"), dir_.file("locked/open.bmp"), "2x3"}, "", as_nobody);
  EXPECT_EQ(locked.status, 4);
  EXPECT_EQ(locked.err, "bmpresize: " + dir_.file("locked") +
                            ": cannot make a new file in this folder (Permission denied), where "
                            "the enlargement is written before it takes the place of " +
                            dir_.file("locked/open.bmp") +
                            "; to write into that file itself, send it through standard output: "
                            "bmpresize " +
                            dir_.file("in.bmp") + " - 2x3 > " + dir_.file("locked/open.bmp") +
                            "\n");
  EXPECT_EQ(bmptest::read_file(dir_.file("locked/open.bmp")), old);

  bmptest::write_file(dir_.file("nobodys.bmp"), old);
  ASSERT_EQ(chown(dir_.file("nobodys.bmp").c_str(), 65534, 65534), 0);
  ASSERT_EQ(chmod(dir_.file("nobodys.bmp").c_str(), 04751), 0);
  const ToolRun run = run_tool(dir_, {dir_.file("in.bmp"), dir_.file("nobodys.bmp"), "2"});
  EXPECT_EQ(run.status, 0) << run.err;
  struct stat info {};
  ASSERT_EQ(stat(dir_.file("nobodys.bmp").c_str(), &info), 0);
  EXPECT_EQ(info.st_uid, 65534u);
  EXPECT_EQ(info.st_gid, 65534u);
  EXPECT_EQ(info.st_mode & 07777, 04751u);
  EXPECT_EQ(bmptest::check_enlargement(image_, bmptest::read_file(dir_.file("nobodys.bmp")), 2),
            "");
}

// An output opened for appending (">>") has its space reserved where the
// image goes, after what the file holds, not over a hole before it.
TEST_F(Tool, SpaceIsReservedWhereAnAppendedImageGoes) {
  bmptest::write_file(dir_.file("big.bmp"), bmptest::make_random_bmp(1000, 1000, 6));
  const std::string sparse = dir_.file("sparse");
  ASSERT_EQ(std::system(("truncate -s 64M '" + sparse + "'").c_str()), 0);
  const ToolRun run = run_tool(dir_, {dir_.file("big.bmp"), "-", "2"},
                               ">>'" + sparse + "' 2>'" + dir_.file("stderr") + "'");
  EXPECT_EQ(run.status, 0) << run.err;
  struct stat info {};
  ASSERT_EQ(stat(sparse.c_str(), &info), 0);
  const std::uint64_t image = static_cast<std::uint64_t>(info.st_size) - (64u << 20);
  EXPECT_EQ(image, 54u + 2000u * 6000u);
  EXPECT_LT(static_cast<std::uint64_t>(info.st_blocks) * 512, image + image / 4)
      << "space was reserved in the hole before the image";
}

// What a terminal of `columns` columns shows after `output`: enough of one
// to follow a progress line (carriage returns, line ends, erasing to the
// end of the line, and lines that wrap at the last column).
std::vector<std::string> screen_after(const std::string& output, std::size_t columns) {
  std::vector<std::string> rows(1);
  std::size_t column = 0;
  bool wrap_next = false;
  for (std::size_t i = 0; i < output.size(); ++i) {
    const char c = output[i];
    if (c == '\r') {
      column = 0;
      wrap_next = false;
    } else if (c == '\n') {
      rows.emplace_back();
      wrap_next = false;
    } else if (c == '\033' && output.compare(i, 3, "\033[K") == 0) {
      rows.back().resize(std::min(rows.back().size(), column));
      i += 2;
    } else {
      if (wrap_next) {
        rows.emplace_back();
        column = 0;
        wrap_next = false;
      }
      rows.back().resize(std::max(rows.back().size(), column + 1), ' ');
      rows.back()[column] = c;
      wrap_next = ++column == columns;
      column = wrap_next ? columns - 1 : column;
    }
  }
  return rows;
}

// Ctrl-C typed at a narrow terminal while the progress line is shown: the
// terminal's "^C" must not wrap the line, and the line is gone afterwards.
TEST_F(Tool, CtrlCLeavesNoProgressLine) {
  bmptest::write_file(dir_.file("big.bmp"), bmptest::make_random_bmp(1000, 1000, 6));
  ASSERT_EQ(mkfifo(dir_.file("out.pipe").c_str(), 0600), 0);
  // The output is read slowly, so that the run lasts long enough to show
  // its progress.
  std::atomic<bool> slow{true};
  std::thread reader =
      bmptest::read_pipe(dir_.file("out.pipe"), [&](const std::uint8_t*, std::size_t) {
        if (slow.load()) {
          std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return true;
      });
  winsize size{};
  size.ws_col = 40;
  size.ws_row = 24;
  int terminal = -1;
  const pid_t child = forkpty(&terminal, nullptr, nullptr, &size);
  ASSERT_GE(child, 0);
  if (child == 0) {
    const std::string command =
        bmptest::tool_command({dir_.file("big.bmp"), dir_.file("out.pipe"), "3"});
    execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  std::string shown;
  bool interrupted = false;
  char chunk[4096];
  for (;;) {
    const ssize_t got = read(terminal, chunk, sizeof chunk);
    if (got <= 0) {
      break;  // the tool is gone
    }
    shown.append(chunk, static_cast<std::size_t>(got));
    if (!interrupted && shown.find('%') != std::string::npos) {
      ASSERT_EQ(write(terminal, "\003", 1), 1);  // Ctrl-C, as typed
      interrupted = true;
    }
  }
  slow.store(false);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  reader.join();
  close(terminal);
  ASSERT_TRUE(interrupted) << "no progress line was shown: " << shown;
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT);
  for (const std::string& row : screen_after(shown, 40)) {
    EXPECT_EQ(row.find('%'), std::string::npos) << "left on the screen: " << row;
  }
}

// A file-size limit (ulimit -f) is a write error, whoever writes: one
// thread, or either of two on a large image. Nothing is left behind.
TEST_F(Tool, AFileSizeLimitIsAWriteError) {
  const Bytes large = bmptest::make_random_bmp(1203, -1201, 17);  // 4.3 MB: split in two
  bmptest::write_file(dir_.file("large.bmp"), large);
  const Bytes old{'o', 'l', 'd'};
  const struct Case {
    const char* input;
    const char* factor;
    const char* limit_kib;
  } cases[] = {
      {"large.bmp", "2", "12000"},  // 17.3 MB in two halves: only the second reaches the limit
      {"large.bmp", "2", "64"},     // both do
      {"in.bmp", "200", "64"},      // one thread
  };
  for (const Case& c : cases) {
    bmptest::write_file(dir_.file("out.bmp"), old);
    const std::vector<std::string> before = names_in(dir_.path());
    const ToolRun run = run_tool(dir_, {dir_.file(c.input), dir_.file("out.bmp"), c.factor}, "",
                                 std::string("ulimit -f ") + c.limit_kib + ";");
    EXPECT_EQ(run.status, 7) << c.input << " " << c.limit_kib << ": " << run.err;
    EXPECT_NE(run.err.find("write error: File too large"), std::string::npos) << run.err;
    EXPECT_EQ(bmptest::read_file(dir_.file("out.bmp")), old) << c.input << " " << c.limit_kib;
    EXPECT_EQ(names_in(dir_.path()), before) << c.input << " " << c.limit_kib;
  }
}

#endif

}  // namespace
