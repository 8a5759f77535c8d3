// The bmpresize tool's FILE... form (-f FACTOR -o DIR, -j N) and its manual.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <signal.h>
#include <sys/wait.h>
#endif

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bmp_testing.h"
#include "tool_runner.h"

namespace {

using bmptest::Bytes;
using bmptest::run_tool;
using bmptest::ToolRun;

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    lines.push_back(line);
  }
  return lines;
}

std::vector<std::string> joined(std::vector<std::string> head,
                                const std::vector<std::string>& tail) {
  head.insert(head.end(), tail.begin(), tail.end());
  return head;
}

std::vector<std::string> sorted(std::vector<std::string> lines) {
  std::sort(lines.begin(), lines.end());
  return lines;
}

bool starts_with(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

// Good inputs in <tmp>/in and an empty folder <tmp>/out for the outputs.
class Batch : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(std::filesystem::create_directory(std::filesystem::u8path(dir_.file("in"))));
    ASSERT_TRUE(std::filesystem::create_directory(std::filesystem::u8path(dir_.file("out"))));
  }

  // Writes `image` as in/<name> and returns its path.
  std::string add_input(const std::string& name, const Bytes& image) {
    const std::string path = dir_.file("in/" + name);
    bmptest::write_file(path, image);
    images_.push_back(image);
    return path;
  }

  std::string in(const std::string& name) const { return dir_.file("in/" + name); }
  std::string out(const std::string& name) const { return dir_.file("out/" + name); }

  // Eight inputs of different shapes: odd widths (padding), top-down, empty,
  // and one large enough that workers overlap.
  std::vector<std::string> add_eight_inputs() {
    const struct {
      const char* name;
      std::int32_t width;
      std::int32_t height;
    } shapes[] = {
        {"a.bmp", 7, 5}, {"b.bmp", 1, 1}, {"c.bmp", 13, -4},    {"d.bmp", 0, 3},
        {"e.bmp", 4, 0}, {"f.bmp", 2, 9}, {"g.bmp", 320, -240}, {"h.bmp", 31, 17},
    };
    std::vector<std::string> paths;
    std::uint32_t seed = 11;
    for (const auto& shape : shapes) {
      // Some with junk after the last row, which is not copied.
      paths.push_back(add_input(
          shape.name, bmptest::make_random_bmp(shape.width, shape.height, seed, seed % 3)));
      ++seed;
    }
    return paths;
  }

  bmptest::TempDir dir_;
  std::vector<Bytes> images_;  // in the order added
};

// Every FILE enlarged into the folder under its own name, with nothing said,
// whatever the number of workers, also when memory is too short for them
// all (then fewer work at once).
TEST_F(Batch, EnlargesEachFileIntoTheFolder) {
  const std::vector<std::string> inputs = add_eight_inputs();
  const struct {
    std::vector<std::string> jobs;
    std::string before;
  } runs[] = {{{}, ""},
              {{"-j", "1"}, ""},
              {{"-j", "3"}, ""},
              {{"-j3"}, ""},
              {{"--jobs=8"}, ""},
              {{"--jobs", "50"}, ""},
              {{"-j", "1024"}, bmptest::tool_is_plain() ? "ulimit -v 50000;" : ""}};
  for (const auto& [jobs, before] : runs) {
    const std::string label = (jobs.empty() ? "default" : jobs.back()) + " " + before;
    for (const char* name :
         {"a.bmp", "b.bmp", "c.bmp", "d.bmp", "e.bmp", "f.bmp", "g.bmp", "h.bmp"}) {
      std::remove(out(name).c_str());
    }
    const ToolRun run = run_tool(
        dir_, joined(jobs, joined({"-f", "3", "-o", dir_.file("out")}, inputs)), "", before);
    EXPECT_EQ(run.status, 0) << label;
    EXPECT_EQ(run.err, "") << label;
    EXPECT_EQ(run.out, "") << label;
    for (std::size_t i = 0; i < inputs.size(); ++i) {
      const std::string name = inputs[i].substr(inputs[i].rfind('/') + 1);
      ASSERT_TRUE(bmptest::file_exists(out(name))) << label << " " << name;
      EXPECT_EQ(bmptest::check_enlargement(images_[i], bmptest::read_file(out(name)), 3), "")
          << label << " " << name;
    }
  }
}

// A folder given with a trailing slash, and bundled options.
TEST_F(Batch, OptionSpellings) {
  const std::string a = add_input("a.bmp", bmptest::make_random_bmp(5, 3, 1));
  const std::vector<std::vector<std::string>> cases = {
      {"--factor=2", "--output-dir=" + dir_.file("out") + "/", a},
      {"-qj", "2", "-f2", "-o" + dir_.file("out"), a},
  };
  for (const auto& args : cases) {
    std::remove(out("a.bmp").c_str());
    const ToolRun run = run_tool(dir_, args);
    EXPECT_EQ(run.status, 0) << args[0] << " " << args[1] << ": " << run.err;
    EXPECT_EQ(bmptest::check_enlargement(images_[0], bmptest::read_file(out("a.bmp")), 2), "");
  }
}

// What each of -q, -v and neither prints when everything succeeds.
TEST_F(Batch, SuccessOutputByVerbosity) {
  const std::string a = add_input("a.bmp", bmptest::make_random_bmp(5, 3, 1));
  const std::string b = add_input("b.bmp", bmptest::make_random_bmp(2, 2, 2));
  const std::string o = dir_.file("out");
  // 5 x 3 at 2: rows of 30 bytes, 32 with padding, 6 rows: 54 + 192 = 246 bytes.
  // 2 x 2 at 2: rows of 12 bytes, 4 rows: 54 + 48 = 102 bytes.
  const std::string a_line =
      "bmpresize: " + a + ": enlarged 2x into " + out("a.bmp") + " (246 bytes) in ";
  const std::string b_line =
      "bmpresize: " + b + ": enlarged 2x into " + out("b.bmp") + " (102 bytes) in ";
  const struct Case {
    std::vector<std::string> args;
    std::vector<std::string> line_starts;  // in any order, then the summary if any
    std::string summary_start;
  } cases[] = {
      {{"-f", "2", "-o", o, a, b}, {}, ""},
      {{"-q", "-f", "2", "-o", o, a, b}, {}, ""},
      {{"-v", "-f", "2", "-o", o, a}, {a_line}, ""},
      {{"-v", "-j", "2", "-f", "2", "-o", o, a, b},
       {a_line, b_line},
       "bmpresize: 2 of 2 files enlarged, 0 failed (348 bytes in "},
  };
  for (const Case& c : cases) {
    const ToolRun run = run_tool(dir_, c.args);
    EXPECT_EQ(run.status, 0) << run.err;
    std::vector<std::string> lines = lines_of(run.err);
    if (!c.summary_start.empty()) {
      ASSERT_FALSE(lines.empty());
      EXPECT_TRUE(starts_with(lines.back(), c.summary_start)) << lines.back();
      lines.pop_back();
    }
    ASSERT_EQ(lines.size(), c.line_starts.size()) << run.err;
    lines = sorted(lines);
    const std::vector<std::string> starts = sorted(c.line_starts);
    for (std::size_t i = 0; i < lines.size(); ++i) {
      EXPECT_TRUE(starts_with(lines[i], starts[i])) << lines[i];
    }
  }
}

// Failures among good files: the good ones are still enlarged, each failure
// has its one whole line (in any order: workers finish when they may), a
// summary comes last, and the exit status is that of the first failing FILE
// in argument order. A FILE named like an earlier one (as the folder
// compares names: without letter case on Windows), and a FILE whose output
// is the input itself or another FILE of the run, are refused with 4 and
// write nothing; no input is ever changed.
TEST_F(Batch, FailuresAreReportedPerFile) {
  ASSERT_TRUE(std::filesystem::create_directory(std::filesystem::u8path(in("other"))));
  const std::string a = add_input("a.bmp", bmptest::make_random_bmp(9, 4, 1));
  const std::string b = add_input("b.bmp", bmptest::make_random_bmp(3, -6, 2));
  const std::string c = add_input("c.bmp", bmptest::make_random_bmp(300, 200, 3));
#ifdef _WIN32
  const std::string a2 = add_input("other/A.bmp", bmptest::make_random_bmp(3, 3, 4));
#else
  const std::string a2 = add_input("other/a.bmp", bmptest::make_random_bmp(3, 3, 4));
#endif
  const std::string pal8 = in("rle.bmp");
  bmptest::write_file(pal8, bmptest::damaged_rle8_bmp());
  const std::string missing = in("missing.bmp");
  const std::string o = dir_.file("out");
  const std::string missing_line =
      "bmpresize: " + missing + ": cannot open: " + bmptest::missing_file_text();
  const std::string pal8_line =
      "bmpresize: " + pal8 +
      ": a run-length code reaches column 5 of rows 2 pixels wide; the encoded pixels are damaged";
  const std::string a2_line = "bmpresize: " + a2 + ": same name as " + a +
                              "; both would be written to " + out(a2.substr(a2.size() - 5)) +
                              ", so it was skipped";
  std::vector<std::string> many_missing, many_lines;
  for (int i = 0; i < 40; ++i) {
    many_missing.push_back(in("missing-with-a-rather-long-name-" + std::to_string(i) + ".bmp"));
    many_lines.push_back("bmpresize: " + many_missing.back() +
                         ": cannot open: " + bmptest::missing_file_text());
  }
  const std::string three_of_five = "bmpresize: 3 of 5 files enlarged, 2 failed";
  const struct Case {
    std::vector<std::string> args;
    int status;
    std::vector<std::string> lines;  // the summary last
    bool out_b_is_a = false;         // out/b.bmp a link to a.bmp, made first
  } cases[] = {
      {{"-o", o, a, missing, b, pal8, c}, 3, {missing_line, pal8_line, three_of_five}},
      {{"-o", o, a, pal8, b, missing, c}, 5, {missing_line, pal8_line, three_of_five}},
      // The large file first keeps one worker busy while the others fail.
      {{"-j", "3", "-o", o, c, a, missing, b, pal8}, 3, {missing_line, pal8_line, three_of_five}},
      {{"-j", "3", "-o", o, c, pal8, a, b, missing}, 5, {missing_line, pal8_line, three_of_five}},
      {{"-q", "-o", o, a, b, missing, c},
       3,
       {missing_line, "bmpresize: 3 of 4 files enlarged, 1 failed"}},
      {{"-o", o, missing}, 3, {missing_line, "bmpresize: 0 of 1 file enlarged, 1 failed"}},
      {{"-j", "3", "-o", o, a, a2, b}, 4, {a2_line, "bmpresize: 2 of 3 files enlarged, 1 failed"}},
      {{"-j", "2", "-o", o, a, b, a2, a2},
       4,
       {a2_line, a2_line, "bmpresize: 2 of 4 files enlarged, 2 failed"}},
      // An earlier failure of another kind decides the exit status.
      {{"-o", o, missing, a, a2},
       3,
       {missing_line, a2_line, "bmpresize: 1 of 3 files enlarged, 2 failed"}},
      {{"-o", in(""), a},
       4,
       {"bmpresize: " + a + ": output is the same file as the input",
        "bmpresize: 0 of 1 file enlarged, 1 failed"}},
      // out/b.bmp is a link to a: writing it would destroy a.
      {{"-j", "2", "-o", o, a, b},
       4,
       {"bmpresize: " + out("b.bmp") + ": is the same file as the input " + a +
            "; refusing to overwrite it",
        "bmpresize: 1 of 2 files enlarged, 1 failed"},
       true},
      // A factor no file can take: said once, before any file is touched.
      {{"-o", o, "-f", "0", a, missing}, 6, {"bmpresize: factor 0 is below 1; nothing to enlarge"}},
      {{"-o", o, "-f", "2x-3", a}, 6, {"bmpresize: factor -3 is below 1; nothing to enlarge"}},
      {joined({"-j", "8", "-o", o}, many_missing), 3,
       joined(many_lines, {"bmpresize: 0 of 40 files enlarged, 40 failed"})},
  };
  for (const Case& t : cases) {
    std::filesystem::remove_all(std::filesystem::u8path(o));
    std::filesystem::create_directory(std::filesystem::u8path(o));
    if (t.out_b_is_a) {
      // A hard link, which every system allows; a symbolic one looks the
      // same to the tool.
      std::filesystem::create_hard_link(std::filesystem::u8path(a),
                                        std::filesystem::u8path(out("b.bmp")));
    }
    const ToolRun run = run_tool(dir_, joined({"-f", "2"}, t.args));
    EXPECT_EQ(run.status, t.status) << run.err;
    EXPECT_EQ(run.out, "");
    std::vector<std::string> lines = lines_of(run.err);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), t.lines.back());
    lines.pop_back();
    EXPECT_EQ(sorted(lines), sorted(std::vector<std::string>(t.lines.begin(), t.lines.end() - 1)))
        << run.err;
    const std::string inputs[] = {a, b, c, a2};
    for (std::size_t i = 0; i < 4; ++i) {
      const std::string& input = inputs[i];
      EXPECT_EQ(bmptest::read_file(input), images_[i]) << input << " changed";
      const std::string output = out(input.substr(input.rfind('/') + 1));
      const bool enlarged =
          std::find(t.args.begin(), t.args.end(), input) != t.args.end() &&
          !(i == 3 || (i == 1 && t.out_b_is_a) || t.status == 6 || t.args[1] == in(""));
      if (enlarged) {
        EXPECT_EQ(bmptest::check_enlargement(images_[i], bmptest::read_file(output), 2), "")
            << output;
      }
    }
    // A refused FILE leaves no file at all in the folder.
    EXPECT_FALSE(bmptest::file_exists(out("rle.bmp")));
    EXPECT_FALSE(bmptest::file_exists(out("missing.bmp")));
  }
}

// A DIR that is no existing folder, or a LIST that cannot be read: exit 2
// with the usage, and nothing written, not even the FILE before the LIST
// (the parser's own tests have the other wrong arguments).
TEST_F(Batch, UsageErrors) {
  const std::string a = add_input("a.bmp", bmptest::make_random_bmp(5, 3, 1));
  const std::string none = dir_.file("no-such-folder");
  const std::vector<std::vector<std::string>> cases = {
      {"-f", "2", "-o", none, a},
      {"-f", "2", "-o", a, a},  // a file, not a folder
      {"-f", "2", "-o", "", a},
      {"-j", "0", "-f", "2", "-o", dir_.file("out"), a},
      {"-f", "2", "-o", dir_.file("out"), "--files-from", none, a},
      {"-f", "2", "-o", dir_.file("out"), "--files-from", in(""), a},  // a folder
  };
  for (const auto& args : cases) {
    const ToolRun run = run_tool(dir_, args);
    EXPECT_EQ(run.status, 2) << args[3];
    EXPECT_NE(run.err.find("\nTry 'bmpresize --help'"), std::string::npos) << run.err;
    EXPECT_FALSE(bmptest::file_exists(out("a.bmp"))) << args[3];
    EXPECT_FALSE(bmptest::file_exists(none)) << args[3];
  }
}

// Names from a LIST, after the FILEs: the same outputs, lines, summary and
// exit status as the same names given as FILEs in that order (a FILE
// before the LIST fails first). Names with spaces (and, where a name may hold one, a line
// break) come through -0 from a file and from standard input; a list of
// lines with Windows' line breaks too, longer than one read of it.
TEST_F(Batch, NamesFromAListAsFromFiles) {
  const std::string a = add_input("a b.bmp", bmptest::make_random_bmp(9, 4, 1));
#ifdef _WIN32
  const std::string b = add_input("b.bmp", bmptest::make_random_bmp(3, -6, 2));
#else
  const std::string b = add_input("two\nlines.bmp", bmptest::make_random_bmp(3, -6, 2));
#endif
  const std::string c = add_input("c.bmp", bmptest::make_random_bmp(30, 20, 3));
  const std::string rle = in("rle.bmp");
  bmptest::write_file(rle, bmptest::damaged_rle8_bmp());
  const std::string missing = in("missing.bmp");
  const std::string o = dir_.file("out");
  const auto list = [&](const std::string& name, const std::vector<std::string>& names,
                        const std::string& end) {
    std::string text;
    for (const std::string& each : names) {
      text += each + end;
    }
    bmptest::write_file(dir_.file(name), Bytes(text.begin(), text.end()));
    return dir_.file(name);
  };
  const std::string nul_list = list("nul-list", {a, missing, b}, std::string(1, '\0'));
  const std::string crlf_list =
      list("crlf-list", {a, missing, std::string(70000, '\n') + c, rle}, "\r\n");
  const std::vector<std::string> head = {"-j", "2", "-f", "2", "-o", o};
  const struct Case {
    std::vector<std::string> files;  // as FILEs, the same run
    std::vector<std::string> args;
    std::string redirections;
    int status;
  } cases[] = {
      {{rle, a, missing, b}, joined(head, {"-0", "--files-from", nul_list, rle}), "", 5},
#ifndef _WIN32
      {{rle, a, missing, b},
       joined(head, {"--null", "--files-from=-", rle}),
       "<'" + nul_list + "' >'" + dir_.file("stdout") + "' 2>'" + dir_.file("stderr") + "'",
       5},
#endif
      {{a, missing, c, rle}, joined(head, {"--files-from", crlf_list}), "", 3},
  };
  // Each output there is, in one order; the folder emptied for the next run.
  const auto outputs = [&] {
    std::vector<Bytes> bytes;
    for (const std::string& name : {a, b, c, rle, missing}) {
      const std::string output = out(name.substr(name.rfind('/') + 1));
      bytes.push_back(bmptest::file_exists(output) ? bmptest::read_file(output) : Bytes{});
    }
    std::filesystem::remove_all(std::filesystem::u8path(o));
    std::filesystem::create_directory(std::filesystem::u8path(o));
    return bytes;
  };
  for (const Case& t : cases) {
    const ToolRun files = run_tool(dir_, joined(head, t.files));
    const std::vector<Bytes> files_outputs = outputs();
    const ToolRun listed = run_tool(dir_, t.args, t.redirections);
    EXPECT_EQ(listed.status, t.status) << listed.err;
    EXPECT_EQ(files.status, t.status) << files.err;
    EXPECT_EQ(listed.out, "");
    ASSERT_FALSE(lines_of(listed.err).empty());
    EXPECT_EQ(lines_of(listed.err).back(), lines_of(files.err).back());  // the summary
    EXPECT_EQ(sorted(lines_of(listed.err)), sorted(lines_of(files.err)));
    EXPECT_TRUE(outputs() == files_outputs) << "the outputs differ from those of the FILEs";
    EXPECT_EQ(bmptest::check_enlargement(images_[0], files_outputs[0], 2), "");
  }
  // An empty list (a runner's empty share) is a run of no file; a missing
  // one is wrong arguments.
  const ToolRun empty = run_tool(dir_, joined(head, {"-v", "--files-from", list("empty", {}, "")}));
  EXPECT_EQ(empty.status, 0) << empty.err;
  EXPECT_TRUE(starts_with(empty.err, "bmpresize: 0 of 0 files enlarged, 0 failed (")) << empty.err;
  const ToolRun missing_list = run_tool(dir_, joined(head, {"--files-from", missing}));
  EXPECT_EQ(missing_list.status, 2);
  EXPECT_EQ(missing_list.err, "bmpresize: cannot read the list " + missing + ": " +
                                  bmptest::missing_file_text() +
                                  "\nTry 'bmpresize --help' for more information.\n");
}

#ifndef _WIN32
// Ctrl-C or SIGTERM at any moment of a batch that replaces its outputs:
// every output is the old file or the complete new one, no temporary file
// is left, and nothing is said about files the clean-up removed. The
// moments are many and seeded, so that a failure can be replayed.
TEST_F(Batch, InterruptionAtAnyMomentLeavesNothingBehind) {
  std::vector<std::string> inputs;
  for (std::int32_t i = 0; i < 24; ++i) {
    inputs.push_back(
        add_input(std::to_string(i) + ".bmp", bmptest::make_random_bmp(40, 30 + i, 7)));
  }
  const Bytes old{'o', 'l', 'd'};
  std::mt19937 delays(2026);
  for (int run = 0; run < 120; ++run) {
    for (int i = 0; i < 24; ++i) {
      bmptest::write_file(out(std::to_string(i) + ".bmp"), old);
    }
    const int signal_number = run % 2 == 0 ? SIGINT : SIGTERM;
    const int child = bmptest::start_tool(
        joined({"-q", "-j", "4", "-f", "3", "-o", dir_.file("out")}, inputs), dir_.file("err"));
    ASSERT_GT(child, 0);
    std::this_thread::sleep_for(std::chrono::microseconds(delays() % 4000));
    kill(child, signal_number);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    const std::string where = "run " + std::to_string(run);
    const Bytes err = bmptest::read_file(dir_.file("err"));
    EXPECT_EQ(std::string(err.begin(), err.end()), "") << where;
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir_.file("out"))) {
      names.insert(entry.path().filename().string());
    }
    EXPECT_EQ(names.size(), 24u) << where << ": a file of the tool's was left";
    for (std::size_t i = 0; i < 24; ++i) {
      const Bytes now = bmptest::read_file(out(std::to_string(i) + ".bmp"));
      EXPECT_TRUE(now == old || bmptest::check_enlargement(images_[i], now, 3).empty())
          << where << ": " << i << ".bmp";
    }
  }
}
#endif

// The option names of a section of the manual page: words that begin with
// one or two dashes, once the roff escapes are gone.
std::set<std::string> man_options(const std::string& page, const std::string& section) {
  const std::size_t start = page.find("\n.SH " + section + "\n");
  EXPECT_NE(start, std::string::npos) << section;
  if (start == std::string::npos) {
    return {};
  }
  const std::size_t end = page.find("\n.SH ", start + 1);
  std::string text;
  const std::string raw = page.substr(start, end - start);
  for (std::size_t i = 0; i < raw.size(); ++i) {
    if (raw.compare(i, 2, "\\-") == 0) {
      text += '-';
      ++i;
    } else if (raw.compare(i, 2, "\\f") == 0 && i + 2 < raw.size()) {
      text += ' ';
      i += 2;
    } else {
      text += raw[i];
    }
  }
  std::set<std::string> names;
  for (std::size_t i = 0; i + 1 < text.size(); ++i) {
    const bool word_start = i == 0 || std::isspace(static_cast<unsigned char>(text[i - 1])) ||
                            text[i - 1] == '[' || text[i - 1] == '(' || text[i - 1] == '"';
    if (!word_start || text[i] != '-') {
      continue;
    }
    std::size_t j = i + 1;
    if (text[j] == '-') {
      ++j;
    }
    if (j == i + 1 && j < text.size() && text[j] == '0' &&
        (j + 1 == text.size() || !std::isalnum(static_cast<unsigned char>(text[j + 1])))) {
      names.insert("-0");  // the one option that is a digit
      continue;
    }
    if (j >= text.size() || !std::isalpha(static_cast<unsigned char>(text[j]))) {
      continue;
    }
    while (j < text.size() && (std::isalpha(static_cast<unsigned char>(text[j])) ||
                               (text[j] == '-' && j + 1 < text.size() &&
                                std::isalpha(static_cast<unsigned char>(text[j + 1]))))) {
      ++j;
    }
    names.insert(text.substr(i, j - i));
  }
  return names;
}

// Whether `text` has `option` as a word of its own.
bool mentions(const std::string& text, const std::string& option) {
  for (std::size_t at = text.find(option); at != std::string::npos;
       at = text.find(option, at + 1)) {
    const auto edge = [](char c) {
      return !std::isalnum(static_cast<unsigned char>(c)) && c != '-';
    };
    const bool before = at == 0 || edge(text[at - 1]);
    const bool after = at + option.size() == text.size() || edge(text[at + option.size()]);
    if (before && after) {
      return true;
    }
  }
  return false;
}

// --help and the manual page list the same options.
TEST(ManPage, HelpListsEveryOptionOfThePage) {
  const Bytes raw = bmptest::read_file(BMPRESIZE_MAN_PAGE);
  const std::string page(raw.begin(), raw.end());
  std::set<std::string> options = man_options(page, "OPTIONS");
  const std::set<std::string> synopsis = man_options(page, "SYNOPSIS");
  // The parser must see the options known to exist, or the test proves nothing.
  for (const char* known : {"-f", "--factor", "-o", "--output-dir", "-j", "--jobs", "-q", "-v",
                            "--help", "--version", "--files-from", "-0", "--null"}) {
    EXPECT_EQ(options.count(known), 1u) << known;
  }
  for (const std::string& option : synopsis) {
    EXPECT_EQ(options.count(option), 1u) << option << " is in the synopsis but not described";
  }

  bmptest::TempDir dir;
  const ToolRun help = run_tool(dir, {"--help"});
  ASSERT_EQ(help.status, 0);
  for (const std::string& option : options) {
    EXPECT_TRUE(mentions(help.out, option)) << option << " is missing from --help";
  }
  // And the other way: every option --help lists is on the page.
  const std::size_t listed = help.out.find("Options:");
  ASSERT_NE(listed, std::string::npos);
  std::istringstream lines(help.out.substr(listed));
  for (std::string line; std::getline(lines, line) && (line.empty() || line[0] != 'E');) {
    std::istringstream words(line);
    for (std::string word; words >> word;) {
      if (word.size() > 1 && word[0] == '-') {
        if (word.back() == ',') {
          word.pop_back();
        }
        EXPECT_EQ(options.count(word), 1u) << word << " is in --help but not on the page";
      }
    }
  }
  // Every exit status on the page is explained by --help too.
  for (const char* status : {"0", "2", "3", "4", "5", "6", "7"}) {
    EXPECT_NE(page.find("\n.TP\n.B " + std::string(status) + "\n"), std::string::npos) << status;
    EXPECT_NE(help.out.find("\n  " + std::string(status) + "  "), std::string::npos) << status;
  }
}

}  // namespace
