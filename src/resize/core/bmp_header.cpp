#include "bmp_header.h"

#include <cstring>

#include "checked_math.h"

namespace bmpresizer {
namespace {

std::uint16_t get_u16le(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

std::uint32_t get_u32le(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

void put_u32le(std::uint8_t* p, std::uint32_t value) {
  p[0] = static_cast<std::uint8_t>(value);
  p[1] = static_cast<std::uint8_t>(value >> 8);
  p[2] = static_cast<std::uint8_t>(value >> 16);
  p[3] = static_cast<std::uint8_t>(value >> 24);
}

constexpr std::uint16_t kSignatureBM = 0x4D42;       // the bytes "BM"
constexpr std::uint32_t kBitsPerPixel = 24;          // three bytes per pixel: blue, green, red
constexpr std::uint64_t kMaxDimension = 0x7FFFFFFF;  // biWidth and biHeight are signed 32-bit
constexpr std::uint64_t kMaxCoreDimension = 0xFFFF;  // a 12-byte header's sizes are 16-bit
constexpr std::uint64_t kMaxFileBytes = 0xFFFFFFFF;  // bfSize is unsigned 32-bit

void put_u16le(std::uint8_t* p, std::uint16_t value) {
  p[0] = static_cast<std::uint8_t>(value);
  p[1] = static_cast<std::uint8_t>(value >> 8);
}

std::int32_t get_i32le(const std::uint8_t* p) {
  const std::uint32_t bits = get_u32le(p);
  std::int32_t value = 0;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

std::uint32_t as_bits(std::int32_t value) {
  std::uint32_t bits = 0;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

// |value| without the overflow of negating INT32_MIN.
std::uint32_t magnitude(std::int32_t value) {
  return value < 0 ? 0U - as_bits(value) : as_bits(value);
}

// A refusal: the check that failed, with what the file says.
Outcome refuse(Failure failure, std::uint64_t have, std::uint64_t want = 0) {
  return failed(failure, 0, have, want);
}

bool is_bit_count(std::uint32_t bits) {
  return bits == 1 || bits == 2 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

// Rows of `pixels` pixels of `bits` bits: the bytes that hold them, and the
// stride, a whole number of 32-bit words. Both below 2^34.
void set_row_shape(std::uint64_t pixels, std::uint32_t bits, std::uint64_t& data_bytes,
                   std::uint64_t& row_bytes) {
  data_bytes = (pixels * bits + 7) / 8;
  row_bytes = (pixels * bits + 31) / 32 * 4;
}

// The layout's rows from `width`, `height` and the bit depth; the file must
// hold the prefix and every row but the last one's padding, which may be
// missing. Sets `needed_bytes`; false when that exceeds 64 bits.
bool set_rows(InputLayout& in, std::uint32_t width, std::int32_t height) {
  in.width = width;
  in.rows = magnitude(height);
  in.top_down = height < 0;
  set_row_shape(in.width, in.bits_per_pixel, in.row_data_bytes, in.row_bytes);
  in.pad_bytes = static_cast<std::uint32_t>(in.row_bytes - in.row_data_bytes);
  in.first_row_at = in.prefix_bytes;
  std::uint64_t full_rows = 0;
  std::uint64_t rows_end = 0;
  in.needed_bytes = in.prefix_bytes;
  return in.rows == 0 || (checked_mul(in.row_bytes, in.rows - 1U, full_rows) &&
                          checked_add(full_rows, in.row_data_bytes, rows_end) &&
                          checked_add(rows_end, in.prefix_bytes, in.needed_bytes));
}

// The file is long enough for what the layout needs.
Outcome check_length(const InputLayout& in, std::uint64_t file_bytes) {
  if (file_bytes < in.needed_bytes) {
    return refuse(Failure::pixels_truncated, file_bytes, in.needed_bytes);
  }
  return Outcome{};
}

Outcome check_classic(const std::uint8_t* header, std::size_t header_bytes,
                      std::uint64_t file_bytes, InputLayout& layout) {
  if (header_bytes < kHeaderBytes) {
    return refuse(Failure::header_truncated, header_bytes, kHeaderBytes);
  }
  // Checked in the order that gives the most useful answer: the header kind,
  // then the pixel format, then where the pixels start.
  const std::uint32_t info_size = get_u32le(header + kBiSize);
  if (info_size != kInfoHeaderSize) {
    return refuse(Failure::info_header_size, info_size);
  }
  const std::uint16_t bit_count = get_u16le(header + kBiBitCount);
  if (bit_count != kBitsPerPixel) {
    return refuse(Failure::bit_count, bit_count);
  }
  const std::uint32_t compression = get_u32le(header + kBiCompression);
  if (compression != kBiRgb) {
    return refuse(Failure::compression, compression);
  }
  // The pixel data must follow the two headers directly; a colour table or a
  // gap moves it.
  const std::uint32_t offset = get_u32le(header + kBfOffBits);
  if (offset != kHeaderBytes) {
    return refuse(Failure::pixel_offset, offset);
  }
  const std::int32_t width = get_i32le(header + kBiWidth);
  if (width < 0) {
    return refuse(Failure::negative_width, as_bits(width));
  }
  InputLayout in;
  if (!set_rows(in, static_cast<std::uint32_t>(width), get_i32le(header + kBiHeight))) {
    return refuse(Failure::pixels_truncated, file_bytes, UINT64_MAX);
  }
  const Outcome length = check_length(in, file_bytes);
  if (length.ok()) {
    layout = in;
  }
  return length;
}

// The bytes of colour masks that follow a header rather than lie in it:
// BITMAPINFOHEADER's three masks (BI_BITFIELDS) or four (BI_ALPHABITFIELDS).
std::uint32_t masks_after(const HeaderKind& kind, std::uint32_t compression) {
  if (!kind.masks_after_header) {
    return 0;
  }
  return compression == kBiBitfields ? 12 : compression == kBiAlphaBitfields ? 16 : 0;
}

// A V5 header's profile (a file name or an ICC profile) lies somewhere from
// the start of the V5 header: in the gap after the colour table, where it
// is copied with the rest of the prefix, or after the pixels, where it is
// copied after the enlarged ones. Over the headers, whose size fields are
// rewritten, or the table, or the pixels, it is damaged.
Outcome check_profile(const std::uint8_t* header, const HeaderKind& kind, InputLayout& in) {
  if (kind.profile_type_at == 0) {
    return Outcome{};
  }
  const std::uint32_t space = get_u32le(header + kind.profile_type_at);
  const std::uint64_t size = get_u32le(header + kind.profile_size_at);
  if (size == 0 || (space != kProfileLinked && space != kProfileEmbedded)) {
    return Outcome{};
  }
  const std::uint32_t data = get_u32le(header + kind.profile_data_at);
  const std::uint64_t at = kFileHeaderBytes + std::uint64_t{data};
  if (at < in.tables_end) {
    return refuse(Failure::profile_offset, data);
  }
  if (at + size <= in.prefix_bytes) {
    return Outcome{};
  }
  if (at < in.needed_bytes) {
    return refuse(Failure::profile_offset, data);
  }
  in.profile_at = at;
  in.profile_bytes = size;
  in.needed_bytes = at + size;
  return Outcome{};
}

// The bit depth a run-length code encodes, or 0 for a compression that is
// none: RLE8 and RLE4 wherever there is a compression field, RLE24 only in
// OS/2 2.x's header.
std::uint32_t encoded_bits_of(const HeaderKind& kind, std::uint32_t compression) {
  if (kind.compression_at == 0) {
    return 0;
  }
  return compression == kBiRle8                   ? 8
         : compression == kBiRle4                 ? 4
         : compression == kOs2Rle24 && kind.rle24 ? 24
                                                  : 0;
}

// The header's planes, compression and bit depth.
Outcome check_pixel_kind(const std::uint8_t* header, const HeaderKind& kind, Kinds kinds,
                         InputLayout& in) {
  const std::uint16_t planes = get_u16le(header + kind.planes_at);
  if (planes != 1) {
    return refuse(Failure::planes, planes);
  }
  // A compressed image says so before its bit count (0 for JPEG and PNG).
  in.compression = kind.compression_at != 0 ? get_u32le(header + kind.compression_at) : kBiRgb;
  const bool masks = (in.compression == kBiBitfields || in.compression == kBiAlphaBitfields) &&
                     (kind.masks_in_header || kind.masks_after_header);
  in.encoded_bits = kinds == Kinds::every ? encoded_bits_of(kind, in.compression) : 0;
  if (in.compression != kBiRgb && !masks && in.encoded_bits == 0) {
    return refuse(Failure::compression, in.compression, kind.size);
  }
  in.bits_per_pixel = get_u16le(header + kind.bit_count_at);
  if (!is_bit_count(in.bits_per_pixel)) {
    return refuse(Failure::bit_count, in.bits_per_pixel);
  }
  // Masks go with 16 and 32 bits per pixel only.
  if (masks && in.bits_per_pixel != 16 && in.bits_per_pixel != 32) {
    return refuse(Failure::masks_bit_count, in.bits_per_pixel, in.compression);
  }
  // Each run-length code encodes pixels of one depth.
  if (in.encoded_bits != 0 && in.bits_per_pixel != in.encoded_bits) {
    return refuse(Failure::rle_bit_count, in.bits_per_pixel, in.compression);
  }
  return Outcome{};
}

// Where the pixels start: after the headers, the masks and the colour
// table. A palette image (8 bits per pixel or fewer) needs its palette: the
// colours its header declares must fit before the pixels, and without a
// count (0, or a kind that has none) the table is what fits, up to 2^bits
// entries, but at least one. Beyond 8 bits a table only helps displays of
// few colours: one the header declares without room for it is ignored, as
// readers and the classic kind ignore it.
Outcome check_prefix(const std::uint8_t* header, const HeaderKind& kind, InputLayout& in) {
  const std::uint64_t tables_at = kFileHeaderBytes + kind.size + masks_after(kind, in.compression);
  in.prefix_bytes = get_u32le(header + kBfOffBits);
  if (in.prefix_bytes < tables_at) {
    return refuse(Failure::pixel_offset, in.prefix_bytes);
  }
  const std::uint64_t declared =
      kind.colours_used_at != 0 ? get_u32le(header + kind.colours_used_at) : 0;
  const std::uint64_t room = (in.prefix_bytes - tables_at) / kind.colour_bytes;
  in.tables_end = tables_at;
  if (in.bits_per_pixel > 8) {
    in.tables_end += declared <= room ? declared * kind.colour_bytes : 0;
    return Outcome{};
  }
  if (declared > room) {
    return refuse(Failure::color_table, declared, room);
  }
  if (room == 0) {
    return refuse(Failure::palette_missing, in.bits_per_pixel, in.prefix_bytes);
  }
  const std::uint64_t full = std::uint64_t{1} << in.bits_per_pixel;
  const std::uint64_t entries = declared > 0 ? declared : room < full ? room : full;
  in.tables_end += entries * kind.colour_bytes;
  return Outcome{};
}

// The width and height: unsigned 16-bit fields in OS/2 1.x, signed 32-bit
// ones elsewhere, where a negative height means rows stored top-down and a
// negative width means nothing.
Outcome check_dimensions(const std::uint8_t* header, const HeaderKind& kind,
                         std::uint64_t file_bytes, InputLayout& in) {
  std::uint32_t width = get_u16le(header + kind.width_at);
  std::int32_t height = get_u16le(header + kind.height_at);
  if (kind.dimension_bytes == 4) {
    const std::int32_t signed_width = get_i32le(header + kind.width_at);
    if (signed_width < 0) {
      return refuse(Failure::negative_width, as_bits(signed_width));
    }
    width = static_cast<std::uint32_t>(signed_width);
    height = get_i32le(header + kind.height_at);
  }
  if (!set_rows(in, width, height)) {
    return refuse(Failure::pixels_truncated, file_bytes, UINT64_MAX);
  }
  return Outcome{};
}

// Run-length encoded rows: stored bottom-up (the codes only move up the
// image), their bytes biSizeImage (all that follows bfOffBits where that is
// 0), which the file must hold. What the codes draw is checked as they are
// read.
Outcome check_encoded(const std::uint8_t* header, const HeaderKind& kind, std::uint64_t file_bytes,
                      InputLayout& in) {
  if (in.encoded_bits == 0) {
    return Outcome{};
  }
  if (in.top_down) {
    return refuse(Failure::rle_top_down, get_u32le(header + kind.height_at));
  }
  const std::uint64_t room = file_bytes > in.prefix_bytes ? file_bytes - in.prefix_bytes : 0;
  const std::uint64_t declared = get_u32le(header + kind.size_image_at);
  if (declared > room) {
    return refuse(Failure::rle_size, declared, room);
  }
  in.encoded_bytes = declared > 0 ? declared : room;
  in.needed_bytes = in.prefix_bytes + in.encoded_bytes;  // within the file, or UINT64_MAX
  return Outcome{};
}

Outcome check_uncompressed(const std::uint8_t* header, std::size_t header_bytes,
                           std::uint64_t file_bytes, Kinds kinds, InputLayout& layout) {
  const std::uint64_t size_field_end = kBiSize + 4;
  if (header_bytes < size_field_end) {
    return refuse(Failure::header_truncated, header_bytes, size_field_end);
  }
  InputLayout in;
  in.info_size = get_u32le(header + kBiSize);
  const HeaderKind* const kind = header_kind(in.info_size);
  if (kind == nullptr) {
    return refuse(Failure::info_header_size, in.info_size);
  }
  if (header_bytes < kFileHeaderBytes + kind->size) {
    return refuse(Failure::header_truncated, header_bytes, kFileHeaderBytes + kind->size);
  }
  Outcome outcome = check_pixel_kind(header, *kind, kinds, in);
  if (outcome.ok()) {
    outcome = check_prefix(header, *kind, in);
  }
  if (outcome.ok()) {
    outcome = check_dimensions(header, *kind, file_bytes, in);
  }
  if (outcome.ok()) {
    outcome = check_encoded(header, *kind, file_bytes, in);
  }
  if (outcome.ok()) {
    outcome = check_profile(header, *kind, in);
  }
  if (outcome.ok()) {
    outcome = check_length(in, file_bytes);
  }
  if (outcome.ok()) {
    layout = in;
  }
  return outcome;
}

// The output's headers: the input's, with the sizes of `out` (and BI_RGB
// where encoded rows are written uncompressed).
void write_output_header(const std::uint8_t* header, const InputLayout& input,
                         const HeaderKind& kind, const OutputLayout& out,
                         std::uint8_t (&out_header)[kMaxHeaderBytes]) {
  const std::size_t header_bytes = kFileHeaderBytes + input.info_size;
  std::memcpy(out_header, header, header_bytes);
  put_u32le(out_header + kBfSize, static_cast<std::uint32_t>(out.file_bytes));
  if (kind.dimension_bytes == 2) {
    put_u16le(out_header + kind.width_at, static_cast<std::uint16_t>(out.width));
    put_u16le(out_header + kind.height_at, static_cast<std::uint16_t>(out.rows));
  } else {
    const std::int32_t signed_rows = static_cast<std::int32_t>(out.rows);
    put_u32le(out_header + kind.width_at, out.width);
    put_u32le(out_header + kind.height_at, input.top_down ? as_bits(-signed_rows) : out.rows);
  }
  if (kind.size_image_at != 0) {
    put_u32le(out_header + kind.size_image_at, static_cast<std::uint32_t>(out.pixel_bytes));
  }
  if (input.encoded_bits != 0 && !out.encoded) {
    put_u32le(out_header + kind.compression_at, kBiRgb);
  }
  if (input.profile_bytes > 0) {
    put_u32le(out_header + kind.profile_data_at,
              static_cast<std::uint32_t>(out.profile_at - kFileHeaderBytes));
  }
}

}  // namespace

Outcome check_input_header(const std::uint8_t* header, std::size_t header_bytes,
                           std::uint64_t file_bytes, Kinds kinds, InputLayout& layout) {
  if (header_bytes < 2 || get_u16le(header + kBfType) != kSignatureBM) {
    return refuse(Failure::not_bmp, header_bytes >= 2 ? get_u16le(header + kBfType) : 0);
  }
  return kinds == Kinds::classic
             ? check_classic(header, header_bytes, file_bytes, layout)
             : check_uncompressed(header, header_bytes, file_bytes, kinds, layout);
}

Outcome derive_output_header(const std::uint8_t* header, const InputLayout& input, Factors factors,
                             OutputForm form, std::uint64_t encoded_bytes,
                             std::uint8_t (&out_header)[kMaxHeaderBytes], OutputLayout& layout) {
  if (factors.across < 1 || factors.down < 1) {
    return refuse(Failure::factor_below_one,
                  as_bits(factors.across < 1 ? factors.across : factors.down));
  }
  OutputLayout out;
  out.across = static_cast<std::uint32_t>(factors.across);
  out.down = static_cast<std::uint32_t>(factors.down);
  const HeaderKind& kind = *header_kind(input.info_size);
  const std::uint64_t limit = kind.dimension_bytes == 2 ? kMaxCoreDimension : kMaxDimension;
  std::uint64_t width = 0;
  std::uint64_t rows = 0;
  // Both products are below 2^63, but they are checked like every other size.
  if (!checked_mul(input.width, out.across, width) || width > limit) {
    return refuse(Failure::width_too_large, limit, width);
  }
  if (!checked_mul(input.rows, out.down, rows) || rows > limit) {
    return refuse(Failure::height_too_large, limit, rows);
  }
  out.width = static_cast<std::uint32_t>(width);
  out.rows = static_cast<std::uint32_t>(rows);
  set_row_shape(out.width, input.bits_per_pixel, out.row_data_bytes, out.row_bytes);
  out.pad_bytes = static_cast<std::uint32_t>(out.row_bytes - out.row_data_bytes);
  out.pixels_at = input.prefix_bytes;
  out.encoded = input.encoded_bits != 0 && form == OutputForm::same;
  std::uint64_t pixels_end = 0;
  std::uint64_t file_bytes = 0;
  if (out.encoded) {
    out.pixel_bytes = encoded_bytes;
  } else if (!checked_mul(out.row_bytes, out.rows, out.pixel_bytes)) {
    out.pixel_bytes = UINT64_MAX;
  }
  if (out.pixel_bytes == UINT64_MAX || !checked_add(out.pixel_bytes, out.pixels_at, pixels_end) ||
      !checked_add(pixels_end, input.profile_bytes, file_bytes) || file_bytes > kMaxFileBytes) {
    return refuse(Failure::file_too_large, 0, file_bytes == 0 ? UINT64_MAX : file_bytes);
  }
  out.profile_at = pixels_end;
  out.file_bytes = file_bytes;

  write_output_header(header, input, kind, out, out_header);
  layout = out;
  return Outcome{};
}

}  // namespace bmpresizer
