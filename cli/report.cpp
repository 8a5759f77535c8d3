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
  return "gm convert " + in + " -compress None BMP3:" + out + " (or ImageMagick: convert " + in +
         " -compress none BMP3:" + out + ")";
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

// Which file a failure is about.
enum class Subject { input, output };

// The reason part of a failure's line.
using Reason = std::string (*)(const Outcome&);

// The fields in the order a table entry reads best; a few bytes of padding in
// a table of two dozen entries cost nothing.
struct Explanation {
  Failure failure;
  Subject subject;
  Reason reason;
};

// One entry for every failure, in the order of Failure.
constexpr Explanation kExplanations[] = {
    {Failure::input_open, Subject::input,
     [](const Outcome& o) { return system_error("cannot open", o.error); }},
    {Failure::input_is_directory, Subject::input,
     [](const Outcome&) { return std::string("is a directory, not a BMP file"); }},
    {Failure::input_path_invalid, Subject::input,
     [](const Outcome& o) { return system_error("cannot open", o.error); }},
    {Failure::input_stream_closed, Subject::input,
     [](const Outcome&) { return std::string("standard input is closed"); }},
    {Failure::output_open, Subject::output,
     [](const Outcome& o) { return system_error("cannot create", o.error); }},
    {Failure::output_path_invalid, Subject::output,
     [](const Outcome& o) { return system_error("cannot create", o.error); }},
    {Failure::output_is_input, Subject::output,
     [](const Outcome&) { return std::string("output is the same file as the input"); }},
    {Failure::output_no_reader, Subject::output,
     [](const Outcome&) {
       return std::string("a named pipe that no process is reading; start the reader first");
     }},
    {Failure::output_stream_closed, Subject::output,
     [](const Outcome&) { return std::string("standard output is closed"); }},
    {Failure::input_not_regular, Subject::input,
     [](const Outcome&) {
       return std::string("not a regular file (a pipe or a device); the input must be a file");
     }},
    {Failure::not_bmp, Subject::input,
     [](const Outcome& o) {
       const char* kind = other_image_kind(o.have);
       return kind != nullptr ? std::string("a ") + kind + " image, not a BMP"
                              : std::string("not a BMP file (it does not start with \"BM\")");
     }},
    {Failure::header_truncated, Subject::input,
     [](const Outcome& o) {
       return "file is truncated: " + number(o.have) + " bytes, a BMP header needs " +
              number(o.want);
     }},
    {Failure::info_header_size, Subject::input,
     [](const Outcome& o) {
       return "a " + number(o.have) + "-byte information header, which no kind of BMP has" +
              kDamaged;
     }},
    {Failure::planes, Subject::input,
     [](const Outcome& o) { return number(o.have) + " planes, where a BMP has 1" + kDamaged; }},
    {Failure::bit_count, Subject::input,
     [](const Outcome& o) {
       return number(o.have) + " bits per pixel; BMP files of 1, 2, 4, 8, 16, 24 and 32 are " +
              "enlarged";
     }},
    {Failure::compression, Subject::input,
     [](const Outcome& o) {
       return std::string("compressed (") + compression_name(o.have, o.want) +
              "); only uncompressed BMP files are enlarged" +
              (o.want == 64 && (o.have == 3 || o.have == 4)
                   ? std::string(", and no common program reads this compression")
                   : std::string());
     }},
    {Failure::pixel_offset, Subject::input,
     [](const Outcome& o) {
       return "pixel data starts at byte " + number(o.have) + ", inside the headers" + kDamaged;
     }},
    {Failure::color_table, Subject::input,
     [](const Outcome& o) {
       return "a colour table of " + number(o.have) + " colours, with room for " + number(o.want) +
              " before the pixels" + kDamaged;
     }},
    {Failure::negative_width, Subject::input,
     [](const Outcome& o) { return "negative width (" + signed32(o.have) + ")" + kDamaged; }},
    {Failure::profile_offset, Subject::input,
     [](const Outcome& o) {
       return "its colour profile (at " + number(o.have) + " in its header) overlaps the pixels" +
              kDamaged;
     }},
    {Failure::pixels_truncated, Subject::input,
     [](const Outcome& o) {
       if (o.want == UINT64_MAX) {
         return std::string(
             "file is truncated: the header declares more bytes than any file can hold");
       }
       return "file is truncated: the header declares " + number(o.want) + " bytes, the file has " +
              number(o.have);
     }},
    {Failure::factor_below_one, Subject::output,
     [](const Outcome& o) {
       return "factor " + signed32(o.have) + " is below 1; nothing to enlarge";
     }},
    {Failure::width_too_large, Subject::output,
     [](const Outcome& o) {
       return "the enlarged image would be " + number(o.want) + " pixels wide; its kind of BMP " +
              "allows at most " + number(o.have);
     }},
    {Failure::height_too_large, Subject::output,
     [](const Outcome& o) {
       return "the enlarged image would be " + number(o.want) + " pixels high; its kind of BMP " +
              "allows at most " + number(o.have);
     }},
    {Failure::file_too_large, Subject::output,
     [](const Outcome& o) {
       return "the enlarged image would be " + human_bytes(static_cast<double>(o.want)) +
              "; BMP files cannot exceed 4 GiB";
     }},
    {Failure::read_failed, Subject::input,
     [](const Outcome& o) { return system_error("read error", o.error); }},
    {Failure::input_shrank, Subject::input,
     [](const Outcome&) { return std::string("the file became shorter while it was being read"); }},
    {Failure::spool_failed, Subject::input,
     [](const Outcome& o) {
       return system_error(("cannot keep it in a temporary file in " + temporary_folder()).c_str(),
                           o.error);
     }},
    {Failure::write_failed, Subject::output,
     [](const Outcome& o) { return system_error("write error", o.error); }},
    {Failure::close_failed, Subject::output,
     [](const Outcome& o) { return system_error("could not finish writing", o.error); }},
};

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
  for (const Explanation& explanation : kExplanations) {
    if (explanation.failure == outcome.failure) {
      const std::string& named = explanation.subject == Subject::input ? input : output;
      const std::string file = named.empty() ? "\"\"" : named;
      return "bmpresize: " + file + ": " + explanation.reason(outcome) +
             conversion_hint(input, outcome) + "\n";
    }
  }
  return "";
}

std::string kind_warning(const std::string& output) {
  static const char* const kOtherKinds[] = {
      ".png", ".jpg", ".jpeg", ".gif", ".tif",  ".tiff", ".webp", ".ppm", ".pgm", ".pbm",
      ".pnm", ".pam", ".tga",  ".ico", ".heic", ".avif", ".jxl",  ".jp2", ".exr", ".svg"};
  const std::size_t name = output.find_last_of(kPathSeparators);
  const std::size_t dot = output.rfind('.');
  if (dot == std::string::npos || (name != std::string::npos && dot < name)) {
    return "";
  }
  std::string extension = output.substr(dot);
  for (char& c : extension) {
    c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  }
  for (const char* kind : kOtherKinds) {
    if (extension == kind) {
      return "bmpresize: warning: " + output + " is named like a " + extension.substr(1) +
             " image, but it holds a BMP\n";
    }
  }
  return "";
}

std::string success_line(const std::string& input, const std::string& output, std::int32_t factor,
                         std::uint64_t output_bytes, double seconds) {
  return "bmpresize: " + input + ": enlarged " + std::to_string(factor) + "x into " + output +
         " (" + human_bytes(static_cast<double>(output_bytes)) + ") in " + duration_text(seconds) +
         "\n";
}

}  // namespace bmpresize
