#include "report.h"

#include "bmpresizer_files.h"
#include "console.h"

#include <chrono>
#include <cstdio>
#include <iterator>

namespace bmpresize {
namespace {

using bmpresizer::Failure;
using bmpresizer::Outcome;

// The kind of a well-known image file that is not a BMP, from its first two
// bytes (read little-endian), or null.
const char* other_image_kind(std::uint64_t first_bytes) {
  switch (first_bytes) {
    case 0x5089:  // 89 50: "\x89PNG"
      return "PNG";
    case 0xD8FF:  // FF D8: a JPEG start-of-image marker
      return "JPEG";
    case 0x4947:  // 47 49: "GIF8"
      return "GIF";
    default:
      return nullptr;
  }
}

// `word` as one word for the shell: quoted where it needs quoting, and
// never taken for an option.
std::string shell_word(const std::string& word) {
  const std::string prefix = !word.empty() && word[0] == '-' && word != "-" ? "./" : "";
#ifdef _WIN32
  if (word.find_first_of(" \t&()[]{}^=;!'+,`~%") == std::string::npos && !word.empty()) {
    return prefix + word;
  }
  return "\"" + prefix + word + "\"";
#else
  if (!word.empty() && word.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                              "0123456789_@%+=:,./-") == std::string::npos) {
    return prefix + word;
  }
  std::string quoted = "'" + prefix;
  for (char c : word) {
    quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  }
  return quoted + "'";
#endif
}

// ImageMagick's command: version 7's `magick` on Windows, where `convert` is
// the system's file-system converter; `convert`, which both versions have,
// elsewhere.
#ifdef _WIN32
const char kImageMagick[] = "magick";
#else
const char kImageMagick[] = "convert";
#endif

// The commands that turn `input` into an uncompressed BMP beside it (both
// programs write compressed ones of few colours unless told not to).
std::string conversion_commands(const std::string& input) {
  const std::size_t name = input.find_last_of(kPathSeparators);
  const std::size_t dot = input.rfind('.');
  const bool has_extension = dot != std::string::npos && (name == std::string::npos || dot > name);
  const std::string in = shell_word(input);
  const std::string out =
      shell_word((input == "-" ? std::string("converted")
                               : input.substr(0, has_extension ? dot : input.size())) +
                 "-plain.bmp");
  return "gm convert " + in + " -compress None BMP3:" + out + " (or ImageMagick: " + kImageMagick +
         " " + in + " -compress none BMP3:" + out + ")";
}

// The compression method `method` of a header of `header_size` bytes (0:
// 40); OS/2's 64-byte header numbers two of them its own way.
const char* compression_name(std::uint64_t method, std::uint64_t header_size) {
  if (header_size == 64 && (method == 3 || method == 4)) {
    return method == 3 ? "Huffman 1D" : "RLE24";
  }
  static const char* const kNames[] = {"none", "RLE8", "RLE4",          "BITFIELDS",
                                       "JPEG", "PNG",  "ALPHABITFIELDS"};
  return method < std::size(kNames) ? kNames[method] : "unknown";
}

// What to run to convert the refused `input`, or "": an image that the
// general tools read (another kind of file, a BMP compressed with RLE), or
// a BMP whose pixels are a whole JPEG or PNG file, taken out first.
std::string conversion_hint(const std::string& input, const Outcome& o) {
  if ((o.failure == Failure::not_bmp && other_image_kind(o.have) != nullptr) ||
      (o.failure == Failure::compression && o.want != 64 && (o.have == 1 || o.have == 2))) {
    return "; convert it first: " + conversion_commands(input);
  }
#ifndef _WIN32
  if (o.failure == Failure::compression && o.want != 64 && (o.have == 4 || o.have == 5) &&
      input != "-") {
    const std::size_t dot = input.rfind('.');
    const std::string inner = input.substr(0, dot == std::string::npos ? input.size() : dot) +
                              (o.have == 4 ? ".jpg" : ".png");
    return "; its pixels are a whole " + std::string(o.have == 4 ? "JPEG" : "PNG") +
           " file: take it out with tail -c +$((1 + $(od -An -tu4 -j10 -N4 " + shell_word(input) +
           "))) " + shell_word(input) + " > " + shell_word(inner) +
           " and convert that: " + conversion_commands(inner);
  }
#endif
  return "";
}

const char kDamaged[] = "; the header is damaged";

std::string number(std::uint64_t value) { return std::to_string(value); }

// A signed 32-bit field or factor, kept as the unsigned image of its bits.
std::string signed32(std::uint64_t bits) {
  return std::to_string(static_cast<std::int32_t>(static_cast<std::uint32_t>(bits)));
}

std::string system_error(const char* what, int error) {
  return std::string(what) + ": " + error_text(error);
}

// The reason part of the line of a refused image or enlargement.
std::string image_reason(const Outcome& o) {
  switch (o.failure) {
    case Failure::not_bmp:
      return other_image_kind(o.have) != nullptr
                 ? std::string("a ") + other_image_kind(o.have) + " image, not a BMP"
                 : "not a BMP file (it does not start with \"BM\")";
    case Failure::header_truncated:
      return "file is truncated: " + number(o.have) + " bytes, a BMP header needs " +
             number(o.want);
    case Failure::info_header_size:
      return "a " + number(o.have) + "-byte information header, which no kind of BMP has" +
             kDamaged;
    case Failure::planes:
      return number(o.have) + " planes, where a BMP has 1" + kDamaged;
    case Failure::bit_count:
      return number(o.have) + " bits per pixel; BMP files of 1, 2, 4, 8, 16, 24 and 32 are " +
             "enlarged";
    case Failure::compression:
      return std::string("compressed (") + compression_name(o.have, o.want) +
             "); only uncompressed BMP files are enlarged" +
             (o.want == 64 && (o.have == 3 || o.have == 4)
                  ? ", and no common program reads this compression"
                  : "");
    case Failure::pixel_offset:
      return "pixel data starts at byte " + number(o.have) + ", inside the headers" + kDamaged;
    case Failure::color_table:
      return "a colour table of " + number(o.have) + " colours, with room for " + number(o.want) +
             " before the pixels" + kDamaged;
    case Failure::negative_width:
      return "negative width (" + signed32(o.have) + ")" + kDamaged;
    case Failure::profile_offset:
      return "its colour profile (at " + number(o.have) + " in its header) overlaps the pixels" +
             kDamaged;
    case Failure::pixels_truncated:
      return o.want == UINT64_MAX
                 ? "file is truncated: the header declares more bytes than any file can hold"
                 : "file is truncated: the header declares " + number(o.want) +
                       " bytes, the file has " + number(o.have);
    case Failure::factor_below_one:
      return "factor " + signed32(o.have) + " is below 1; nothing to enlarge";
    case Failure::width_too_large:
    case Failure::height_too_large:
      return "the enlarged image would be " + number(o.want) + " pixels " +
             (o.failure == Failure::width_too_large ? "wide" : "high") +
             "; its kind of BMP allows at most " + number(o.have);
    case Failure::file_too_large:
      return "the enlarged image would be " + human_bytes(static_cast<double>(o.want)) +
             "; BMP files cannot exceed 4 GiB";
    default:
      return "";
  }
}

// The reason part of a failure's line.
std::string reason(const Outcome& o) {
  if (std::string image = image_reason(o); !image.empty()) {
    return image;
  }
  switch (o.failure) {
    case Failure::input_open:
    case Failure::input_path_invalid:
      return system_error("cannot open", o.error);
    case Failure::input_is_directory:
      return "is a directory, not a BMP file";
    case Failure::input_stream_closed:
      return "standard input is closed";
    case Failure::output_open:
    case Failure::output_path_invalid:
      return system_error("cannot create", o.error);
    case Failure::output_is_input:
      return "output is the same file as the input";
    case Failure::output_no_reader:
      return "a named pipe that no process is reading; start the reader first";
    case Failure::output_stream_closed:
      return "standard output is closed";
    case Failure::input_not_regular:
      return "not a regular file (a pipe or a device); the input must be a file";
    case Failure::read_failed:
      return system_error("read error", o.error);
    case Failure::input_shrank:
      return "the file became shorter while it was being read";
    case Failure::spool_failed:
      return system_error(("cannot keep it in a temporary file in " + temporary_folder()).c_str(),
                          o.error);
    case Failure::write_failed:
      return system_error("write error", o.error);
    case Failure::close_failed:
      return system_error("could not finish writing", o.error);
    default:
      return "";
  }
}

// Whether a failure is about the output file rather than the input.
bool about_output(Failure failure) {
  const bmpresizer::FailureGroup group = bmpresizer::group_of(failure);
  return group == bmpresizer::FailureGroup::output_unopened ||
         group == bmpresizer::FailureGroup::size_refused || failure == Failure::write_failed ||
         failure == Failure::close_failed;
}

}  // namespace

void print_out_of_memory(const std::string& file) {
  const auto span = [](const char* text, std::size_t size) {
    return bmpresizer::ByteSpan{reinterpret_cast<const std::uint8_t*>(text), size};
  };
  const bmpresizer::ByteSpan parts[] = {span("bmpresize: ", 11), span(file.data(), file.size()),
                                        span(": ", file.empty() ? 0 : 2),
                                        span("out of memory\n", 14)};
  int error = 0;
  bmpresizer::write_all(bmpresizer::standard_error(), parts, 4, error);
}

double seconds_now() {
  using Clock = std::chrono::steady_clock;
  return std::chrono::duration<double>(Clock::now().time_since_epoch()).count();
}

std::string human_bytes(double bytes) {
  const char* units[] = {"bytes", "KiB", "MiB", "GiB", "TiB"};
  int unit = 0;
  while (bytes >= 1024.0 && unit < 4) {
    bytes /= 1024.0;
    ++unit;
  }
  char text[32];
  std::snprintf(text, sizeof text, unit == 0 ? "%.0f %s" : "%.1f %s", bytes, units[unit]);
  return text;
}

std::string duration_text(double seconds) {
  char text[32];
  if (seconds < 1) {
    std::snprintf(text, sizeof text, "%.1f ms", seconds * 1000);
  } else {
    std::snprintf(text, sizeof text, "%.2f s", seconds);
  }
  return text;
}

std::string failure_line(const std::string& input, const std::string& output,
                         const Outcome& outcome) {
  if (outcome.ok()) {
    return "";
  }
  const std::string& named = about_output(outcome.failure) ? output : input;
  return "bmpresize: " + (named.empty() ? std::string("\"\"") : named) + ": " + reason(outcome) +
         conversion_hint(input, outcome) + "\n";
}

std::string kind_warning(const std::string& output) {
  const std::size_t name = output.find_last_of(kPathSeparators);
  const std::size_t dot = output.rfind('.');
  std::string kind = dot == std::string::npos || (name != std::string::npos && dot < name)
                         ? std::string()
                         : output.substr(dot + 1);
  for (char& c : kind) {
    c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  }
  const std::string kinds =
      " png jpg jpeg gif tif tiff webp ppm pgm pbm pnm pam tga ico heic avif "
      "jxl jp2 exr svg ";
  return kind.empty() || kinds.find(" " + kind + " ") == std::string::npos
             ? ""
             : "bmpresize: warning: " + output + " is named like a " + kind +
                   " image, but it holds a BMP\n";
}

std::string success_line(const std::string& input, const std::string& output, std::int32_t factor,
                         std::uint64_t output_bytes, double seconds) {
  return "bmpresize: " + input + ": enlarged " + std::to_string(factor) + "x into " + output +
         " (" + human_bytes(static_cast<double>(output_bytes)) + ") in " + duration_text(seconds) +
         "\n";
}

}  // namespace bmpresize
