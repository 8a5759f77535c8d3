#include "bmpresizer_core.h"

namespace bmpresizer {

FailureGroup group_of(Failure failure) {
  switch (failure) {
    case Failure::none:
      return FailureGroup::none;
    case Failure::input_open:
    case Failure::input_is_directory:
    case Failure::input_path_invalid:
    case Failure::input_stream_closed:
      return FailureGroup::input_unopened;
    case Failure::output_open:
    case Failure::output_path_invalid:
    case Failure::output_is_input:
    case Failure::output_no_reader:
    case Failure::output_stream_closed:
    case Failure::output_is_socket:
    case Failure::output_folder_unwritable:
      return FailureGroup::output_unopened;
    case Failure::input_not_regular:
    case Failure::not_bmp:
    case Failure::header_truncated:
    case Failure::info_header_size:
    case Failure::planes:
    case Failure::bit_count:
    case Failure::compression:
    case Failure::pixel_offset:
    case Failure::color_table:
    case Failure::negative_width:
    case Failure::profile_offset:
    case Failure::pixels_truncated:
    case Failure::palette_missing:
    case Failure::masks_bit_count:
    case Failure::rle_bit_count:
    case Failure::rle_top_down:
    case Failure::rle_size:
    case Failure::rle_past_row:
    case Failure::rle_past_image:
    case Failure::rle_truncated:
      return FailureGroup::input_refused;
    case Failure::factor_below_one:
    case Failure::width_too_large:
    case Failure::height_too_large:
    case Failure::file_too_large:
      return FailureGroup::size_refused;
    case Failure::read_failed:
    case Failure::input_shrank:
    case Failure::spool_failed:
    case Failure::write_failed:
    case Failure::close_failed:
    case Failure::cancelled:
    case Failure::out_of_memory:
      return FailureGroup::io_failed;
    case Failure::invalid_argument:
      return FailureGroup::misuse;
    case Failure::output_buffer_small:
      return FailureGroup::output_unopened;
  }
  return FailureGroup::io_failed;
}

}  // namespace bmpresizer
