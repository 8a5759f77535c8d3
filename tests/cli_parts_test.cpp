// The tool's parts that need no files: its command line, the names of a
// list and its progress line.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "arguments.h"
#include "file_list.h"
#include "progress.h"

namespace {

using bmpresize::Action;
using Words = std::vector<std::string>;

std::string joined(const Words& words) {
  std::string text;
  for (const std::string& word : words) {
    text += " [" + word + "]";
  }
  return text;
}

// Each spelling of an accepted command line, and what it asks for.
TEST(ParseArguments, ReadsEverySpellingOfTheTwoForms) {
  const struct Case {
    Words args;
    Action action;
    std::int32_t factor;
    std::string input_or_dir;  // INPUT, or DIR of the FILE... form
    std::size_t jobs;
    bool quiet, verbose;
    std::string list = "";  // --files-from's LIST, if given
    bool null_separated = false;
    Words files = {"a"};
    std::int32_t down = 0;  // 0: the same as factor, across
  } cases[] = {
      {{"in", "out", "3x2"}, Action::enlarge, 3, "in", 1, false, false, "", false, {"a"}, 2},
      {{"-f", "1X+4", "-o", "d", "a"},
       Action::enlarge_batch,
       1,
       "d",
       1,
       false,
       false,
       "",
       false,
       {"a"},
       4},
      {{"in", "out", "3"}, Action::enlarge, 3, "in", 1, false, false},
      {{"-v", "in", "out", "+3"}, Action::enlarge, 3, "in", 1, false, true},
      {{"-", "-", "2"}, Action::enlarge, 2, "-", 1, false, false},
      {{"in", "out", "-2"}, Action::enlarge, -2, "in", 1, false, false},  // the core refuses it
      {{"in", "out", "-00"}, Action::enlarge, 0, "in", 1, false, false},  // a number, not -0
      {{"--", "-q", "out", "2"}, Action::enlarge, 2, "-q", 1, false, false},
      {{"-f", "2", "-o", "d", "a"}, Action::enlarge_batch, 2, "d", 1, false, false},
      {{"-f2", "-od", "a"}, Action::enlarge_batch, 2, "d", 1, false, false},
      {{"--factor", "2", "--output-dir", "d", "a"}, Action::enlarge_batch, 2, "d", 1, false, false},
      {{"--factor=2", "--output-dir=d/", "a"}, Action::enlarge_batch, 2, "d/", 1, false, false},
      {{"-o", "d", "a", "-f", "2"}, Action::enlarge_batch, 2, "d", 1, false, false},
      {{"-qf2", "-o", "d", "a"}, Action::enlarge_batch, 2, "d", 1, true, false},
      {{"-qj", "2", "-f2", "-od", "a"}, Action::enlarge_batch, 2, "d", 2, true, false},
      {{"--jobs=8", "-f", "2", "-o", "d", "a"}, Action::enlarge_batch, 2, "d", 8, false, false},
      {{"-j1024", "-f", "2", "-o", "d", "a"}, Action::enlarge_batch, 2, "d", 1024, false, false},
      {{"-j", "+2", "-f", "+2", "-o", "d", "a"}, Action::enlarge_batch, 2, "d", 2, false, false},
      {{"-vf", "-2", "-o", "d", "a"}, Action::enlarge_batch, -2, "d", 1, false, true},
      // A LIST, with FILEs or without, its names ended by line breaks or NUL.
      {{"-f", "2", "-o", "d", "--files-from", "l"},
       Action::enlarge_batch,
       2,
       "d",
       1,
       false,
       false,
       "l",
       false,
       {}},
      {{"--files-from=-", "-0", "-f2", "-od", "a"},
       Action::enlarge_batch,
       2,
       "d",
       1,
       false,
       false,
       "-",
       true},
      {{"-q0j2", "--files-from", "-f", "-f2", "-od", "--null", "a"},
       Action::enlarge_batch,
       2,
       "d",
       2,
       true,
       false,
       "-f",
       true},
      {{"-0q", "--files-from", "l", "-f2", "-od"},
       Action::enlarge_batch,
       2,
       "d",
       1,
       true,
       false,
       "l",
       true,
       {}},
      {{"in", "--help"}, Action::help, 0, "", 1, false, false},
      {{"-h"}, Action::help, 0, "", 1, false, false},
      {{"--version", "x"}, Action::version, 0, "", 1, false, false},
  };
  for (const Case& c : cases) {
    const bmpresize::Arguments args = bmpresize::parse_arguments(c.args);
    ASSERT_EQ(args.action, c.action) << joined(c.args) << ": " << args.problem;
    if (c.action == Action::help || c.action == Action::version) {
      continue;
    }
    EXPECT_EQ(args.across, c.factor) << joined(c.args);
    EXPECT_EQ(args.down, c.down != 0 ? c.down : c.factor) << joined(c.args);
    EXPECT_EQ(c.action == Action::enlarge ? args.input : args.output_dir, c.input_or_dir)
        << joined(c.args);
    EXPECT_EQ(args.jobs, c.jobs) << joined(c.args);
    EXPECT_EQ(args.quiet, c.quiet) << joined(c.args);
    EXPECT_EQ(args.verbose, c.verbose) << joined(c.args);
    EXPECT_EQ(args.from_list, !c.list.empty()) << joined(c.args);
    EXPECT_EQ(args.list, c.list) << joined(c.args);
    EXPECT_EQ(args.null_separated, c.null_separated) << joined(c.args);
    if (c.action == Action::enlarge_batch) {
      EXPECT_EQ(args.files, c.files) << joined(c.args);
    } else {
      EXPECT_EQ(args.output, c.args[c.args.size() - 2]) << joined(c.args);
    }
  }
}

// Wrong command lines, each with the one line that says what is wrong.
TEST(ParseArguments, SaysWhatIsWrong) {
  const struct Case {
    Words args;
    std::string problem;
  } cases[] = {
      {{}, "missing arguments"},
      {{"in", "out"}, "missing arguments"},
      {{"in", "out", "2", "extra"}, "too many arguments"},
      {{"in", "out", "2x"},
       "FACTOR must be a whole number, or ACROSSxDOWN such as 3x2, not \"2x\""},
      {{"in", "out", "x2"},
       "FACTOR must be a whole number, or ACROSSxDOWN such as 3x2, not \"x2\""},
      {{"in", "out", "2x2x2"},
       "FACTOR must be a whole number, or ACROSSxDOWN such as 3x2, not \"2x2x2\""},
      {{"in", "out", "1.5"},
       "FACTOR must be a whole number, or ACROSSxDOWN such as 3x2, not \"1.5\""},
      {{"in", "out", ""}, "FACTOR must be a whole number, or ACROSSxDOWN such as 3x2, not \"\""},
      {{"-z", "in", "out", "2"}, "unknown option -z"},
      {{"--zoom", "in", "out", "2"}, "unknown option --zoom"},
      {{"-q", "-v", "in", "out", "2"}, "-q and -v cannot be used together: choose one"},
      {{"-vx", "in", "out", "2"}, "unknown option -x"},
      // Beyond the library's int: never clamped to a factor that fits.
      {{"in", "out", "2147483648"},
       "factor 2147483648 is out of range: each factor is a whole number from 1 to 2147483647"},
      {{"in", "out", "2x2147483648"},
       "factor 2x2147483648 is out of range: each factor is a whole number from 1 to 2147483647"},
      {{"in", "out", "-99999999999999999999"},
       "factor -99999999999999999999 is out of range: each factor is a whole number from 1 to "
       "2147483647"},
      {{"-o", "d", "a"}, "-f FACTOR is missing"},
      {{"-f", "2", "a"}, "-o DIR is missing"},
      {{"-f", "2", "-o", "d"}, "no FILE given"},
      {{"-j", "0", "-f", "2", "-o", "d", "a"}, "-j needs a whole number from 1 to 1024, not \"0\""},
      {{"-j", "-1", "-f", "2", "-o", "d", "a"},
       "-j needs a whole number from 1 to 1024, not \"-1\""},
      {{"-j", "1025", "-f", "2", "-o", "d", "a"},
       "-j needs a whole number from 1 to 1024, not \"1025\""},
      {{"-j", "99999999999999999999", "-f", "2", "-o", "d", "a"},
       "-j needs a whole number from 1 to 1024, not \"99999999999999999999\""},
      {{"-j", "1.5", "-f", "2", "-o", "d", "a"},
       "-j needs a whole number from 1 to 1024, not \"1.5\""},
      {{"-j", "2", "in", "out", "2"}, "-f FACTOR is missing"},  // -j selects the FILE... form
      {{"-f", "", "-o", "d", "a"},
       "FACTOR must be a whole number, or ACROSSxDOWN such as 3x2, not \"\""},
      {{"-f", "2", "-o", "d", "a", "-j"}, "option -j needs a value"},
      {{"-f", "2", "--output-dir"}, "option --output-dir needs a value"},
      {{"-f", "2", "-o", "d", "-"},
       "- (standard input or output) works only as INPUT or OUTPUT of \"bmpresize INPUT OUTPUT "
       "FACTOR\", not as a FILE"},
      {{"-f", "2", "-o", "d", "-0", "a"},
       "-0 (--null) goes with --files-from LIST: it says how LIST separates names"},
      {{"in", "out", "-0"},  // the option, not a factor
       "-0 (--null) goes with --files-from LIST: it says how LIST separates names"},
      {{"-f", "2", "-o", "d", "--files-from", "l", "--files-from=m"},
       "--files-from can be given once: one LIST per run"},
      {{"-f", "2", "-o", "d", "--files-from"}, "option --files-from needs a value"},
  };
  for (const Case& c : cases) {
    const bmpresize::Arguments args = bmpresize::parse_arguments(c.args);
    EXPECT_EQ(args.action, Action::usage_error) << joined(c.args);
    EXPECT_EQ(args.problem, c.problem) << joined(c.args);
  }
}

// A list's names, whatever pieces its bytes come in: exactly as written
// between separators, empty ones skipped, a carriage return before a line
// break dropped (only with line breaks, only one); a NUL among lines noticed.
TEST(NameSplitter, CutsAListIntoNames) {
  using namespace std::string_literals;
  const struct Case {
    std::string bytes;
    bool null_separated;
    Words names;
    bool saw_nul;
  } cases[] = {
      {"a.bmp\nb c.bmp\n\n  d \"e\"\\\n", false, {"a.bmp", "b c.bmp", "  d \"e\"\\"}, false},
      {"a\r\nb\r\n\r\nc", false, {"a", "b", "c"}, false},  // Windows' lines, no last break
      {"x\r\r\n\r\n\n", false, {"x\r"}, false},
      {"", false, {}, false},
      {"a\nb\0c d\0\0e"s, true, {"a\nb", "c d", "e"}, false},
      {"a\r\0\0"s, true, {"a\r"}, false},
      {"a\0b\0"s, false, {"a"s + '\0' + "b" + '\0'}, true},  // -0 forgotten
  };
  for (const Case& c : cases) {
    // Whole, then byte by byte, then in two halves.
    for (const std::size_t piece : {c.bytes.size(), std::size_t{1}, c.bytes.size() / 2 + 1}) {
      bmpresize::NameSplitter splitter(c.null_separated);
      Words names;
      for (std::size_t at = 0; at < c.bytes.size(); at += piece) {
        splitter.take(c.bytes.data() + at, std::min(piece, c.bytes.size() - at), names);
      }
      splitter.finish(names);
      EXPECT_EQ(names, c.names) << joined({c.bytes}) << " in pieces of " << piece;
      EXPECT_EQ(splitter.saw_nul(), c.saw_nul) << joined({c.bytes});
    }
  }
}

// The progress line: whatever the terminal's width, never as wide as the
// terminal (which would wrap it and leave a stale line at each redraw); the
// bar shortens first, then the fields go, the least useful first.
TEST(RenderProgress, FitsEveryWidthAndDropsFieldsInOrder) {
  bmpresize::ProgressFields fields;
  fields.done = 0.31;
  fields.amount = "1.1 GiB / 3.4 GiB";
  fields.bytes_per_second = 2.1 * 1024 * 1024 * 1024;
  fields.seconds_left = 61;
  const std::string fields_text = "  31%  1.1 GiB / 3.4 GiB  2.1 GiB/s  1:01 left";  // 46
  const struct Case {
    int columns;
    std::string want;
  } cases[] = {
      {200, "[#########---------------------]" + fields_text},            // the widest bar, 30
      {79, "[#########---------------------]" + fields_text},             // 78 characters
      {78, "[########---------------------]" + fields_text},              // the bar shortens
      {59, "[###-------]" + fields_text},                                 // down to 10
      {58, "[######--------------]  31%  1.1 GiB / 3.4 GiB  2.1 GiB/s"},  // then "left" goes
      {40, "[####---------]  31%  1.1 GiB / 3.4 GiB"},                    // then the rate
      {29, "[######---------------]  31%"},                               // then the amount
      {18, "[###-------]  31%"},
      {17, "  31%"},  // no room for a bar of 10
      {1, ""},
  };
  for (const Case& c : cases) {
    const std::string line = bmpresize::render_progress(fields, c.columns);
    EXPECT_EQ(line, c.want) << c.columns << " columns";
    EXPECT_LT(line.size(), static_cast<std::size_t>(c.columns)) << c.columns << " columns";
  }
}

}  // namespace
