#include "bmp_testing.h"

#include "bmp_oracle.h"

#include <fcntl.h>
#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

namespace bmptest {
namespace {

void push_u16(Bytes& out, std::uint32_t value) {
  out.push_back(static_cast<std::uint8_t>(value & 0xFF));
  out.push_back(static_cast<std::uint8_t>((value >> 8) & 0xFF));
}

void push_u32(Bytes& out, std::uint32_t value) {
  push_u16(out, value & 0xFFFF);
  push_u16(out, value >> 16);
}

}  // namespace

TempDir::TempDir() {
#ifdef _WIN32
  // No mkdtemp: try fresh random names until one is created.
  std::random_device seed;
  std::mt19937 random(seed());
  for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
    const std::filesystem::path candidate =
        std::filesystem::temp_directory_path() / ("bmpresizer-test-" + std::to_string(random()));
    std::error_code error;
    if (std::filesystem::create_directory(candidate, error)) {
      path_ = candidate.u8string();
    }
  }
  if (path_.empty()) {
    throw std::runtime_error("cannot create a temporary folder");
  }
#else
  std::string pattern =
      (std::filesystem::temp_directory_path() / "bmpresizer-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    throw std::runtime_error("mkdtemp failed");
  }
  path_ = pattern;
#endif
}

TempDir::~TempDir() {
  std::error_code ignored;
  // Tests may leave folders without permissions behind; restore them first.
  for (auto it = std::filesystem::recursive_directory_iterator(path_, ignored);
       it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
    if (it->is_directory(ignored) && !it->is_symlink(ignored)) {
      std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                   std::filesystem::perm_options::add, ignored);
    }
  }
  std::filesystem::remove_all(path_, ignored);
}

Bytes read_file(const std::string& path) {
  std::ifstream in(std::filesystem::u8path(path), std::ios::binary);
  if (!in) {
    throw std::runtime_error("cannot read " + path);
  }
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write_file(const std::string& path, const Bytes& bytes) {
  std::ofstream out(std::filesystem::u8path(path), std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  if (!out) {
    throw std::runtime_error("cannot write " + path);
  }
}

bool file_exists(const std::string& path) {
  std::error_code ignored;
  return std::filesystem::symlink_status(std::filesystem::u8path(path), ignored).type() !=
         std::filesystem::file_type::not_found;
}

std::wstring widen(const std::string& ascii_path) {
  return std::wstring(ascii_path.begin(), ascii_path.end());
}

std::string data_dir() { return BMPRESIZER_TEST_DATA_DIR; }

Bytes make_bmp(const BmpFields& f, const Bytes& pixel_data) {
  Bytes out;
  push_u16(out, f.type);
  push_u32(out,
           f.file_size != 0 ? f.file_size : static_cast<std::uint32_t>(54 + pixel_data.size()));
  push_u16(out, f.reserved1);
  push_u16(out, f.reserved2);
  push_u32(out, f.pixel_offset);
  push_u32(out, f.info_size);
  push_u32(out, static_cast<std::uint32_t>(f.width));
  push_u32(out, static_cast<std::uint32_t>(f.height));
  push_u16(out, f.planes);
  push_u16(out, f.bit_count);
  push_u32(out, f.compression);
  push_u32(out, f.image_size);
  push_u32(out, static_cast<std::uint32_t>(f.x_ppm));
  push_u32(out, static_cast<std::uint32_t>(f.y_ppm));
  push_u32(out, f.colours_used);
  push_u32(out, f.colours_important);
  out.insert(out.end(), pixel_data.begin(), pixel_data.end());
  return out;
}

Bytes rle8_bmp() {
  BmpFields rle;
  rle.width = 2;
  rle.height = 1;
  rle.bit_count = 8;
  rle.compression = 1;
  rle.pixel_offset = 54 + 8;
  return make_bmp(rle, Bytes{0, 0, 0, 0, 9, 9, 9, 0, 2, 5, 0, 1});
}

Bytes make_random_bmp(std::int32_t width, std::int32_t height, std::uint32_t seed,
                      std::size_t trailing) {
  std::mt19937 random(seed);
  const std::uint64_t rows = height < 0
                                 ? static_cast<std::uint64_t>(-static_cast<std::int64_t>(height))
                                 : static_cast<std::uint64_t>(height);
  const std::uint64_t stride = bmporacle::stride_of(static_cast<std::uint64_t>(width));
  Bytes pixels;
  for (std::uint64_t y = 0; y < rows; ++y) {
    for (std::uint64_t i = 0; i < stride; ++i) {
      pixels.push_back(i < 3 * static_cast<std::uint64_t>(width)
                           ? static_cast<std::uint8_t>(random() & 0xFF)
                           : std::uint8_t{0xEE});
    }
  }
  for (std::size_t i = 0; i < trailing; ++i) {
    pixels.push_back(0xA5);
  }
  BmpFields fields;
  fields.width = width;
  fields.height = height;
  fields.image_size = static_cast<std::uint32_t>(stride * rows);
  fields.reserved1 = 0x1234;  // odd values that must be copied unchanged
  fields.colours_important = 7;
  return make_bmp(fields, pixels);
}

Bytes concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& part : parts) {
    out.insert(out.end(), part.begin(), part.end());
  }
  return out;
}

Bytes repeat(const Bytes& part, int count) {
  Bytes out;
  for (int i = 0; i < count; ++i) {
    out.insert(out.end(), part.begin(), part.end());
  }
  return out;
}

Bytes le(std::uint64_t value, int bytes) {
  Bytes out;
  for (int i = 0; i < bytes; ++i) {
    out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
  }
  return out;
}

std::string check_enlargement(const Bytes& input, const Bytes& output, int factor) {
  return bmporacle::check_enlargement(input.data(), input.size(), output.data(), output.size(),
                                      factor);
}

std::string check_enlargement(const Bytes& input, const Bytes& output, int across, int down) {
  return bmporacle::check_enlargement(input.data(), input.size(), output.data(), output.size(),
                                      across, down);
}

#ifdef _WIN32
StdoutCapture::StdoutCapture() {
  std::fflush(stdout);
  wchar_t folder[MAX_PATH + 1];
  wchar_t name[MAX_PATH + 1];
  if (GetTempPathW(MAX_PATH + 1, folder) == 0 || GetTempFileNameW(folder, L"bmp", 0, name) == 0) {
    throw std::runtime_error("cannot create a temporary file");
  }
  path_ = std::filesystem::path(name).u8string();
  const int fd = _wopen(name, _O_WRONLY | _O_TRUNC | _O_BINARY);
  if (fd < 0) {
    throw std::runtime_error("cannot open a temporary file");
  }
  saved_fd_ = _dup(1);
  _dup2(fd, 1);
  _close(fd);
}

std::string StdoutCapture::finish() {
  if (finished_) {
    return "";
  }
  finished_ = true;
  std::fflush(stdout);
  _dup2(saved_fd_, 1);
  _close(saved_fd_);
  const Bytes bytes = read_file(path_);
  std::error_code ignored;
  std::filesystem::remove(std::filesystem::u8path(path_), ignored);
  return std::string(bytes.begin(), bytes.end());
}
#else
std::thread read_pipe(const std::string& path,
                      std::function<bool(const std::uint8_t* chunk, std::size_t size)> consume) {
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    throw std::runtime_error("cannot open " + path);
  }
  return std::thread([fd, consume] {
    std::vector<std::uint8_t> chunk(1 << 16);
    bool started = false;
    for (;;) {
      const ssize_t got = read(fd, chunk.data(), chunk.size());
      if (got > 0) {
        started = true;
        if (!consume(chunk.data(), static_cast<std::size_t>(got))) {
          break;
        }
      } else if (got == 0 && started) {
        break;  // the writer is done
      } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));  // nothing yet
      }
    }
    close(fd);
  });
}

StdoutCapture::StdoutCapture() {
  std::fflush(stdout);
  char pattern[] = "/tmp/bmpresizer-stdout-XXXXXX";
  const int fd = mkstemp(pattern);
  if (fd < 0) {
    throw std::runtime_error("mkstemp failed");
  }
  path_ = pattern;
  saved_fd_ = dup(STDOUT_FILENO);
  dup2(fd, STDOUT_FILENO);
  close(fd);
}

std::string StdoutCapture::finish() {
  if (finished_) {
    return "";
  }
  finished_ = true;
  std::fflush(stdout);
  dup2(saved_fd_, STDOUT_FILENO);
  close(saved_fd_);
  const Bytes bytes = read_file(path_);
  std::remove(path_.c_str());
  return std::string(bytes.begin(), bytes.end());
}
#endif

StdoutCapture::~StdoutCapture() { finish(); }

}  // namespace bmptest
