#include "enlarge_file.h"

#include <atomic>
#include <cerrno>
#include <cstring>

#include "helper_thread.h"

namespace bmpresizer {
namespace {

// An open input, and whether it is the call's to close.
struct Input {
  FileHandle handle = kNoFile;
  bool owned = false;
  Input() = default;
  Input(const Input&) = delete;
  Input& operator=(const Input&) = delete;
  ~Input() {
    if (owned) {
      close_file(handle);
    }
  }
};

bool is_standard(NativePath path, const Request& request) {
  return request.standard_streams && path != nullptr && path[0] == '-' && path[1] == 0;
}

// Keeps what `from` holds of the image that starts with `head` in a
// temporary file, after checking the headers: refused headers are refused
// before more is read.
Outcome spool(SequentialSource& from, ByteSpan head, const Request& request, FileHandle& copy) {
  std::uint64_t needed = 0;
  const Outcome checked = bytes_needed(head.data, head.size, request.kinds, needed);
  std::uint8_t own[kDefaultWorkBytes];
  const WorkBuffer buffer = request.work.size > 0 ? request.work : WorkBuffer{own, sizeof own};
  int error = 0;
  if (checked.ok() && !spool_to_temporary(from, head, needed, buffer, copy, error)) {
    return failed(Failure::spool_failed, error);
  }
  return checked;
}

}  // namespace

std::size_t read_headers(SequentialSource& from, Kinds kinds,
                         std::uint8_t (&head)[kHeaderPrefixBytes], int& error) {
  constexpr std::size_t kSizeFieldEnd = 18;  // the file header and biSize
  std::size_t got = from.read(head, kSizeFieldEnd, error);
  if (error != 0 || got < kSizeFieldEnd) {
    return got;
  }
  const std::size_t want = header_bytes_to_read(head, got, kinds);
  if (want > got) {
    got += from.read(head + got, want - got, error);
  }
  return got;
}

namespace {

// A file as standard input may stand anywhere: its image starts there, and
// the input is left after it, as cat and other filters leave it.
struct Position {
  bool known = false;
  std::uint64_t at = 0;
};

Outcome open_input_file(NativePath path, const Request& request, Input& input, Position& position) {
  if (!is_standard(path, request)) {
    const Outcome opened = open_input(path, input.handle);
    input.owned = opened.ok();
    if (!opened.ok()) {
      return opened;
    }
  } else {
    input.handle = standard_input();
  }
  const FileFacts facts = facts_of(input.handle);
  if (facts.error != 0 && !input.owned) {
    return failed(Failure::input_stream_closed, facts.error);
  }
  if (facts.error != 0 || facts.regular) {
    position.known = facts.error == 0 && !input.owned && position_of(input.handle, position.at);
    return facts.error != 0 ? failed(Failure::read_failed, facts.error) : Outcome{};
  }
  // A pipe or a device (standard input, /dev/stdin, <(...)) can be read only
  // once; its headers are read and no more before they are checked.
  HandleReader reader(input.handle);
  std::uint8_t header[kHeaderPrefixBytes];
  int error = 0;
  const std::size_t got = read_headers(reader, request.kinds, header, error);
  if (error != 0) {
    return failed(Failure::read_failed, error);
  }
  FileHandle copy = kNoFile;
  const Outcome kept = spool(reader, ByteSpan{header, got}, request, copy);
  if (!kept.ok()) {
    return kept;
  }
  if (input.owned) {
    close_file(input.handle);
  }
  input.handle = copy;
  input.owned = true;
  return Outcome{};
}

// Leaves a file given as standard input after the image that started at
// `position`.
void move_past_image(FileSource& source, FileHandle handle, const Position& position,
                     const Request& request) {
  if (!position.known) {
    return;
  }
  std::uint8_t header[kHeaderPrefixBytes];
  int error = 0;
  const std::size_t got = source.read_at(0, header, sizeof header, error);
  std::uint64_t image_bytes = 0;
  if (error == 0 && bytes_needed(header, got, request.kinds, image_bytes).ok()) {
    move_to(handle, position.at + (image_bytes < source.size() ? image_bytes : source.size()));
  }
}

// What two threads share is the reading and enlarging of the rows, about the
// input's bytes `across` times over (the repeats down the image cost
// nothing); the writes go no faster two at a time. From this much work on,
// the split pays for its second thread: a 1-bit image of 1.5 MB at x3
// gains, a small image at x16 (all writing) loses.
constexpr std::uint64_t kSplitWorkBytes = std::uint64_t{4} << 20;

bool worth_splitting(const ByteSource& input, Factors factors) {
  return factors.across >= 1 &&
         input.size() >= kSplitWorkBytes / static_cast<std::uint64_t>(factors.across);
}

// The progress of two parts as one, against the whole output's length: each
// part stores its share, and the caller's thread alone forwards the sum
// (the caller's progress is never called from two threads): while its own
// part runs, with each of its reports, then, while the helper finishes the
// other, every few milliseconds. Either part's failure, or the caller's
// wish, stops both.
struct SplitProgress {
  const Progress* outer = nullptr;
  std::uint64_t whole = 0;
  std::atomic<std::uint64_t> written[2] = {};
  std::atomic<bool> stop{false};

  // Tells the caller; false once the work is to stop.
  bool forward() {
    // Once stopped, the caller hears no more.
    if (!stop.load() && outer != nullptr && outer->report != nullptr &&
        !outer->report(outer->context, written[0].load() + written[1].load(), whole)) {
      stop.store(true);
    }
    return !stop.load();
  }
  static bool report_first(void* context, std::uint64_t written, std::uint64_t) {
    auto* split = static_cast<SplitProgress*>(context);
    split->written[0].store(written);
    return split->forward();
  }
  static bool report_second(void* context, std::uint64_t written, std::uint64_t) {
    auto* split = static_cast<SplitProgress*>(context);
    split->written[1].store(written);
    return !split->stop.load();
  }
};

// What the headers of the image in `input` say; false if they cannot tell.
bool describe_input(ByteSource& input, const Request& request, Description& description) {
  std::uint8_t header[kHeaderPrefixBytes];
  int error = 0;
  const std::size_t got = input.read_at(0, header, sizeof header, error);
  return error == 0 && describe(header, got, input.size(), request.factors, request.kinds,
                                request.form, description)
                           .ok();
}

// The failure that stopped two parts: the one that was not only stopped by
// the other.
Outcome first_failure(const Outcome& first, const Outcome& second) {
  if (!first.ok() && first.failure != Failure::cancelled) {
    return first;
  }
  if (!second.ok() && second.failure != Failure::cancelled) {
    return second;
  }
  return first.ok() ? second : first;
}

// Enlarges into `sink`: a large image going to a file in two halves on two
// threads when `split` (while one reads and enlarges, the other writes),
// each with half of the buffer, else in one go. (Two threads read `input`
// at once: a file's positional reads allow it.)
Outcome enlarge_into(ByteSource& input, FileSink& sink, const Request& request, bool split) {
  Description description;
  // Run-length codes give no row a place known before the rows before it.
  if (!split || !sink.positional() || !worth_splitting(input, request.factors) ||
      !describe_input(input, request, description) || description.encoded) {
    return resize(input, sink, request.factors, request.progress, request.work, {}, request.kinds,
                  request.form);
  }
  SplitProgress both;
  both.outer = request.progress;
  both.whole = description.output_bytes;
  const Progress first{&SplitProgress::report_first, &both};
  const Progress second{&SplitProgress::report_second, &both};
  // Each half of the buffer serves one thread: no more memory than one.
  const std::size_t half = request.work.size / 2;
  const WorkBuffer first_buffer{request.work.data, half};
  const WorkBuffer second_buffer{request.work.data + half, half};
  Outcome second_half;
  auto second_part = [&] {
    second_half = resize(input, sink, request.factors, &second, second_buffer, {1, 2},
                         request.kinds, request.form);
    if (!second_half.ok()) {
      both.stop.store(true);
    }
  };
  HelperThread helper;
  if (!helper.start(second_part, 1)) {
    return resize(input, sink, request.factors, request.progress, request.work, {}, request.kinds,
                  request.form);
  }
  const Outcome first_half = resize(input, sink, request.factors, &first, first_buffer, {0, 2},
                                    request.kinds, request.form);
  if (!first_half.ok()) {
    both.stop.store(true);
  }
  // The caller still hears of the other half's progress, and may stop it,
  // every few milliseconds until the helper ends (not a moment longer).
  while (!helper.join_within(10)) {
    both.forward();
  }
  if (!first_half.ok() || !second_half.ok()) {
    return first_failure(first_half, second_half);
  }
  both.forward();  // the whole, written
  int error = 0;
  return sink.finish(first_half.output_bytes, error) ? first_half
                                                     : failed(Failure::write_failed, error);
}

// Standard output, written straight through from its position.
Outcome enlarge_to_stdout(ByteSource& input, FileHandle input_handle, const Request& request) {
  const FileHandle output = standard_output();
  const FileFacts facts = facts_of(output);
  if (facts.error != 0) {
    return failed(Failure::output_stream_closed, facts.error);
  }
  if (same_file(facts_of(input_handle), facts)) {
    return failed(Failure::output_is_input);
  }
  FileSink sink;
  int error = 0;
  if (!sink.attach(output, true, error)) {
    return failed(Failure::write_failed, error);
  }
  return enlarge_into(input, sink, request, false);
}

// Enlarges `source` (the open file `input`, or kNoFile for a stream of the
// caller's) into the output `path`, which appears whole or not at all.
Outcome enlarge_into_path(ByteSource& source, FileHandle input, NativePath path,
                          const Request& request, bool split) {
  WholeOutput output;
  Outcome outcome = output.open(path, input);
  if (outcome.failure == Failure::output_folder_unwritable) {
    outcome.have = static_cast<std::uint32_t>(request.factors.across);
    outcome.want = static_cast<std::uint32_t>(request.factors.down);
  }
  FileSink sink;
  if (outcome.ok()) {
    int error = 0;
    if (!output.in_place()) {
      sink.attach_new(output.handle());
    } else if (!sink.attach(output.handle(), false, error)) {
      outcome = failed(Failure::write_failed, error);
    }
  }
  if (outcome.ok()) {
    outcome = enlarge_into(source, sink, request, split && !output.in_place());
  }
  if (!outcome.ok()) {
    return outcome;  // the output goes with its object, unseen
  }
  const Outcome committed = output.commit();
  return committed.ok() ? outcome : committed;
}

}  // namespace

Outcome enlarge_file(NativePath input_path, NativePath output_path, const Request& request) {
  Input input;
  Position position;
  const Outcome opened = open_input_file(input_path, request, input, position);
  if (!opened.ok()) {
    return opened;
  }
  FileSource source;
  if (is_standard(output_path, request)) {
    Outcome outcome = source.attach(input.handle, position.at);
    if (outcome.ok()) {
      outcome = enlarge_to_stdout(source, input.handle, request);
    }
    if (outcome.ok()) {
      move_past_image(source, input.handle, position, request);
    }
    return outcome;
  }
  Outcome outcome = source.attach(input.handle, position.at);
  if (outcome.ok()) {
    outcome = enlarge_into_path(source, input.handle, output_path, request, request.split);
  }
  if (outcome.ok()) {
    move_past_image(source, input.handle, position, request);
  }
  return outcome;
}

Outcome enlarge_to_path(ByteSource& input, NativePath output, const Request& request) {
  // The caller's reads come from its own thread alone.
  return enlarge_into_path(input, kNoFile, output, request, false);
}

Outcome enlarge_sequential_to_path(SequentialSource& input, ByteSpan head, NativePath output,
                                   const Request& request) {
  FileHandle copy = kNoFile;
  Outcome outcome = spool(input, head, request, copy);
  if (!outcome.ok()) {
    return outcome;
  }
  FileSource source;
  outcome = source.attach(copy);
  if (outcome.ok()) {
    outcome = enlarge_into_path(source, copy, output, request, request.split);
  }
  close_file(copy);
  return outcome;
}

Outcome enlarge_sequential(SequentialSource& input, ByteSpan head, ByteSink& output,
                           const Request& request) {
  FileHandle copy = kNoFile;
  const Outcome kept = spool(input, head, request, copy);
  if (!kept.ok()) {
    return kept;
  }
  FileSource source;
  Outcome outcome = source.attach(copy);
  if (outcome.ok()) {
    outcome = resize(source, output, request.factors, request.progress, request.work, {},
                     request.kinds, request.form);
  }
  close_file(copy);
  return outcome;
}

}  // namespace bmpresizer
