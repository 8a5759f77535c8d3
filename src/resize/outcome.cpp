#include "outcome.h"

#include "bmpresizer.h"

namespace bmpresizer {

int result_code(const Outcome& outcome) {
  switch (outcome.failure) {
    case Failure::none:
      return BMPRESIZER_SUCCESS;
    case Failure::input_open:
    case Failure::input_is_directory:
    case Failure::input_path_invalid:
      return BMPRESIZER_CANNOT_OPEN_INPUT;
    case Failure::output_open:
    case Failure::output_path_invalid:
    case Failure::output_is_input:
      return BMPRESIZER_CANNOT_OPEN_OUTPUT;
    case Failure::not_bmp:
    case Failure::header_truncated:
    case Failure::info_header_size:
    case Failure::pixel_offset:
    case Failure::bit_count:
    case Failure::compression:
    case Failure::negative_width:
    case Failure::pixels_truncated:
      return BMPRESIZER_UNSUPPORTED_INPUT;
    case Failure::factor_below_one:
    case Failure::width_too_large:
    case Failure::height_too_large:
    case Failure::file_too_large:
      return BMPRESIZER_OUTPUT_TOO_LARGE;
    case Failure::read_failed:
    case Failure::input_shrank:
    case Failure::write_failed:
    case Failure::close_failed:
      return BMPRESIZER_IO_ERROR;
  }
  return BMPRESIZER_IO_ERROR;
}

}  // namespace bmpresizer
