#include "enlarge.h"

#include <atomic>

#include "bmpresizer_files.h"
#include "console.h"
#include "helper_thread.h"

namespace bmpresize {
namespace {

using bmpresizer::failed;
using bmpresizer::Failure;
using bmpresizer::FileHandle;
using bmpresizer::Outcome;

// The tool enlarges every uncompressed BMP.
constexpr bmpresizer::Kinds kKinds = bmpresizer::Kinds::uncompressed;

// An open input, and whether it is the tool's to close.
struct Input {
  FileHandle handle = bmpresizer::kNoFile;
  bool owned = false;
  ~Input() {
    if (owned) {
      bmpresizer::close_file(handle);
    }
  }
};

Outcome open_input(const std::string& path, bmpresizer::WorkBuffer work, Input& input) {
  if (path != kStandardStream) {
    const Outcome opened = bmpresizer::open_input(native_path(path).c_str(), input.handle);
    input.owned = opened.ok();
    if (!opened.ok()) {
      return opened;
    }
  } else if (standard_input_was_closed()) {
    return failed(Failure::input_stream_closed);
  } else {
    input.handle = bmpresizer::standard_input();
  }
  const bmpresizer::FileFacts facts = bmpresizer::facts_of(input.handle);
  if (facts.error != 0 || facts.regular) {
    return facts.error != 0 ? failed(Failure::read_failed, facts.error) : Outcome{};
  }
  // A pipe or a device (standard input, /dev/stdin, <(...)) can be read only
  // once: its bytes are kept in a temporary file, as far as its headers say
  // the image goes, and headers this tool refuses are refused before more
  // is read.
  std::uint8_t header[bmpresizer::kHeaderPrefixBytes];
  int error = 0;
  const std::size_t got = bmpresizer::read_all(input.handle, header, sizeof header, error);
  std::uint64_t needed = 0;
  const Outcome checked = error != 0 ? failed(Failure::read_failed, error)
                                     : bmpresizer::bytes_needed(header, got, kKinds, needed);
  FileHandle copy = bmpresizer::kNoFile;
  if (checked.ok() &&
      !bmpresizer::spool_to_temporary(input.handle, {header, got}, needed, work, copy, error)) {
    return failed(Failure::spool_failed, error);
  }
  if (!checked.ok()) {
    return checked;
  }
  if (input.owned) {
    bmpresizer::close_file(input.handle);
  }
  input.handle = copy;
  input.owned = true;
  return Outcome{};
}

// What two threads share is the reading and enlarging of the rows, about the
// input's bytes factor times over (the repeats down the image cost nothing);
// the writes go no faster two at a time. From this much work on, the split
// pays for its second thread: a 1-bit image of 1.5 MB at x3 gains, a small
// image at x16 (all writing) loses.
constexpr std::uint64_t kSplitWorkBytes = std::uint64_t{4} << 20;

bool worth_splitting(const bmpresizer::ByteSource& input, std::int32_t factor) {
  return factor >= 1 && input.size() >= kSplitWorkBytes / static_cast<std::uint64_t>(factor);
}

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

// How enlarge_into writes its output.
enum class Into {
  at_position,  // from the handle's position (standard output)
  file,         // a file opened by name, at explicit offsets if it has them
  new_file,     // a file made for this output and held alone
};

// Enlarges into `output`: a large image going to a file in two halves on
// two threads when `split` (while one reads and enlarges, the other
// writes), each with half of `work`, else in one go.
Outcome enlarge_into(bmpresizer::FileSource& input, FileHandle output, Into into,
                     std::int32_t factor, const bmpresizer::Progress* progress,
                     bmpresizer::WorkBuffer work, bool split) {
  bmpresizer::FileSink sink;
  int error = 0;
  if (into == Into::new_file) {
    sink.attach_new(output);
  } else if (!sink.attach(output, into == Into::at_position, error)) {
    return failed(Failure::write_failed, error);
  }
  if (!split || !sink.positional() || !worth_splitting(input, factor)) {
    return bmpresizer::resize(input, sink, factor, progress, work, {}, kKinds);
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
  auto second_part = [&] {
    second_half = bmpresizer::resize(input, sink, factor, &second, second_buffer, {1, 2}, kKinds);
  };
  HelperThread helper;
  if (!helper.start(second_part, 1)) {
    return bmpresizer::resize(input, sink, factor, progress, work, {}, kKinds);
  }
  const Outcome first_half =
      bmpresizer::resize(input, sink, factor, &first, first_buffer, {0, 2}, kKinds);
  helper.join();
  if (!first_half.ok() || !second_half.ok()) {
    return first_half.ok() ? second_half : first_half;
  }
  return sink.finish(first_half.output_bytes, error) ? first_half
                                                     : failed(Failure::write_failed, error);
}

// Standard output, written straight through from its position.
Outcome enlarge_to_stdout(bmpresizer::FileSource& input, FileHandle input_handle,
                          std::int32_t factor, const bmpresizer::Progress* progress,
                          bmpresizer::WorkBuffer work) {
  const FileHandle output = bmpresizer::standard_output();
  if (bmpresizer::same_file(bmpresizer::facts_of(input_handle), bmpresizer::facts_of(output))) {
    return failed(Failure::output_is_input);
  }
  return enlarge_into(input, output, Into::at_position, factor, progress, work, false);
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
  bmpresizer::FileSource source;
  if (output_path == kStandardStream) {
    if (standard_output_was_closed()) {
      return failed(Failure::output_stream_closed);
    }
    const Outcome attached = source.attach(input.handle);
    return attached.ok() ? enlarge_to_stdout(source, input.handle, factor, progress, work)
                         : attached;
  }
  bmpresizer::WholeOutput output;
  Outcome outcome = output.open(native_path(output_path).c_str(), input.handle);
  if (outcome.ok()) {
    outcome = source.attach(input.handle);
  }
  if (outcome.ok()) {
    outcome = enlarge_into(source, output.handle(), output.in_place() ? Into::file : Into::new_file,
                           factor, progress, work, split && !output.in_place());
  }
  if (!outcome.ok()) {
    return outcome;  // the output goes with its object, unseen
  }
  const Outcome committed = output.commit();
  return committed.ok() ? outcome : committed;
}

}  // namespace bmpresize
