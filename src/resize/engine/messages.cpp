#include "messages.h"

#include <cstdio>
#include <cstring>

namespace bmpresizer {
namespace {

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

bool is_separator(char c) { return c != '\0' && std::strchr(kPathSeparators, c) != nullptr; }

// The characters a word may have without quotes in the shell.
#ifdef _WIN32
// cmd.exe: all but its few special ones (printable ASCII and beyond).
bool unquoted_ok(char c) { return std::strchr(" \t&()[]{}^=;!'+,`~%", c) == nullptr; }
#else
bool unquoted_ok(char c) {
  return c != '\0' &&
         std::strchr("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_@%+=:,./-",
                     c) != nullptr;
}
#endif

// Whether `name` holds a character that would break or garble a line.
bool has_control_character(const char* name) {
  for (; *name != '\0'; ++name) {
    const auto c = static_cast<unsigned char>(*name);
    if (c < 0x20 || c == 0x7F) {
      return true;
    }
  }
  return false;
}

// `size` bytes of `word`, then `suffix`, as one word for the shell: quoted
// where it needs quoting, and never taken for an option.
void add_shell_word(Text& text, const char* word, std::size_t size, const char* suffix) {
  const std::size_t suffix_size = std::strlen(suffix);
  const char first = size > 0 ? word[0] : suffix[0];
  const bool just_dash = size + suffix_size == 1 && first == '-';
  const char* const prefix = first == '-' && !just_dash ? "./" : "";
  bool plain = size + suffix_size > 0;
  for (std::size_t i = 0; i < size && plain; ++i) {
    plain = unquoted_ok(word[i]);
  }
  for (std::size_t i = 0; i < suffix_size && plain; ++i) {
    plain = unquoted_ok(suffix[i]);
  }
  if (plain) {
    text.add(prefix).add(word, size).add(suffix);
    return;
  }
#ifdef _WIN32
  text.add('"').add(prefix).add(word, size).add(suffix).add('"');
#else
  text.add('\'').add(prefix);
  // A quote closes the quoting for a moment; so does a control character,
  // written as the shell's $'\n' (as coreutils shows such names), so that
  // a name never breaks a line.
  const auto add_quoted = [&text](const char* from, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
      const auto c = static_cast<unsigned char>(from[i]);
      if (c == '\'') {
        text.add("'\\''");
      } else if (c < 0x20 || c == 0x7F) {
        char escaped[16];
        std::snprintf(escaped, sizeof escaped, "'$'\\%03o''", c);
        text.add(c == '\n' ? "'$'\\n''" : c == '\t' ? "'$'\\t''" : escaped);
      } else {
        text.add(from[i]);
      }
    }
  };
  add_quoted(word, size);
  add_quoted(suffix, suffix_size);
  text.add('\'');
#endif
}

void add_shell_word(Text& text, const char* word) {
  add_shell_word(text, word, std::strlen(word), "");
}

// ImageMagick's command: version 7's `magick` on Windows, where `convert` is
// the system's file-system converter; `convert`, which both versions have,
// elsewhere.
#ifdef _WIN32
const char kImageMagick[] = "magick";
#else
const char kImageMagick[] = "convert";
#endif

// How many bytes of `name` come before its extension (all of them when it
// has none).
std::size_t stem_bytes(const char* name) {
  const std::size_t size = std::strlen(name);
  for (std::size_t i = size; i > 0; --i) {
    if (name[i - 1] == '.') {
      return i - 1;
    }
    if (is_separator(name[i - 1])) {
      break;
    }
  }
  return size;
}

// The commands that turn `source` (`size` bytes of it, then `extension`)
// into an uncompressed BMP named `stem`-plain.bmp (`stem_size` bytes of
// `stem`): both programs write compressed ones of few colours unless told
// not to.
void add_conversion_commands(Text& text, const char* source, std::size_t size,
                             const char* extension, const char* stem, std::size_t stem_size) {
  for (int program = 0; program < 2; ++program) {
    if (program == 0) {
      text.add("gm convert ");
    } else {
      text.add(" (or ImageMagick: ").add(kImageMagick).add(' ');
    }
    add_shell_word(text, source, size, extension);
    text.add(program == 0 ? " -compress None BMP3:" : " -compress none BMP3:");
    add_shell_word(text, stem, stem_size, "-plain.bmp");
  }
  text.add(')');
}

// The compression method `method` of a header of `header_size` bytes (0:
// 40); OS/2's 64-byte header numbers two of them its own way.
const char* compression_name(std::uint64_t method, std::uint64_t header_size) {
  if (header_size == 64 && (method == 3 || method == 4)) {
    return method == 3 ? "Huffman 1D" : "RLE24";
  }
  static const char* const kNames[] = {"none", "RLE8", "RLE4",          "BITFIELDS",
                                       "JPEG", "PNG",  "ALPHABITFIELDS"};
  return method < sizeof kNames / sizeof kNames[0] ? kNames[method] : "unknown";
}

// What to run to convert the refused `input`: an image that the general
// tools read (another kind of file, a BMP compressed with RLE), or a BMP
// whose pixels are a whole JPEG or PNG file, taken out first.
void add_conversion_hint(Text& text, const char* input, const Outcome& o) {
  if ((o.failure == Failure::not_bmp && other_image_kind(o.have) != nullptr) ||
      (o.failure == Failure::compression && o.want != 64 && (o.have == 1 || o.have == 2))) {
    text.add("; convert it first: ");
    const bool standard = std::strcmp(input, "-") == 0;
    add_conversion_commands(text, input, std::strlen(input), "", standard ? "converted" : input,
                            standard ? 9 : stem_bytes(input));
  }
#ifndef _WIN32
  if (o.failure == Failure::compression && o.want != 64 && (o.have == 4 || o.have == 5) &&
      std::strcmp(input, "-") != 0) {
    const char* const kind = o.have == 4 ? "JPEG" : "PNG";
    const char* const extension = o.have == 4 ? ".jpg" : ".png";
    const std::size_t stem = stem_bytes(input);
    text.add("; its pixels are a whole ").add(kind).add(" file: take it out with tail -c +$((1 + ");
    text.add("$(od -An -tu4 -j10 -N4 ");
    add_shell_word(text, input);
    text.add("))) ");
    add_shell_word(text, input);
    text.add(" > ");
    add_shell_word(text, input, stem, extension);
    text.add(" and convert that: ");
    add_conversion_commands(text, input, stem, extension, input, stem);
  }
#endif
}

const char kDamaged[] = "; the header is damaged";

// A signed 32-bit field or factor, kept as the unsigned image of its bits.
std::int64_t signed32(std::uint64_t bits) {
  const auto low = static_cast<std::uint32_t>(bits);
  return low >= 0x80000000u ? static_cast<std::int64_t>(low) - 0x100000000LL
                            : static_cast<std::int64_t>(low);
}

void add_system_failure(Text& text, const char* what, int error) {
  text.add(what).add(": ");
  add_system_error(text, error);
}

// The reason of an image refused for its kind; false for other failures.
bool add_kind_reason(Text& text, const Outcome& o) {
  switch (o.failure) {
    case Failure::not_bmp:
      if (other_image_kind(o.have) != nullptr) {
        text.add("a ").add(other_image_kind(o.have)).add(" image, not a BMP");
      } else {
        text.add("not a BMP file (it does not start with \"BM\")");
      }
      return true;
    case Failure::header_truncated:
      text.add("file is truncated: ").number(o.have).add(" bytes, a BMP header needs ");
      text.number(o.want);
      return true;
    case Failure::info_header_size:
      text.add("a ").number(o.have).add("-byte information header, which no kind of BMP has");
      text.add(kDamaged);
      return true;
    case Failure::planes:
      text.number(o.have).add(" planes, where a BMP has 1").add(kDamaged);
      return true;
    case Failure::bit_count:
      text.number(o.have).add(" bits per pixel; BMP files of 1, 2, 4, 8, 16, 24 and 32 are ");
      text.add("enlarged");
      return true;
    case Failure::compression:
      text.add("compressed (").add(compression_name(o.have, o.want));
      // Run-length codes are refused only when a caller asks for
      // uncompressed files alone.
      text.add(o.want != 64 && (o.have == 1 || o.have == 2)
                   ? "); only uncompressed BMP files are enlarged here"
                   : "); only uncompressed and RLE8, RLE4 and RLE24 BMP files are enlarged");
      if (o.want == 64 && (o.have == 3 || o.have == 4)) {
        text.add(", and no common program reads this compression");
      }
      return true;
    default:
      return false;
  }
}

// The reason of an image refused for its layout; false for other failures.
bool add_layout_reason(Text& text, const Outcome& o) {
  switch (o.failure) {
    case Failure::pixel_offset:
      text.add("pixel data starts at byte ").number(o.have).add(", inside the headers");
      text.add(kDamaged);
      return true;
    case Failure::color_table:
      text.add("a colour table of ").number(o.have).add(" colours, with room for ");
      text.number(o.want).add(" before the pixels").add(kDamaged);
      return true;
    case Failure::negative_width:
      text.add("negative width (").signed_number(signed32(o.have)).add(")").add(kDamaged);
      return true;
    case Failure::profile_offset:
      text.add("its colour profile (at ").number(o.have).add(" in its header) overlaps the pixels");
      text.add(kDamaged);
      return true;
    case Failure::pixels_truncated:
      if (o.want == UINT64_MAX) {
        text.add("file is truncated: the header declares more bytes than any file can hold");
      } else {
        text.add("file is truncated: the header declares ").number(o.want);
        text.add(" bytes, the file has ").number(o.have);
      }
      return true;
    case Failure::input_not_regular:
      text.add("not a regular file (a pipe or a device); the input must be a file");
      return true;
    case Failure::palette_missing:
      text.add("an image of ").number(o.have).add(" bits per pixel without its colour table: ");
      text.add("its pixels start at byte ").number(o.want).add(", with no room for one");
      text.add(kDamaged);
      return true;
    case Failure::masks_bit_count:
      text.add("colour masks (").add(compression_name(o.want, 40)).add(") at ").number(o.have);
      text.add(" bits per pixel, where masks go with 16 and 32").add(kDamaged);
      return true;
    default:
      return false;
  }
}

// The reason of an image refused for its run-length codes; false for other
// failures.
bool add_encoding_reason(Text& text, const Outcome& o) {
  switch (o.failure) {
    case Failure::rle_bit_count:
      text.add(compression_name(o.want, o.want == 4 ? 64 : 40)).add(" at ").number(o.have);
      text.add(" bits per pixel, where it encodes pixels of ");
      text.number(o.want == 1 ? 8 : o.want == 2 ? 4 : 24).add(kDamaged);
      return true;
    case Failure::rle_top_down:
      text.add("run-length encoded rows stored top-down (height ");
      text.signed_number(signed32(o.have)).add("), where they go up").add(kDamaged);
      return true;
    case Failure::rle_size:
      text.add("file is truncated: the header declares ").number(o.have);
      text.add(" bytes of encoded pixels, the file has ").number(o.want).add(" after the headers");
      return true;
    case Failure::rle_past_row:
      text.add("a run-length code reaches column ").number(o.have).add(" of rows ");
      text.number(o.want).add(" pixels wide; the encoded pixels are damaged");
      return true;
    case Failure::rle_past_image:
      text.add("a run-length code reaches row ").number(o.have + 1).add(" of an image ");
      text.number(o.want).add(" rows high; the encoded pixels are damaged");
      return true;
    case Failure::rle_truncated:
      text.add("file is truncated: the encoded pixels end at byte ").number(o.have);
      text.add(" inside a code that needs them to byte ").number(o.want);
      return true;
    default:
      return false;
  }
}

// The reason the enlargement cannot be a BMP; false for other failures.
bool add_size_reason(Text& text, const Outcome& o) {
  switch (o.failure) {
    case Failure::factor_below_one:
      text.add("factor ").signed_number(signed32(o.have)).add(" is below 1; nothing to enlarge");
      return true;
    case Failure::width_too_large:
    case Failure::height_too_large:
      text.add("the enlarged image would be ").number(o.want).add(" pixels ");
      text.add(o.failure == Failure::width_too_large ? "wide" : "high");
      text.add("; its kind of BMP allows at most ").number(o.have);
      return true;
    case Failure::file_too_large:
      text.add("the enlarged image would be ").human_bytes(static_cast<double>(o.want));
      text.add("; BMP files cannot exceed 4 GiB");
      return true;
    case Failure::output_buffer_small:
      text.add("the output buffer holds ").number(o.have).add(" bytes; the enlarged image needs ");
      text.number(o.want);
      return true;
    default:
      return false;
  }
}

// The reason a file could not be opened; false for other failures.
bool add_open_reason(Text& text, const Outcome& o) {
  switch (o.failure) {
    case Failure::input_open:
      add_system_failure(text, "cannot open", o.error);
      return true;
    case Failure::input_path_invalid:
    case Failure::output_path_invalid:
      // No system call failed: the path itself cannot be one.
      if (o.error == 0) {
        text.add(o.failure == Failure::input_path_invalid ? "cannot open" : "cannot create");
        text.add(": not a path the system takes (none, too long, or not valid Unicode)");
        return true;
      }
      add_system_failure(text,
                         o.failure == Failure::input_path_invalid ? "cannot open" : "cannot create",
                         o.error);
      return true;
    case Failure::input_is_directory:
      text.add("is a directory, not a BMP file");
      return true;
    case Failure::input_stream_closed:
      text.add("standard input is closed");
      return true;
    case Failure::output_open:
      add_system_failure(text, "cannot create", o.error);
      return true;
    case Failure::output_is_input:
      text.add("output is the same file as the input");
      return true;
    case Failure::output_no_reader:
      text.add("a named pipe that no process is reading; start the reader first");
      return true;
    case Failure::output_stream_closed:
      text.add("standard output is closed");
      return true;
    case Failure::output_is_socket:
      text.add("a socket, which cannot be opened as a file; write to standard output (-) and ");
      text.add("send it on from there");
      return true;
    default:
      return false;
  }
}

// The reason of any other failure.
void add_other_reason(Text& text, const Outcome& o) {
  switch (o.failure) {
    case Failure::read_failed:
      return add_system_failure(text, "read error", o.error);
    case Failure::input_shrank:
      text.add("the file became shorter while it was being read");
      return;
    case Failure::spool_failed:
      text.add("cannot keep it in a temporary file in ");
      add_temporary_folder(text);
      text.add(": ");
      add_system_error(text, o.error);
      return;
    case Failure::write_failed:
      return add_system_failure(text, "write error", o.error);
    case Failure::close_failed:
      return add_system_failure(text, "could not finish writing", o.error);
    case Failure::cancelled:
      text.add("cancelled; nothing was put in its place");
      return;
    case Failure::out_of_memory:
      text.add("out of memory");
      return;
    default:
      text.add("invalid argument: a null pointer or an unusable option");
      return;
  }
}

// The folder of `output` cannot take the new file that replaces it: named,
// said why, and how to write into the output itself instead.
void add_unwritable_folder(Text& text, const Outcome& o, const char* input, const char* output) {
  std::size_t folder = std::strlen(output);
  while (folder > 0 && !is_separator(output[folder - 1])) {
    --folder;
  }
  if (folder > 1) {
    --folder;  // the separator itself, but for the root's
  }
  if (folder == 0) {
    text.add(".");
  } else {
    text.add(output, folder);
  }
  text.add(": cannot make a new file in this folder (");
  add_system_error(text, o.error);
  text.add("), where the enlargement is written before it takes the place of ").add(output);
  text.add("; to write into that file itself, send it through standard output: bmpresize ");
  add_shell_word(text, input);
  text.add(" - ").signed_number(signed32(o.have));
  if (o.have != o.want) {
    text.add('x').signed_number(signed32(o.want));
  }
  text.add(" > ");
  add_shell_word(text, output);
}

// Whether a failure is about the output rather than the input.
bool about_output(Failure failure) {
  const FailureGroup group = group_of(failure);
  return group == FailureGroup::output_unopened || group == FailureGroup::size_refused ||
         failure == Failure::write_failed || failure == Failure::close_failed ||
         failure == Failure::cancelled;
}

}  // namespace

void add_message(Text& text, const Outcome& outcome, const char* input, const char* output) {
  if (outcome.ok()) {
    return;
  }
  const char* const shown_input = input != nullptr ? input : "";
  if (outcome.failure == Failure::output_folder_unwritable) {
    add_unwritable_folder(text, outcome, shown_input, output != nullptr ? output : "");
    return;
  }
  const char* const named = about_output(outcome.failure) ? output : shown_input;
  if (named == nullptr || *named == '\0') {
    text.add("\"\"");
  } else if (has_control_character(named)) {
    add_shell_word(text, named);
  } else {
    text.add(named);
  }
  text.add(": ");
  if (!add_kind_reason(text, outcome) && !add_layout_reason(text, outcome) &&
      !add_encoding_reason(text, outcome) && !add_size_reason(text, outcome)) {
    if (!add_open_reason(text, outcome)) {
      add_other_reason(text, outcome);
    }
  }
  add_conversion_hint(text, shown_input, outcome);
}

}  // namespace bmpresizer
