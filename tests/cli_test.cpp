// The bmpresize tool: arguments, exit status and the one line it prints.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <string>
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

TEST_F(Tool, SucceedsSilently) {
  const ToolRun run = run_tool(dir_, {dir_.file("in.bmp"), dir_.file("out.bmp"), "3"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(bmptest::check_enlargement(image_, bmptest::read_file(dir_.file("out.bmp")), 3), "");
}

TEST_F(Tool, VerboseSaysWhatItDid) {
  const ToolRun run = run_tool(dir_, {"-v", dir_.file("in.bmp"), dir_.file("out.bmp"), "2"});
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.err.find("enlarged 2x into " + dir_.file("out.bmp")), std::string::npos) << run.err;
  EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1);
}

TEST_F(Tool, UsageErrors) {
  const std::string in = dir_.file("in.bmp");
  const std::string out = dir_.file("out.bmp");
  const std::vector<std::vector<std::string>> cases = {
      {},
      {in, out},
      {in, out, "2", "extra"},
      {in, out, "2x"},
      {in, out, "1.5"},
      {in, out, "two"},
      {in, out, ""},
      {"-z", in, out, "2"},
      // Beyond the library's int: never clamped to a factor that fits.
      {in, out, "4294967298"},
      {in, out, "2147483648"},
      {in, out, "-99999999999999999999"},
  };
  for (const auto& args : cases) {
    const ToolRun run = run_tool(dir_, args);
    EXPECT_EQ(run.status, 2) << args.size() << " arguments";
    EXPECT_NE(run.err.find("usage: bmpresize"), std::string::npos) << run.err;
    if (args.size() == 3 && args[2].size() > 9) {
      EXPECT_NE(run.err.find("factor " + args[2] + " is out of range"), std::string::npos)
          << run.err;
      EXPECT_NE(run.err.find("1 to 2147483647"), std::string::npos) << run.err;
    }
  }
  EXPECT_FALSE(bmptest::file_exists(out));
}

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

// A reader that goes away: the write fails and the tool says so (7), rather
// than dying of SIGPIPE.
TEST_F(Tool, AReaderThatGoesAwayIsAWriteError) {
  ASSERT_EQ(mkfifo(dir_.file("pipe").c_str(), 0600), 0);
  bmptest::write_file(dir_.file("big.bmp"), bmptest::make_random_bmp(300, 200, 5));
  std::size_t read = 0;
  std::thread reader =
      bmptest::read_pipe(dir_.file("pipe"), [&](const std::uint8_t*, std::size_t got) {
        read += got;
        return read < 1000;
      });
  const ToolRun run = run_tool(dir_, {dir_.file("big.bmp"), dir_.file("pipe"), "8"});
  reader.join();
  EXPECT_EQ(run.status, 7) << run.err;
  EXPECT_NE(run.err.find("Broken pipe"), std::string::npos) << run.err;
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

// Each failure: its exit status and the line that says what is wrong.
TEST_F(Tool, ExplainsEachFailure) {
  bmptest::BmpFields v5;
  v5.width = 1;
  v5.height = 1;
  v5.info_size = 124;
  v5.pixel_offset = 138;
  bmptest::write_file(dir_.file("v5.bmp"), bmptest::make_bmp(v5, Bytes(88, 0)));
  bmptest::BmpFields pal8;
  pal8.width = 4;
  pal8.height = 1;
  pal8.bit_count = 8;
  pal8.pixel_offset = 54 + 1024;
  bmptest::write_file(dir_.file("pal8.bmp"), bmptest::make_bmp(pal8, Bytes(1028, 0)));
  bmptest::write_file(dir_.file("cut.bmp"), Bytes(image_.begin(), image_.end() - 30));
  bmptest::write_file(dir_.file("narrow.bmp"), bmptest::make_random_bmp(3, 1, 9));

  const std::string in = dir_.file("in.bmp");
  const std::string out = dir_.file("out.bmp");
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string line;
  } cases[] = {
      {{dir_.file("missing.bmp"), out, "2"},
       3,
       dir_.file("missing.bmp") + ": cannot open: No such file or directory"},
      {{dir_.path(), out, "2"}, 3, dir_.path() + ": is a directory, not a BMP file"},
      {{in, dir_.file("nowhere/out.bmp"), "2"},
       4,
       dir_.file("nowhere/out.bmp") + ": cannot create: No such file or directory"},
      {{in, in, "2"}, 4, in + ": output is the same file as the input"},
      {{dir_.file("pal8.bmp"), out, "2"},
       5,
       dir_.file("pal8.bmp") + ": 8 bits per pixel; only 24-bit uncompressed BMP is supported"},
      {{dir_.file("v5.bmp"), out, "2"},
       5,
       dir_.file("v5.bmp") +
           ": 124-byte (V5) header; only the 40-byte header is supported: re-save it as a plain "
           "24-bit BMP"},
      // 7 x 5: rows of 24 bytes; the last needs only 21: 54 + 96 + 21 = 171.
      {{dir_.file("cut.bmp"), out, "2"},
       5,
       dir_.file("cut.bmp") + ": file is truncated: the header declares 171 bytes, the file has " +
           std::to_string(image_.size() - 30)},
      {{in, out, "0"}, 6, out + ": factor 0 is below 1; nothing to enlarge"},
      {{in, out, "-3"}, 6, out + ": factor -3 is below 1; nothing to enlarge"},
      // 3 x 1 at 40000: 40000 rows of 360000 bytes, 13.4 GiB.
      {{dir_.file("narrow.bmp"), out, "40000"},
       6,
       out + ": the enlarged image would be 13.4 GiB; BMP files cannot exceed 4 GiB"},
      {{in, "/dev/full", "2"},
       7,
       "/dev/full: write error: No space left on device; the output was emptied"},
  };
  for (const Case& c : cases) {
    const ToolRun run = run_tool(dir_, c.args);
    EXPECT_EQ(run.status, c.status) << c.line;
    EXPECT_EQ(run.err, "bmpresize: " + c.line + "\n");
    EXPECT_EQ(run.out, "") << "the library's console line is not the tool's";
  }
}

}  // namespace
