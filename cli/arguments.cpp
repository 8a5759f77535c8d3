#include "arguments.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "bmpresize.h"

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

// Parses a whole number in decimal, with an optional sign, that lies
// within [lowest, highest]: FACTOR's parts and -j's N alike.
bool parse_number(const std::string& text, long long lowest, long long highest, long long& number) {
  if (!is_whole_number(text, true)) {
    return false;
  }
  errno = 0;
  const long long value = std::strtoll(text.c_str(), nullptr, 10);
  if (errno == ERANGE || value < lowest || value > highest) {
    return false;
  }
  number = value;
  return true;
}

// Parses FACTOR as every program on the engine reads it. Sets `problem`
// when it is no factor.
bool parse_factor(const std::string& text, Arguments& parsed, std::string& problem) {
  bmpresize_result result{};
  if (text.find('\0') == std::string::npos &&
      bmpresize_parse_factor(text.c_str(), &parsed.across, &parsed.down, &result) == BMPRESIZE_OK) {
    return true;
  }
  problem = result.have == 2
                ? "factor " + text + " is out of range: each factor is a whole number from 1 to " +
                      "2147483647"
                : "FACTOR must be a whole number, or ACROSSxDOWN such as 3x2, not \"" + text + "\"";
  return false;
}

// The most files enlarged at once.
constexpr long long kMaxJobs = 1024;

// Parses N of -j: a whole number from 1 to kMaxJobs.
bool parse_jobs(const std::string& text, std::size_t& jobs) {
  long long value = 0;
  if (!parse_number(text, 1, kMaxJobs, value)) {
    return false;
  }
  jobs = static_cast<std::size_t>(value);
  return true;
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
  std::string factor, output_dir, jobs, list;
  bool has_factor = false, has_output_dir = false, has_jobs = false;
  int lists = 0;  // how many times --files-from was given
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
  if (batch.lists > 1) {
    return usage_error("--files-from can be given once: one LIST per run");
  }
  if (files.empty() && batch.lists == 0) {
    return usage_error("no FILE given");
  }
  for (const std::string& file : files) {
    if (std::string problem = file_problem(file); !problem.empty()) {
      return usage_error(problem);
    }
  }
  if (std::string problem; !parse_factor(batch.factor, parsed, problem)) {
    return usage_error(problem);
  }
  if (batch.has_jobs && !parse_jobs(batch.jobs, parsed.jobs)) {
    return usage_error("-j needs a whole number from 1 to " + std::to_string(kMaxJobs) +
                       ", not \"" + batch.jobs + "\"");
  }
  parsed.action = Action::enlarge_batch;
  parsed.output_dir = batch.output_dir;
  parsed.files = std::move(files);
  parsed.from_list = batch.lists > 0;
  parsed.list = batch.list;
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
  if (std::string problem; !parse_factor(positional[2], parsed, problem)) {
    return usage_error(problem);
  }
  parsed.action = Action::enlarge;
  parsed.input = positional[0];
  parsed.output = positional[1];
  return parsed;
}

// Stores the value of -f, -o, -j or --files-from ('l').
void take_value(char option, const std::string& value, BatchOptions& batch) {
  batch.given = true;
  switch (option) {
    case 'l':
      batch.list = value;
      ++batch.lists;
      break;
    case 'f':
      batch.factor = value;
      batch.has_factor = true;
      break;
    case 'o':
      batch.output_dir = value;
      batch.has_output_dir = true;
      break;
    default:
      batch.jobs = value;
      batch.has_jobs = true;
      break;
  }
}

// A long option, "--name" or "--name=value"; the value may also be the next
// argument, which `i` then moves past.
bool take_long_option(const std::vector<std::string>& args, std::size_t& i, Arguments& parsed,
                      BatchOptions& batch, std::string& problem) {
  const std::string& arg = args[i];
  const std::size_t equals = arg.find('=');
  const std::string name = arg.substr(0, equals);
  static const struct {
    const char* name;
    char option;
  } kValued[] = {{"--factor", 'f'}, {"--output-dir", 'o'}, {"--jobs", 'j'}, {"--files-from", 'l'}};
  for (const auto& valued : kValued) {
    if (name == valued.name) {
      if (equals == std::string::npos && i + 1 >= args.size()) {
        problem = "option " + arg + " needs a value";
        return false;
      }
      take_value(valued.option, equals == std::string::npos ? args[++i] : arg.substr(equals + 1),
                 batch);
      return true;
    }
  }
  if (arg == "--quiet") {
    parsed.quiet = true;
  } else if (arg == "--verbose") {
    parsed.verbose = true;
  } else if (arg == "--uncompressed") {
    parsed.uncompressed = true;
  } else if (arg == "--null") {
    parsed.null_separated = true;
  } else if (arg == "--help") {
    parsed.action = Action::help;
  } else if (arg == "--version") {
    parsed.action = Action::version;
  } else {
    problem = "unknown option " + arg;
    return false;
  }
  return true;
}

// Short options, alone or bundled as in other tools: "-q", "-qv", "-f3",
// "-vf 3", "-j2", "-0". A value ends the bundle: the rest of the argument,
// or the next argument, whatever it looks like (so "-f -2" works).
bool take_short_options(const std::vector<std::string>& args, std::size_t& i, Arguments& parsed,
                        BatchOptions& batch, std::string& problem) {
  const std::string& arg = args[i];
  for (std::size_t at = 1; at < arg.size(); ++at) {
    const char option = arg[at];
    if (option == 'q' || option == 'v' || option == 'h' || option == '0') {
      parsed.quiet = parsed.quiet || option == 'q';
      parsed.verbose = parsed.verbose || option == 'v';
      parsed.null_separated = parsed.null_separated || option == '0';
      parsed.action = option == 'h' ? Action::help : parsed.action;
      continue;
    }
    if (option != 'f' && option != 'o' && option != 'j') {
      problem = std::string("unknown option -") + option;
      return false;
    }
    if (at + 1 == arg.size() && i + 1 >= args.size()) {
      problem = std::string("option -") + option + " needs a value";
      return false;
    }
    take_value(option, at + 1 < arg.size() ? arg.substr(at + 1) : args[++i], batch);
    return true;
  }
  return true;
}

}  // namespace

std::string file_problem(const std::string& file) {
  if (file == "-") {
    return "- (standard input or output) works only as INPUT or OUTPUT of "
           "\"bmpresize INPUT OUTPUT FACTOR\", not as a FILE";
  }
  return "";
}

Arguments parse_arguments(const std::vector<std::string>& args) {
  Arguments parsed;
  BatchOptions batch;
  std::vector<std::string> positional;
  bool options_done = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    // "-" names standard input or output; "-3" is a (negative) number, but
    // "-0" (and "-0q") is the option, as in xargs.
    const bool is_option = !options_done && arg.size() > 1 && arg[0] == '-' &&
                           !(arg[1] >= '1' && arg[1] <= '9') &&
                           !(arg[1] == '0' && arg.size() > 2 && arg[2] >= '0' && arg[2] <= '9');
    std::string problem;
    if (!is_option) {
      positional.push_back(arg);
    } else if (arg == "--") {
      options_done = true;
    } else if (arg[1] == '-' ? !take_long_option(args, i, parsed, batch, problem)
                             : !take_short_options(args, i, parsed, batch, problem)) {
      return usage_error(problem);
    }
    if (parsed.action == Action::help || parsed.action == Action::version) {
      return parsed;
    }
  }
  if (parsed.quiet && parsed.verbose) {
    return usage_error("-q and -v cannot be used together: choose one");
  }
  if (parsed.null_separated && batch.lists == 0) {
    return usage_error("-0 (--null) goes with --files-from LIST: it says how LIST separates names");
  }
  if (batch.given) {
    return batch_arguments(parsed, batch, std::move(positional));
  }
  return single_arguments(parsed, positional);
}

}  // namespace bmpresize
