// The engine's exported functions: the caller's options, streams and
// buffers turned into the core's, and its outcomes into results. Nothing
// here prints, keeps state between calls or throws.
#include <cerrno>
#include <cstring>
#include <new>

#include "bmpresize.h"
#include "callback_streams.h"
#include "engine_state.h"
#include "enlarge_file.h"
#include "messages.h"
#include "write_signals.h"

namespace bmpresizer {
namespace {

// The public numbers are the core's own.
constexpr bool same_numbers(Failure failure, bmpresize_error error) {
  return static_cast<int>(failure) == static_cast<int>(error);
}
static_assert(same_numbers(Failure::invalid_argument, BMPRESIZE_E_INVALID_ARGUMENT) &&
                  same_numbers(Failure::input_stream_closed, BMPRESIZE_E_INPUT_STREAM_CLOSED) &&
                  same_numbers(Failure::output_buffer_small, BMPRESIZE_E_OUTPUT_BUFFER_SMALL) &&
                  same_numbers(Failure::input_not_regular, BMPRESIZE_E_INPUT_NOT_REGULAR) &&
                  same_numbers(Failure::file_too_large, BMPRESIZE_E_FILE_TOO_LARGE) &&
                  same_numbers(Failure::out_of_memory, BMPRESIZE_E_OUT_OF_MEMORY),
              "the core's failures carry the public numbers");

// The names of the failures, by number.
struct Named {
  Failure failure;
  const char* name;
};
constexpr Named kNames[] = {
    {Failure::none, "ok"},
    {Failure::invalid_argument, "invalid_argument"},
    {Failure::input_open, "input_open"},
    {Failure::input_is_directory, "input_is_directory"},
    {Failure::input_path_invalid, "input_path_invalid"},
    {Failure::input_stream_closed, "input_stream_closed"},
    {Failure::output_open, "output_open"},
    {Failure::output_path_invalid, "output_path_invalid"},
    {Failure::output_is_input, "output_is_input"},
    {Failure::output_no_reader, "output_no_reader"},
    {Failure::output_stream_closed, "output_stream_closed"},
    {Failure::output_buffer_small, "output_buffer_small"},
    {Failure::output_is_socket, "output_is_socket"},
    {Failure::output_folder_unwritable, "output_folder_unwritable"},
    {Failure::not_bmp, "not_bmp"},
    {Failure::header_truncated, "header_truncated"},
    {Failure::info_header_size, "info_header_size"},
    {Failure::planes, "planes"},
    {Failure::bit_count, "bit_count"},
    {Failure::compression, "compression"},
    {Failure::pixel_offset, "pixel_offset"},
    {Failure::color_table, "color_table"},
    {Failure::negative_width, "negative_width"},
    {Failure::profile_offset, "profile_offset"},
    {Failure::pixels_truncated, "pixels_truncated"},
    {Failure::input_not_regular, "input_not_regular"},
    {Failure::palette_missing, "palette_missing"},
    {Failure::masks_bit_count, "masks_bit_count"},
    {Failure::rle_bit_count, "rle_bit_count"},
    {Failure::rle_top_down, "rle_top_down"},
    {Failure::rle_size, "rle_size"},
    {Failure::rle_past_row, "rle_past_row"},
    {Failure::rle_past_image, "rle_past_image"},
    {Failure::rle_truncated, "rle_truncated"},
    {Failure::factor_below_one, "factor_below_one"},
    {Failure::width_too_large, "width_too_large"},
    {Failure::height_too_large, "height_too_large"},
    {Failure::file_too_large, "file_too_large"},
    {Failure::read_failed, "read_failed"},
    {Failure::input_shrank, "input_shrank"},
    {Failure::spool_failed, "spool_failed"},
    {Failure::write_failed, "write_failed"},
    {Failure::close_failed, "close_failed"},
    {Failure::cancelled, "cancelled"},
    {Failure::out_of_memory, "out_of_memory"},
};

const Named* named(int number) {
  for (const Named& entry : kNames) {
    if (static_cast<int>(entry.failure) == number) {
      return &entry;
    }
  }
  return nullptr;
}

Outcome enlarge_stream(const bmpresize_source& input, const bmpresize_sink& output,
                       const Request& request) {
  CallbackSink sink(output);
  if (input.read_at != nullptr) {
    CallbackSource source(input);
    return resize(source, sink, request.factors, request.progress, request.work, {}, request.kinds,
                  request.form);
  }
  CallbackReader reader(input);
  std::uint8_t head[kHeaderPrefixBytes];
  int error = 0;
  const std::size_t got = read_headers(reader, request.kinds, head, error);
  if (error != 0) {
    return failed(Failure::read_failed, error);
  }
  return enlarge_sequential(reader, ByteSpan{head, got}, sink, request);
}

}  // namespace
}  // namespace bmpresizer

using bmpresizer::CallState;
using bmpresizer::failed;
using bmpresizer::Failure;
using bmpresizer::Outcome;

extern "C" {

BMPRESIZE_API bmpresize_options bmpresize_default_options(int32_t across, int32_t down) {
  bmpresize_options options{};
  options.across = across;
  options.down = down;
  options.kinds = BMPRESIZE_KINDS_ALL;
  return options;
}

BMPRESIZE_API bmpresize_error bmpresize_enlarge_stream(const bmpresize_source* input,
                                                       const bmpresize_sink* output,
                                                       const bmpresize_options* options,
                                                       bmpresize_result* result) {
  CallState call(options);
  if (input == nullptr || output == nullptr || output->write == nullptr || !call.valid() ||
      (input->read_at == nullptr && input->read == nullptr)) {
    return bmpresizer::finish(failed(Failure::invalid_argument), result);
  }
  const bmpresizer::WriteSignalsBlocked write_signals_blocked;
  return bmpresizer::finish(bmpresizer::enlarge_stream(*input, *output, call.request()), result);
}

BMPRESIZE_API bmpresize_error bmpresize_enlarge_memory(const void* input, size_t input_bytes,
                                                       void* output, size_t output_capacity,
                                                       const bmpresize_options* options,
                                                       bmpresize_result* result) {
  CallState call(options);
  if ((input == nullptr && input_bytes > 0) || (output == nullptr && output_capacity > 0) ||
      !call.valid()) {
    return bmpresizer::finish(failed(Failure::invalid_argument), result);
  }
  const auto* bytes = static_cast<const std::uint8_t*>(input);
  bmpresize_image image{};
  bmpresize_result described{};
  if (bmpresize_describe(bytes, input_bytes, input_bytes, options, &image, &described) !=
      BMPRESIZE_OK) {
    return bmpresizer::finish(bmpresizer::outcome_of(described), result);
  }
  if (image.output_bytes > output_capacity) {
    return bmpresizer::finish(
        failed(Failure::output_buffer_small, 0, output_capacity, image.output_bytes), result);
  }
  bmpresizer::MemorySource source(bytes, input_bytes);
  bmpresizer::MemorySink sink(static_cast<std::uint8_t*>(output), output_capacity);
  const bmpresizer::Request& request = call.request();
  return bmpresizer::finish(bmpresizer::resize(source, sink, request.factors, request.progress,
                                               request.work, {}, request.kinds, request.form),
                            result);
}

BMPRESIZE_API bmpresize_error bmpresize_describe(const void* head, size_t head_bytes,
                                                 uint64_t input_length,
                                                 const bmpresize_options* options,
                                                 bmpresize_image* image, bmpresize_result* result) {
  CallState call(options);
  if ((head == nullptr && head_bytes > 0) || image == nullptr || !call.valid()) {
    return bmpresizer::finish(failed(Failure::invalid_argument), result);
  }
  const bmpresizer::Request& request = call.settings();
  bmpresizer::Description description;
  const Outcome outcome =
      bmpresizer::describe(static_cast<const std::uint8_t*>(head), head_bytes, input_length,
                           request.factors, request.kinds, request.form, description);
  *image = bmpresize_image{};
  image->header_size = description.info_size;
  image->bits_per_pixel = description.bits_per_pixel;
  image->compression = description.compression;
  image->width = description.width;
  image->height = description.height;
  image->input_bytes = description.input_bytes;
  image->output_width = description.output_width;
  image->output_height = description.output_height;
  image->output_bytes = description.output_bytes;
  Outcome answered = outcome;
  answered.output_bytes = outcome.ok() ? description.output_bytes : 0;
  return bmpresizer::finish(answered, result);
}

BMPRESIZE_API bmpresize_error bmpresize_parse_factor(const char* text, int32_t* across,
                                                     int32_t* down, bmpresize_result* result) {
  std::int64_t values[2] = {0, 0};
  const bmpresizer::FactorText read = bmpresizer::read_factor(text, values);
  if (read != bmpresizer::FactorText::factor || across == nullptr || down == nullptr) {
    Outcome refused = failed(Failure::invalid_argument);
    refused.have = read == bmpresizer::FactorText::out_of_range ? 2 : 1;
    return bmpresizer::finish(refused, result);
  }
  *across = static_cast<int32_t>(values[0]);
  *down = static_cast<int32_t>(values[1]);
  return bmpresizer::finish(Outcome{}, result);
}

BMPRESIZE_API int bmpresize_exit_status(bmpresize_error error) {
  return static_cast<int>(error) / 100;
}

BMPRESIZE_API const char* bmpresize_error_name(bmpresize_error error) {
  const bmpresizer::Named* entry = bmpresizer::named(static_cast<int>(error));
  return entry != nullptr ? entry->name : "unknown";
}

BMPRESIZE_API size_t bmpresize_message(const bmpresize_result* result, const char* input_name,
                                       const char* output_name, char* text, size_t text_size) {
  bmpresizer::Text message(text, text != nullptr ? text_size : 0);
  if (result != nullptr && bmpresizer::named(static_cast<int>(result->error)) != nullptr) {
    bmpresizer::add_message(message, bmpresizer::outcome_of(*result), input_name, output_name);
  }
  return message.length();
}

BMPRESIZE_API const char* bmpresize_version(void) { return BMPRESIZE_VERSION_STRING; }

BMPRESIZE_API void bmpresize_clean_up_on_interruption(void (*last_words)(void)) {
  bmpresizer::clean_up_on_interruption(last_words);
}

BMPRESIZE_API int bmpresize_unless_interrupted(void (*step)(void* context), void* context) {
  bmpresizer::InterruptionHold hold;
  if (hold.ending() || step == nullptr) {
    return 0;
  }
  step(context);
  return 1;
}

}  // extern "C"
