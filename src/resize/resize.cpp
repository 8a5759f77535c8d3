#include "resize.h"

#include "bmp_header.h"
#include "bmpresizer.h"

namespace bmpresizer {
namespace {

Outcome io_failure(Failure kind, int error) {
  Outcome outcome;
  outcome.failure = kind;
  outcome.error = error;
  return outcome;
}

}  // namespace

Outcome resize_open_files(FileHandle input, FileHandle output, std::int32_t factor,
                          const Progress* progress) {
  int error = 0;
  std::uint64_t file_bytes = 0;
  if (!file_size(input, file_bytes, error)) {
    return io_failure(Failure::read_failed, error);
  }
  std::uint8_t header[kHeaderBytes] = {};
  std::size_t header_bytes = 0;
  if (!read_at(input, 0, header, kHeaderBytes, header_bytes, error) && error != 0) {
    return io_failure(Failure::read_failed, error);
  }

  InputLayout in;
  Outcome checked = check_input_header(header, header_bytes, file_bytes, in);
  if (!checked.ok()) {
    return checked;
  }
  std::uint8_t out_header[kHeaderBytes] = {};
  OutputLayout out;
  Outcome derived = derive_output_header(header, in, factor, out_header, out);
  if (!derived.ok()) {
    return derived;
  }

  const ByteSpan header_span{out_header, kHeaderBytes};
  if (!write_spans(output, &header_span, 1, error)) {
    return io_failure(Failure::write_failed, error);
  }
  Outcome replicated = replicate_rows(input, output, in, out, progress);
  if (!replicated.ok()) {
    return replicated;
  }
  Outcome done;
  done.output_bytes = out.file_bytes;
  return done;
}

Outcome resize_files(const char* input_path, const char* output_path, std::int32_t factor,
                     const Progress* progress) {
  if (input_path == nullptr) {
    return io_failure(Failure::input_path_invalid, 0);
  }
  int error = 0;
  FileHandle input = kNoFile;
  switch (open_input(input_path, input, error)) {
    case OpenResult::opened:
      break;
    case OpenResult::is_directory:
      return io_failure(Failure::input_is_directory, error);
    default:
      return io_failure(Failure::input_open, error);
  }

  int ignored = 0;
  FileHandle output = kNoFile;
  OpenResult opened_output = OpenResult::failed;
  if (output_path != nullptr) {
    opened_output = open_output(output_path, input, output, error);
  }
  if (opened_output != OpenResult::opened) {
    close_file(input, ignored);
    if (output_path == nullptr) {
      return io_failure(Failure::output_path_invalid, 0);
    }
    return io_failure(opened_output == OpenResult::same_as_input ? Failure::output_is_input
                                                                 : Failure::output_open,
                      error);
  }

  Outcome outcome = resize_open_files(input, output, factor, progress);
  const int code = result_code(outcome);
  if (code == BMPRESIZER_UNSUPPORTED_INPUT || code == BMPRESIZER_OUTPUT_TOO_LARGE) {
    // Nothing was written: the emptied output stays behind.
    close_file(output, ignored);
    close_file(input, ignored);
    return outcome;
  }
  if (!outcome.ok()) {
    truncate_to_empty(output);
    close_file(output, ignored);
    close_file(input, ignored);
    return outcome;
  }
  if (!close_file(input, error)) {
    truncate_to_empty(output);
    close_file(output, ignored);
    return io_failure(Failure::close_failed, error);
  }
  // A delayed write error may surface only here, after the data has left
  // this process; the output then cannot be trusted.
  if (!close_file(output, error)) {
    truncate_to_empty(output_path);
    return io_failure(Failure::close_failed, error);
  }
  return outcome;
}

}  // namespace bmpresizer
