#include "enlarge.h"

#include <atomic>
#include <system_error>
#include <thread>

#include "platform.h"

namespace bmpresize {
namespace {

using bmpresizer::failed;
using bmpresizer::Failure;
using bmpresizer::Outcome;

// An open input, and whether it is the tool's to close.
struct Input {
  FileHandle handle = bmpresizer::kNoFile;
  bool owned = false;
};

Outcome open_input(const std::string& path, bmpresizer::WorkBuffer work, Input& input) {
  if (path != kStandardStream) {
    input.owned = true;
    return bmpresizer::open_input(native_path(path).c_str(), input.handle);
  }
  // A redirected file is read as it is; a pipe cannot be read twice, so its
  // bytes go to a temporary file first.
  input.handle = standard_input();
  if (is_regular_file(input.handle)) {
    return Outcome{};
  }
  int error = 0;
  if (!spool_to_temporary(input.handle, work, input.handle, error)) {
    return failed(Failure::read_failed, error);
  }
  input.owned = true;
  return Outcome{};
}

// Standard output, written straight through.
Outcome enlarge_to_stdout(FileHandle input, std::int32_t factor,
                          const bmpresizer::Progress* progress, bmpresizer::WorkBuffer work) {
  const FileHandle output = standard_output();
  if (is_regular_file(output) && same_open_file(input, output)) {
    return failed(Failure::output_is_input);
  }
  return bmpresizer::resize_open_files(input, output, factor, progress, work);
}

// A pipe, terminal or device: written directly, as the library would.
Outcome enlarge_to_device(const std::string& path, FileHandle input, std::int32_t factor,
                          const bmpresizer::Progress* progress, bmpresizer::WorkBuffer work) {
  FileHandle output = bmpresizer::kNoFile;
  const Outcome opened = bmpresizer::open_output(native_path(path).c_str(), input, output);
  if (!opened.ok()) {
    return opened;
  }
  const Outcome outcome = bmpresizer::resize_open_files(input, output, factor, progress, work);
  const Outcome closed = bmpresizer::close_file(output);
  return outcome.ok() ? closed : outcome;
}

// Inputs from this size on are split between two threads: below it, the
// second thread's start costs more than it saves.
constexpr std::uint64_t kSplitInputBytes = std::uint64_t{4} << 20;

// The progress of two parts as one: each part stores its share, and the
// first forwards the sum (so that the caller's progress is never called
// from two threads).
struct SplitProgress {
  const bmpresizer::Progress* outer = nullptr;
  std::atomic<std::uint64_t> written[2] = {};
  std::atomic<std::uint64_t> total[2] = {};

  static void report_first(void* context, std::uint64_t written, std::uint64_t total) {
    auto* split = static_cast<SplitProgress*>(context);
    split->written[0].store(written);
    split->total[0].store(total);
    if (split->outer != nullptr && split->outer->report != nullptr) {
      split->outer->report(split->outer->context, written + split->written[1].load(),
                           total + split->total[1].load());
    }
  }
  static void report_second(void* context, std::uint64_t written, std::uint64_t total) {
    auto* split = static_cast<SplitProgress*>(context);
    split->written[1].store(written);
    split->total[1].store(total);
  }
};

// Enlarges into the new, empty regular file `output`: in two halves on two
// threads when `split` and the input is large, else in one go.
Outcome enlarge_into_file(FileHandle input, FileHandle output, std::int32_t factor,
                          const bmpresizer::Progress* progress, bmpresizer::WorkBuffer work,
                          bool split) {
  if (!split || size_of(input) < kSplitInputBytes) {
    return bmpresizer::resize_open_files(input, output, factor, progress, work);
  }
  SplitProgress both;
  both.outer = progress;
  bmpresizer::Progress first{&SplitProgress::report_first, &both};
  bmpresizer::Progress second{&SplitProgress::report_second, &both};
  // Each half of the buffer serves one thread: no more memory than one.
  const std::size_t half = work.size / 2;
  const bmpresizer::WorkBuffer first_buffer{work.data, half};
  const bmpresizer::WorkBuffer second_buffer{work.data + half, half};
  Outcome second_half;
  std::thread helper;
  try {
    helper = std::thread([&] {
      second_half =
          bmpresizer::resize_open_files(input, output, factor, &second, second_buffer, {1, 2});
    });
  } catch (const std::system_error&) {
    return bmpresizer::resize_open_files(input, output, factor, progress, work);
  }
  const Outcome first_half =
      bmpresizer::resize_open_files(input, output, factor, &first, first_buffer, {0, 2});
  helper.join();
  return first_half.ok() ? second_half : first_half;
}

// A regular or missing file: a temporary file beside the target, renamed over
// it once complete and closed.
Outcome enlarge_to_file(const OutputTarget& target, FileHandle input, std::int32_t factor,
                        const bmpresizer::Progress* progress, bmpresizer::WorkBuffer work,
                        bool split) {
  if (target.kind == OutputTarget::regular && is_same_file(target.path, input)) {
    return failed(Failure::output_is_input);
  }
  FileHandle output = bmpresizer::kNoFile;
  std::string temporary;
  int error = 0;
  const std::uint32_t mode = target.kind == OutputTarget::regular ? target.mode : 0;
  if (!create_temporary(target.path, mode, output, temporary, error)) {
    return failed(Failure::output_open, error);
  }
  Outcome outcome = enlarge_into_file(input, output, factor, progress, work, split);
  const Outcome closed = bmpresizer::close_file(output);
  if (outcome.ok() && !closed.ok()) {
    outcome = closed;
  }
  if (outcome.ok() && !replace_with(temporary, target.path, error)) {
    outcome = failed(Failure::close_failed, error);
  }
  if (!outcome.ok()) {
    remove_temporary(temporary);
  }
  return outcome;
}

}  // namespace

const char kStandardStream[] = "-";

Outcome enlarge_file(const std::string& input_path, const std::string& output_path,
                     std::int32_t factor, const bmpresizer::Progress* progress,
                     bmpresizer::WorkBuffer work, bool split) {
  Input input;
  const Outcome opened = open_input(input_path, work, input);
  if (!opened.ok()) {
    return opened;
  }
  Outcome outcome;
  OutputTarget target;
  int error = 0;
  if (output_path == kStandardStream) {
    outcome = enlarge_to_stdout(input.handle, factor, progress, work);
  } else if (!resolve_output(output_path, target, error)) {
    outcome = failed(Failure::output_open, error);
  } else if (target.kind == OutputTarget::other) {
    outcome = enlarge_to_device(output_path, input.handle, factor, progress, work);
  } else {
    outcome = enlarge_to_file(target, input.handle, factor, progress, work, split);
  }
  if (input.owned) {
    bmpresizer::close_file(input.handle);
  }
  return outcome;
}

}  // namespace bmpresize
