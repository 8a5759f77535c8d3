#include "enlarge.h"

#include "console.h"

namespace bmpresize {

bmpresize_result enlarge_file(const std::string& input, const std::string& output,
                              const Enlargement& how) {
  bmpresize_result result{};
  if (input == "-" && standard_input_was_closed()) {
    result.error = BMPRESIZE_E_INPUT_STREAM_CLOSED;
    return result;
  }
  if (output == "-" && standard_output_was_closed()) {
    result.error = BMPRESIZE_E_OUTPUT_STREAM_CLOSED;
    return result;
  }
  bmpresize_options options = bmpresize_default_options(how.across, how.down);
  options.flags =
      BMPRESIZE_STANDARD_STREAMS | (how.uncompressed ? BMPRESIZE_WRITE_UNCOMPRESSED : 0u);
  options.threads = how.split ? 0 : 1;
  options.progress = how.progress;
  options.progress_context = how.progress_context;
  options.work = how.work;
  options.work_bytes = how.work != nullptr ? kWorkBytes : 0;
  bmpresize_enlarge_file(input.c_str(), output.c_str(), &options, &result);
  return result;
}

}  // namespace bmpresize
