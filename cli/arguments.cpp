#include "arguments.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

namespace bmpresize {
namespace {

// Whether `text` is a whole number in decimal, with an optional sign.
bool is_whole_number(const std::string& text, bool sign_allowed) {
  std::size_t at = sign_allowed && !text.empty() && (text[0] == '+' || text[0] == '-') ? 1 : 0;
  if (at == text.size()) {
    return false;
  }
  for (; at < text.size(); ++at) {
    if (text[at] < '0' || text[at] > '9') {
      return false;
    }
  }
  return true;
}

// Parses FACTOR: a whole number in decimal that the library's int holds
// (0 and negative ones too: the library refuses those itself). Sets
// `problem` when it is not.
bool parse_factor(const std::string& text, std::int32_t& factor, std::string& problem) {
  if (!is_whole_number(text, true)) {
    problem = "FACTOR must be a whole number, not \"" + text + "\"";
    return false;
  }
  errno = 0;
  const long long value = std::strtoll(text.c_str(), nullptr, 10);
  if (errno == ERANGE || value < INT32_MIN || value > INT32_MAX) {
    problem = "factor " + text + " is out of range: FACTOR is a whole number from 1 to 2147483647";
    return false;
  }
  factor = static_cast<std::int32_t>(value);
  return true;
}

// Parses N of -j: a whole number, 1 or more, in decimal digits only. Values
// beyond any useful count are clamped.
bool parse_jobs(const std::string& text, std::size_t& jobs) {
  if (!is_whole_number(text, false)) {
    return false;
  }
  errno = 0;
  const unsigned long long value = std::strtoull(text.c_str(), nullptr, 10);
  if (value == 0) {
    return false;
  }
  jobs = errno == ERANGE || value > 1024 ? 1024 : static_cast<std::size_t>(value);
  return true;
}

enum class Match { no, yes, missing_value };

// Whether args[i] is the option `short_name` or `long_name` with a value, as
// "-f 3", "-f3", "--factor 3" or "--factor=3". A value in the next argument
// is taken whatever it looks like (so "-f -2" works) and `i` moves past it.
Match option_value(const std::vector<std::string>& args, std::size_t& i, const char* short_name,
                   const std::string& long_name, std::string& value) {
  const std::string& arg = args[i];
  if (arg == short_name || arg == long_name) {
    if (i + 1 >= args.size()) {
      return Match::missing_value;
    }
    value = args[++i];
    return Match::yes;
  }
  if (arg[1] != '-' && arg.compare(0, 2, short_name) == 0) {
    value = arg.substr(2);
    return Match::yes;
  }
  if (arg.compare(0, long_name.size(), long_name) == 0 && arg.size() > long_name.size() &&
      arg[long_name.size()] == '=') {
    value = arg.substr(long_name.size() + 1);
    return Match::yes;
  }
  return Match::no;
}

Arguments usage_error(const std::string& problem) {
  Arguments wrong;
  wrong.action = Action::usage_error;
  wrong.problem = problem;
  return wrong;
}

// What the options of the FILE... form said, before they are checked.
struct BatchOptions {
  bool given = false;
  std::string factor, output_dir, jobs;
  bool has_factor = false, has_output_dir = false, has_jobs = false;
};

// The FILE... form: checks its options.
Arguments batch_arguments(Arguments parsed, const BatchOptions& batch,
                          std::vector<std::string> files) {
  if (!batch.has_factor) {
    return usage_error("-f FACTOR is missing");
  }
  if (!batch.has_output_dir) {
    return usage_error("-o DIR is missing");
  }
  if (files.empty()) {
    return usage_error("no FILE given");
  }
  if (std::string problem; !parse_factor(batch.factor, parsed.factor, problem)) {
    return usage_error(problem);
  }
  if (batch.has_jobs && !parse_jobs(batch.jobs, parsed.jobs)) {
    return usage_error("-j needs a whole number of 1 or more, not \"" + batch.jobs + "\"");
  }
  parsed.action = Action::enlarge_batch;
  parsed.output_dir = batch.output_dir;
  parsed.files = std::move(files);
  return parsed;
}

// The INPUT OUTPUT FACTOR form.
Arguments single_arguments(Arguments parsed, const std::vector<std::string>& positional) {
  if (positional.size() > 3) {
    return usage_error("too many arguments");
  }
  if (positional.size() < 3) {
    return usage_error("missing arguments");
  }
  if (std::string problem; !parse_factor(positional[2], parsed.factor, problem)) {
    return usage_error(problem);
  }
  parsed.action = Action::enlarge;
  parsed.input = positional[0];
  parsed.output = positional[1];
  return parsed;
}

// Takes the option args[i] (which starts with a dash); false with `problem`
// set when it is wrong.
bool take_option(const std::vector<std::string>& args, std::size_t& i, Arguments& parsed,
                 BatchOptions& batch, std::string& problem) {
  const std::string& arg = args[i];
  std::string value;
  Match match = Match::no;
  if (arg == "-q" || arg == "--quiet") {
    parsed.quiet = true;
  } else if (arg == "-v" || arg == "--verbose") {
    parsed.verbose = true;
  } else if ((match = option_value(args, i, "-f", "--factor", value)) == Match::yes) {
    batch.factor = value;
    batch.has_factor = batch.given = true;
  } else if (match == Match::no &&
             (match = option_value(args, i, "-o", "--output-dir", value)) == Match::yes) {
    batch.output_dir = value;
    batch.has_output_dir = batch.given = true;
  } else if (match == Match::no &&
             (match = option_value(args, i, "-j", "--jobs", value)) == Match::yes) {
    batch.jobs = value;
    batch.has_jobs = batch.given = true;
  } else if (match == Match::missing_value) {
    problem = "option " + arg + " needs a value";
    return false;
  } else {
    problem = "unknown option " + arg;
    return false;
  }
  return true;
}

}  // namespace

Arguments parse_arguments(const std::vector<std::string>& args) {
  Arguments parsed;
  BatchOptions batch;
  std::vector<std::string> positional;
  bool options_done = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const bool is_option =
        !options_done && arg.size() > 1 && arg[0] == '-' && !(arg[1] >= '0' && arg[1] <= '9');
    if (!is_option) {
      positional.push_back(arg);
    } else if (arg == "--") {
      options_done = true;
    } else if (arg == "-h" || arg == "--help") {
      parsed.action = Action::help;
      return parsed;
    } else if (arg == "--version") {
      parsed.action = Action::version;
      return parsed;
    } else if (std::string problem; !take_option(args, i, parsed, batch, problem)) {
      return usage_error(problem);
    }
  }
  if (batch.given) {
    return batch_arguments(parsed, batch, std::move(positional));
  }
  return single_arguments(parsed, positional);
}

}  // namespace bmpresize
