#include "enlarge.h"

#include "bmpresizer_files.h"
#include "console.h"
#include "write_behind.h"

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

// Outputs from this size on are written behind (see write_behind.h): below
// it, starting the thread costs more than it saves.
constexpr std::uint64_t kWriteBehindBytes = std::uint64_t{4} << 20;

// Enlarges into `output`, written behind when `write_behind` and the image
// is large.
Outcome enlarge_into(bmpresizer::FileSource& input, FileHandle output, bool at_position,
                     std::int32_t factor, const bmpresizer::Progress* progress,
                     bmpresizer::WorkBuffer work, bool write_behind) {
  bmpresizer::FileSink sink;
  int error = 0;
  if (!sink.attach(output, at_position, error)) {
    return failed(Failure::write_failed, error);
  }
  // About the output's size (the input's pixels factor squared times), no
  // more than needed to compare.
  const std::uint64_t factor_squared =
      factor > 0
          ? std::uint64_t{static_cast<std::uint32_t>(factor)} * static_cast<std::uint32_t>(factor)
          : 0;
  const bool large = factor_squared > 0 && input.size() >= kWriteBehindBytes / factor_squared;
  if (write_behind && large) {
    WriteBehind behind(sink);
    if (behind.start()) {
      return bmpresizer::resize(input, behind, factor, progress, work, {}, kKinds);
    }
  }
  return bmpresizer::resize(input, sink, factor, progress, work, {}, kKinds);
}

// Standard output, written straight through from its position.
Outcome enlarge_to_stdout(bmpresizer::FileSource& input, FileHandle input_handle,
                          std::int32_t factor, const bmpresizer::Progress* progress,
                          bmpresizer::WorkBuffer work) {
  const FileHandle output = bmpresizer::standard_output();
  if (bmpresizer::same_file(bmpresizer::facts_of(input_handle), bmpresizer::facts_of(output))) {
    return failed(Failure::output_is_input);
  }
  return enlarge_into(input, output, true, factor, progress, work, true);
}

}  // namespace

const char kStandardStream[] = "-";

Outcome enlarge_file(const std::string& input_path, const std::string& output_path,
                     std::int32_t factor, const bmpresizer::Progress* progress,
                     bmpresizer::WorkBuffer work, bool write_behind) {
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
    outcome = enlarge_into(source, output.handle(), false, factor, progress, work, write_behind);
  }
  if (!outcome.ok()) {
    return outcome;  // the output goes with its object, unseen
  }
  const Outcome committed = output.commit();
  return committed.ok() ? outcome : committed;
}

}  // namespace bmpresize
