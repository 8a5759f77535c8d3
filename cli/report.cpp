#include "report.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace bmpresize {
namespace {

using bmpresizer::Failure;
using bmpresizer::Outcome;

const char* info_header_name(std::uint64_t size) {
  switch (size) {
    case 12:
      return " (OS/2 1.x)";
    case 16:
    case 64:
      return " (OS/2 2.x)";
    case 52:
      return " (V2)";
    case 56:
      return " (V3)";
    case 108:
      return " (V4)";
    case 124:
      return " (V5)";
    default:
      return "";
  }
}

const char* compression_name(std::uint64_t method) {
  switch (method) {
    case 1:
      return "RLE8";
    case 2:
      return "RLE4";
    case 3:
      return "BITFIELDS";
    case 4:
      return "JPEG";
    case 5:
      return "PNG";
    case 6:
      return "ALPHABITFIELDS";
    default:
      return "unknown";
  }
}

const char kResave[] = "re-save it as a plain 24-bit BMP";

}  // namespace

double seconds_now() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

std::string human_bytes(double bytes) {
  const char* units[] = {"bytes", "KiB", "MiB", "GiB", "TiB"};
  int unit = 0;
  while (bytes >= 1024.0 && unit < 4) {
    bytes /= 1024.0;
    ++unit;
  }
  char text[32];
  if (unit == 0) {
    std::snprintf(text, sizeof text, "%.0f %s", bytes, units[unit]);
  } else {
    std::snprintf(text, sizeof text, "%.1f %s", bytes, units[unit]);
  }
  return text;
}

std::string failure_line(const char* input, const char* output, const Outcome& outcome) {
  const char* file = input;
  std::string reason;
  char text[256];
  switch (outcome.failure) {
    case Failure::none:
      return "";
    case Failure::input_open:
    case Failure::input_path_invalid:
      reason = std::string("cannot open: ") + std::strerror(outcome.error);
      break;
    case Failure::input_is_directory:
      reason = "is a directory, not a BMP file";
      break;
    case Failure::output_open:
    case Failure::output_path_invalid:
      file = output;
      reason = std::string("cannot create: ") + std::strerror(outcome.error);
      break;
    case Failure::output_is_input:
      file = output;
      reason = "output is the same file as the input";
      break;
    case Failure::not_bmp:
      reason = "not a BMP file (it does not start with \"BM\")";
      break;
    case Failure::header_truncated:
      std::snprintf(text, sizeof text,
                    "file is truncated: %" PRIu64 " bytes, a BMP header needs %" PRIu64,
                    outcome.have, outcome.want);
      reason = text;
      break;
    case Failure::info_header_size:
      std::snprintf(text, sizeof text,
                    "%" PRIu64 "-byte%s header; only the 40-byte header is supported: %s",
                    outcome.have, info_header_name(outcome.have), kResave);
      reason = text;
      break;
    case Failure::pixel_offset:
      std::snprintf(text, sizeof text,
                    "pixel data starts at byte %" PRIu64
                    " (a colour table or a gap comes first); only byte 54 is supported: %s",
                    outcome.have, kResave);
      reason = text;
      break;
    case Failure::bit_count:
      std::snprintf(text, sizeof text,
                    "%" PRIu64 " bits per pixel; only 24-bit uncompressed BMP is supported",
                    outcome.have);
      reason = text;
      break;
    case Failure::compression:
      std::snprintf(text, sizeof text,
                    "compressed (%s); only 24-bit uncompressed BMP is supported: %s",
                    compression_name(outcome.have), kResave);
      reason = text;
      break;
    case Failure::negative_width:
      std::snprintf(text, sizeof text, "negative width (%" PRId32 "); the header is damaged",
                    static_cast<std::int32_t>(static_cast<std::uint32_t>(outcome.have)));
      reason = text;
      break;
    case Failure::pixels_truncated:
      if (outcome.want == UINT64_MAX) {
        std::snprintf(text, sizeof text,
                      "file is truncated: the header declares more bytes than"
                      " any file can hold");
      } else {
        std::snprintf(text, sizeof text,
                      "file is truncated: the header declares %" PRIu64
                      " bytes, the file has %" PRIu64,
                      outcome.want, outcome.have);
      }
      reason = text;
      break;
    case Failure::factor_below_one:
      file = output;
      std::snprintf(text, sizeof text, "factor %" PRId32 " is below 1; nothing to enlarge",
                    static_cast<std::int32_t>(static_cast<std::uint32_t>(outcome.have)));
      reason = text;
      break;
    case Failure::width_too_large:
    case Failure::height_too_large:
      file = output;
      std::snprintf(text, sizeof text,
                    "the enlarged image would be %" PRIu64
                    " pixels %s; BMP allows at most 2147483647",
                    outcome.want, outcome.failure == Failure::width_too_large ? "wide" : "high");
      reason = text;
      break;
    case Failure::file_too_large:
      file = output;
      reason = "the enlarged image would be " + human_bytes(static_cast<double>(outcome.want)) +
               "; BMP files cannot exceed 4 GiB";
      break;
    case Failure::read_failed:
      reason = std::string("read error: ") + std::strerror(outcome.error);
      break;
    case Failure::input_shrank:
      reason = "the file became shorter while it was being read";
      break;
    case Failure::write_failed:
      file = output;
      reason =
          std::string("write error: ") + std::strerror(outcome.error) + "; the output was emptied";
      break;
    case Failure::close_failed:
      file = output;
      reason = std::string("could not finish writing: ") + std::strerror(outcome.error) +
               "; the output was emptied";
      break;
  }
  return std::string("bmpresize: ") + file + ": " + reason + "\n";
}

// "12.3 ms" or "4.56 s".
std::string duration_text(double seconds) {
  char text[32];
  if (seconds < 1) {
    std::snprintf(text, sizeof text, "%.1f ms", seconds * 1000);
  } else {
    std::snprintf(text, sizeof text, "%.2f s", seconds);
  }
  return text;
}

// The -v line for a file enlarged in `seconds`.
std::string success_line(const char* input, const char* output, std::int32_t factor,
                         std::uint64_t output_bytes, double seconds) {
  return std::string("bmpresize: ") + input + ": enlarged " +
         std::to_string(static_cast<int>(factor)) + "x into " + output + " (" +
         human_bytes(static_cast<double>(output_bytes)) + ") in " + duration_text(seconds) + "\n";
}

}  // namespace bmpresize
