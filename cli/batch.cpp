#include "batch.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <map>
#include <memory>
#include <new>
#include <string>
#include <system_error>
#include <thread>

#include "bmpresize.h"
#include "console.h"
#include "enlarge.h"
#include "progress.h"
#include "report.h"

namespace bmpresize {
namespace {

// The last path component of `path`, ignoring trailing separators, as
// basename(1) has it ("a/b.bmp" -> "b.bmp", "a/dir/" -> "dir").
std::string base_name(const std::string& path) {
  std::size_t end = path.size();
  while (end > 1 && std::string(kPathSeparators).find(path[end - 1]) != std::string::npos) {
    --end;
  }
  const std::size_t slash = path.find_last_of(kPathSeparators, end - (end > 0 ? 1 : 0));
  if (slash == std::string::npos || end <= 1) {
    return path.substr(0, end);
  }
  return path.substr(slash + 1, end - slash - 1);
}

// One FILE of the run.
struct Job {
  std::string input;
  std::string output;
  std::uint64_t input_size = 0;  // 0 when unknown; only weighs the progress bar
  std::string refusal;           // a failure line when the file is refused unconverted
};

// What became of one FILE.
struct JobResult {
  int status = 0;  // exit status: 0 or a result code
  std::uint64_t written = 0;
};

// Where each FILE goes, with the files refused before any work: a FILE whose
// name an earlier FILE already has, and a FILE whose output is another FILE
// of the run (through a link), which writing it would destroy.
std::vector<Job> plan_jobs(const std::vector<std::string>& files, const std::string& dir) {
  const bool ends_in_separator = std::string(kPathSeparators).find(dir.back()) != std::string::npos;
  const std::string folder = ends_in_separator ? dir : dir + "/";
  std::vector<Job> jobs(files.size());
  std::map<std::string, std::size_t> first_with_name;
  std::map<std::pair<std::uint64_t, std::uint64_t>, std::size_t> input_index;
  for (std::size_t i = 0; i < files.size(); ++i) {
    Job& job = jobs[i];
    job.input = files[i];
    const std::string name = base_name(job.input);
    job.output = folder + name;
    const auto first = first_with_name.emplace(name_key(name), i);
    if (!first.second) {
      job.refusal = "bmpresize: " + shown_name(job.input) + ": same name as " +
                    shown_name(jobs[first.first->second].input) + "; both would be written to " +
                    shown_name(job.output) + ", so it was skipped\n";
    }
    const PathFacts facts = facts_of(files[i]);
    if (facts.error == 0) {
      input_index.emplace(std::make_pair(facts.volume, facts.file), i);
      job.input_size = facts.size;
    }
  }
  for (Job& job : jobs) {
    const PathFacts facts = facts_of(job.output);
    if (!job.refusal.empty() || facts.error != 0) {
      continue;
    }
    const auto other = input_index.find(std::make_pair(facts.volume, facts.file));
    // The output being its own input is the core's to refuse.
    if (other != input_index.end() && jobs[other->second].input != job.input) {
      job.refusal = "bmpresize: " + shown_name(job.output) + ": is the same file as the input " +
                    shown_name(jobs[other->second].input) + "; refusing to overwrite it\n";
    }
  }
  return jobs;
}

// The status of the run, and the summary line when something failed (or
// with -v and other than one file).
int summarise(const Arguments& args, const std::vector<JobResult>& results, double seconds,
              BatchConsole& console) {
  int exit_status = 0;
  std::size_t failed = 0;
  std::uint64_t total_written = 0;
  for (const JobResult& result : results) {
    if (result.status != 0) {
      ++failed;
      if (exit_status == 0) {
        exit_status = result.status;
      }
    }
    total_written += result.written;
  }
  if (failed > 0 || (args.verbose && results.size() != 1)) {
    std::string line = "bmpresize: " + std::to_string(results.size() - failed) + " of " +
                       std::to_string(results.size()) + (results.size() == 1 ? " file" : " files") +
                       " enlarged, " + std::to_string(failed) + " failed";
    if (args.verbose) {
      line += " (" + human_bytes(static_cast<double>(total_written)) + " in " +
              duration_text(seconds) + ")";
    }
    console.print(line + "\n");
  }
  return exit_status;
}

// Enlarges one FILE, or reports why it was refused.
JobResult run_job(const Arguments& args, const Job& job, BatchConsole& console,
                  BatchConsole::Slot& slot, void* work) {
  JobResult result;
  console.begin_file(slot, job.input_size);
  if (!job.refusal.empty()) {
    result.status = bmpresize_exit_status(BMPRESIZE_E_OUTPUT_OPEN);
    console.end_file(slot, 0);
    console.print(job.refusal);
    return result;
  }
  const double start = seconds_now();
  Enlargement how;
  how.across = args.across;
  how.down = args.down;
  how.progress = &BatchConsole::report;
  how.progress_context = &slot;
  how.work = work;
  // The workers already keep the processors busy: one thread per file.
  how.split = false;
  how.uncompressed = args.uncompressed;
  const bmpresize_result outcome = enlarge_file(job.input, job.output, how);
  const bool ok = outcome.error == BMPRESIZE_OK;
  console.end_file(slot, ok ? outcome.output_bytes : 0);
  if (!ok) {
    result.status = bmpresize_exit_status(outcome.error);
    console.print(failure_line(job.input, job.output, outcome));
  } else {
    result.written = outcome.output_bytes;
    if (args.verbose) {
      console.print(success_line(job.input, job.output, factor_text(args.across, args.down),
                                 outcome.output_bytes, seconds_now() - start));
    }
  }
  return result;
}

// Runs work(0) on this thread and work(k), 0 < k < workers, each on a
// thread of its own. Where no more threads can be started, this thread and
// those started take the rest.
template <class Work>
void run_workers(std::size_t workers, const Work& work) {
  std::vector<std::thread> helpers;
  helpers.reserve(workers - 1);
  for (std::size_t worker = 1; worker < workers; ++worker) {
    try {
      helpers.emplace_back([&work, worker] { work(worker); });
    } catch (const std::system_error&) {
      break;
    }
  }
  work(0);
  for (std::thread& helper : helpers) {
    helper.join();
  }
}

}  // namespace

int run_batch(const Arguments& args) {
  const std::vector<Job> jobs = plan_jobs(args.files, args.output_dir);
  std::uint64_t input_bytes = 0;
  for (const Job& job : jobs) {
    input_bytes += job.input_size;
  }
  // Each worker's buffer, taken before any worker starts: where memory is
  // short, fewer workers (the last one on the core's own buffer).
  std::vector<std::unique_ptr<std::uint8_t[]>> buffers;
  // One worker for no file (an empty LIST, a runner's empty share): the run
  // ends at once, as it does with files.
  std::size_t workers = std::min(args.jobs, std::max<std::size_t>(jobs.size(), 1));
  buffers.reserve(workers);
  while (buffers.size() < workers) {
    // Not value-initialised: the rows overwrite whatever a page holds.
    std::unique_ptr<std::uint8_t[]> buffer(new (std::nothrow) std::uint8_t[kWorkBytes]);
    if (!buffer) {
      workers = buffers.empty() ? 1 : buffers.size();
      break;
    }
    buffers.push_back(std::move(buffer));
  }
  BatchConsole console(!args.quiet && stderr_is_terminal(), jobs.size(), input_bytes, workers);
  // Each result is written by the one worker that took its index and read
  // after every worker has been joined.
  std::vector<JobResult> results(jobs.size());
  std::atomic<std::size_t> next{0};
  const double start = seconds_now();
  const auto work = [&](std::size_t worker) {
    BatchConsole::Slot& slot = console.slot(worker);
    void* const rows = worker < buffers.size() ? buffers[worker].get() : nullptr;
    for (std::size_t i = next.fetch_add(1); i < jobs.size(); i = next.fetch_add(1)) {
      try {
        results[i] = run_job(args, jobs[i], console, slot, rows);
      } catch (const std::bad_alloc&) {
        // Its output went with its object; the other files may still fit.
        results[i].status = kExitOutOfMemory;
        print_out_of_memory(jobs[i].input);
      }
    }
  };

  run_workers(workers, work);
  console.finish();
  return summarise(args, results, seconds_now() - start, console);
}

}  // namespace bmpresize
