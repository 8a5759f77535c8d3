#include "resize.h"
#include "bmp_header.h"
#include "bmpresizer_core.h"
#include "file_io.h"
#include "replicate.h"

namespace bmpresizer {

Outcome resize_into(FileHandle input, OutputSink& output, std::int32_t factor,
                    const Progress* progress, WorkBuffer work) {
  int error = 0;
  InputInfo info;
  if (!describe_input(input, info, error)) {
    return failed(Failure::read_failed, error);
  }
  // A pipe or a device cannot be read twice, and holds no image.
  if (!info.regular) {
    return failed(Failure::input_not_regular);
  }
  std::uint8_t header[kHeaderBytes] = {};
  std::size_t header_bytes = 0;
  if (!read_at(input, 0, header, kHeaderBytes, header_bytes, error) && error != 0) {
    return failed(Failure::read_failed, error);
  }

  InputLayout in;
  Outcome checked = check_input_header(header, header_bytes, info.bytes, in);
  if (!checked.ok()) {
    return checked;
  }
  std::uint8_t out_header[kHeaderBytes] = {};
  OutputLayout out;
  Outcome derived = derive_output_header(header, in, factor, out_header, out);
  if (!derived.ok()) {
    return derived;
  }

  const ByteSpan headers{out_header, kHeaderBytes};
  Outcome replicated = replicate_rows(input, output, headers, in, out, progress, work);
  if (!replicated.ok()) {
    return replicated;
  }
  if (!finish_sink(output, error)) {
    return failed(Failure::write_failed, error);
  }
  Outcome done;
  done.output_bytes = out.file_bytes;
  return done;
}

Outcome resize_open_files(FileHandle input, FileHandle output, std::int32_t factor,
                          const Progress* progress, WorkBuffer work) {
  OutputSink sink = sequential_sink(output);
  return resize_into(input, sink, factor, progress, work);
}

}  // namespace bmpresizer
