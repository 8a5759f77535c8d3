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

Bytes damaged_rle8_bmp() {
  BmpFields rle;
  rle.width = 2;
  rle.height = 1;
  rle.bit_count = 8;
  rle.compression = 1;
  rle.pixel_offset = 54 + 8;
  return make_bmp(rle, Bytes{0, 0, 0, 0, 9, 9, 9, 0, 5, 1, 0, 1});
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

void put_le(Bytes& b, std::size_t at, std::uint64_t value, int bytes) {
  const Bytes field = le(value, bytes);
  std::copy(field.begin(), field.end(), b.begin() + static_cast<std::ptrdiff_t>(at));
}

const KindFacts kKindFacts[8] = {
    {12, true, false, false, 0, false}, {16, false, false, false, 0, false},
    {40, false, true, true, 2, false},  {52, false, true, true, 1, false},
    {56, false, true, true, 1, false},  {64, false, true, true, 0, false},
    {108, false, true, true, 1, false}, {124, false, true, true, 1, true},
};

const KindFacts& kind_facts(std::uint32_t size) {
  for (const KindFacts& kind : kKindFacts) {
    if (kind.size == size) {
      return kind;
    }
  }
  return kKindFacts[2];
}

Bytes make_kinded_bmp(KindedBmp& s) {
  const KindFacts& kind = kind_facts(s.info_size);
  const auto width = static_cast<std::uint64_t>(s.width);
  const std::uint64_t rows =
      static_cast<std::uint64_t>(s.height < 0 ? -std::int64_t{s.height} : s.height);
  const std::uint64_t stride = (width * s.bits + 31) / 32 * 4;
  const std::uint64_t data = (width * s.bits + 7) / 8;
  const std::uint32_t entry = kind.core ? 3 : 4;
  const std::uint32_t colours = s.bits <= 8 ? 2 : 0;
  const std::uint32_t masks_after = s.masks && kind.masks == 2 ? 12 : 0;
  s.tables_end = 14 + kind.size + masks_after + std::uint64_t{colours} * entry;
  s.pixels_at = s.tables_end + (s.profile == 1 ? 8 : 0);
  s.rows_end = rows == 0 ? s.pixels_at : s.pixels_at + stride * (rows - 1) + data;
  const std::uint64_t end = s.last_padding || rows == 0 ? s.pixels_at + stride * rows : s.rows_end;
  Bytes b(static_cast<std::size_t>(end + (s.profile == 2 ? 8 : 0)), 0);
  std::uint32_t seed = s.seed * 2654435761u + s.bits * 131u + kind.size;
  for (std::size_t i = static_cast<std::size_t>(s.tables_end); i < b.size(); ++i) {
    seed = seed * 1103515245u + 12345u;
    b[i] = static_cast<std::uint8_t>(seed >> 16);
  }
  put_le(b, 0, 0x4D42, 2);
  put_le(b, 2, b.size(), 4);
  put_le(b, 10, s.pixels_at, 4);
  put_le(b, 14, kind.size, 4);
  put_le(b, 18, static_cast<std::uint32_t>(s.width), kind.core ? 2 : 4);
  put_le(b, kind.core ? 20 : 22, static_cast<std::uint32_t>(s.height), kind.core ? 2 : 4);
  put_le(b, kind.core ? 22 : 26, 1, 2);
  put_le(b, kind.core ? 24 : 28, s.bits, 2);
  if (kind.has_compression) {
    put_le(b, 30, s.masks ? 3 : 0, 4);
    put_le(b, 46, kind.counted ? colours : 0, 4);
  }
  if (s.masks) {
    put_le(b, 54, 0xF800, 4);  // the red mask, in the header or right after a 40-byte one
  }
  for (std::uint32_t c = 0; c < colours; ++c) {
    put_le(b, static_cast<std::size_t>(s.tables_end) - (colours - c) * entry, 0x00FF00u * c,
           static_cast<int>(entry));
  }
  if (s.profile != 0) {
    const std::uint64_t at = s.profile == 1 ? s.tables_end : end;
    put_le(b, 70, 0x4D424544, 4);  // 'MBED'
    put_le(b, 126, at - 14, 4);
    put_le(b, 130, 8, 4);
  }
  return b;
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
