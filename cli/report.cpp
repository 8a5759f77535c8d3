#include "report.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "console.h"

namespace bmpresize {

void print_out_of_memory(const std::string& file) {
  write_error_bytes("bmpresize: ", 11);
  write_error_bytes(file.data(), file.size());
  write_error_bytes(": ", file.empty() ? 0 : 2);
  write_error_bytes("out of memory\n", 14);
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
                         const bmpresize_result& result) {
  if (result.error == BMPRESIZE_OK) {
    return "";
  }
  char line[1024];
  const std::size_t length =
      bmpresize_message(&result, input.c_str(), output.c_str(), line, sizeof line);
  std::string message(length + 1, '\0');
  if (length < sizeof line) {
    message.assign(line, length);
  } else {
    bmpresize_message(&result, input.c_str(), output.c_str(), &message[0], message.size());
    message.resize(length);
  }
  return "bmpresize: " + message + "\n";
}

bmpresize_result failure_of(bmpresize_error error) {
  bmpresize_result result{};
  result.error = error;
  return result;
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

std::string shown_name(const std::string& name) {
  const auto control = [](char c) {
    return static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) == 0x7F;
  };
  if (std::none_of(name.begin(), name.end(), control)) {
    return name;
  }
  std::string quoted = "'";
  for (const char c : name) {
    if (c == '\'') {
      quoted += "'\\''";
    } else if (control(c)) {
      char escaped[16];
      std::snprintf(escaped, sizeof escaped, "'$'\\%03o''", static_cast<unsigned char>(c));
      quoted += c == '\n' ? "'$'\\n''" : c == '\t' ? "'$'\\t''" : escaped;
    } else {
      quoted += c;
    }
  }
  return quoted + "'";
}

std::string factor_text(std::int32_t across, std::int32_t down) {
  return std::to_string(across) + "x" + (across == down ? "" : std::to_string(down));
}

std::string success_line(const std::string& input, const std::string& output,
                         const std::string& factor, std::uint64_t output_bytes, double seconds) {
  return "bmpresize: " + shown_name(input) + ": enlarged " + factor + " into " +
         shown_name(output) + " (" + human_bytes(static_cast<double>(output_bytes)) + ") in " +
         duration_text(seconds) + "\n";
}

}  // namespace bmpresize
