// Test helpers: temporary folders, whole-file I/O, a hand-rolled BMP encoder
// for fixtures and an independent checker of enlarged images. None of it uses
// the library's own code, so that tests compare against independent facts.
#ifndef BMPRESIZER_TESTS_BMP_TESTING_H
#define BMPRESIZER_TESTS_BMP_TESTING_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <thread>
#include <vector>

namespace bmptest {

using Bytes = std::vector<std::uint8_t>;

// A fresh folder under the system's temporary folder, removed with its
// contents when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

Bytes read_file(const std::string& path);
void write_file(const std::string& path, const Bytes& bytes);
bool file_exists(const std::string& path);
std::wstring widen(const std::string& ascii_path);

// The folder holding the copied test images (set by the build).
std::string data_dir();

// Header fields of a fixture; the defaults make an accepted 24-bit BMP.
struct BmpFields {
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::uint16_t type = 0x4D42;  // "BM"
  std::uint32_t file_size = 0;  // 0: the true length of the file
  std::uint32_t pixel_offset = 54;
  std::uint32_t info_size = 40;
  std::uint16_t planes = 1;
  std::uint16_t bit_count = 24;
  std::uint32_t compression = 0;
  std::uint32_t image_size = 0;
  std::int32_t x_ppm = 2835;
  std::int32_t y_ppm = 2835;
  std::uint32_t colours_used = 0;
  std::uint32_t colours_important = 0;
  std::uint16_t reserved1 = 0;
  std::uint16_t reserved2 = 0;
};

// Hand-written bytes: the parts one after the other, `part` `count` times,
// `value` in `bytes` little-endian bytes.
Bytes concat(std::initializer_list<Bytes> parts);
Bytes repeat(const Bytes& part, int count);
Bytes le(std::uint64_t value, int bytes);

// The 54 header bytes for `fields` followed by `pixel_data` as given.
Bytes make_bmp(const BmpFields& fields, const Bytes& pixel_data);

// Writes `value` as `bytes` little-endian bytes at `at` of `b`.
void put_le(Bytes& b, std::size_t at, std::uint64_t value, int bytes);

// The tests' own description of each kind of information header, from the
// format's documents rather than the library's table: where its fields lie.
struct KindFacts {
  std::uint32_t size;
  bool core;             // OS/2 1.x: 16-bit width, height, planes, bits at 18, 20, 22, 24
  bool has_compression;  // biCompression at 30 (then biSizeImage at 34)
  bool counted;          // biClrUsed at 46; else the table ends where the pixels start
  int masks;             // 0: no masks; 1: in the header (at 54); 2: right after it
  bool profile;          // V5: bV5CSType at 70, bV5ProfileData at 126, size at 130
};
extern const KindFacts kKindFacts[8];
const KindFacts& kind_facts(std::uint32_t size);

// An uncompressed BMP of any kind, with random pixels and junk in the
// unused bits and padding, a colour table of two entries for 8 bits or
// fewer, masks, and a profile where asked.
struct KindedBmp {
  std::uint32_t info_size = 40;  // 12, 16, 40, 52, 56, 64, 108 or 124
  std::uint16_t bits = 24;
  std::int32_t width = 5;
  std::int32_t height = 3;   // below 0: top-down (not for a 12-byte header)
  bool masks = false;        // BI_BITFIELDS, for 16 and 32 bits in kinds with masks
  bool last_padding = true;  // the last row's padding is in the file
  int profile = 0;           // 0: none; 1: in a gap before the pixels; 2: after them
  std::uint32_t seed = 1;
  // Worked out by make_kinded_bmp:
  std::uint64_t tables_end = 0;  // headers, masks and colour table
  std::uint64_t pixels_at = 0;
  std::uint64_t rows_end = 0;  // the last row's pixel data
};
Bytes make_kinded_bmp(KindedBmp& image);

// A 2 x 1 image compressed with RLE8 whose one run of 5 pixels goes past
// its row and the row's padding: damaged codes, which the tool refuses.
Bytes damaged_rle8_bmp();

// A 24-bit image of random pixels with padding bytes 0xEE (never zero, so
// that copied padding shows), `width` x |height|, top-down for a negative
// height, and `trailing` junk bytes after the last row.
Bytes make_random_bmp(std::int32_t width, std::int32_t height, std::uint32_t seed,
                      std::size_t trailing = 0);

// bmporacle::check_enlargement on whole files: "" when `output` is `input`
// enlarged `factor` times, else the first difference.
std::string check_enlargement(const Bytes& input, const Bytes& output, int factor);
std::string check_enlargement(const Bytes& input, const Bytes& output, int across, int down);

#ifndef _WIN32
// A reader of the named pipe `path`, opened before this returns (so that a
// writer's open finds it), that hands each chunk to `consume` until the
// writer closes or `consume` returns false; then it closes its end.
std::thread read_pipe(const std::string& path,
                      std::function<bool(const std::uint8_t* chunk, std::size_t size)> consume);
#endif

// Captures what is written to standard output (file descriptor 1) while it
// lives.
class StdoutCapture {
 public:
  StdoutCapture();
  ~StdoutCapture();
  StdoutCapture(const StdoutCapture&) = delete;
  StdoutCapture& operator=(const StdoutCapture&) = delete;
  // Stops capturing and returns the text.
  std::string finish();

 private:
  int saved_fd_ = -1;
  std::string path_;
  bool finished_ = false;
};

}  // namespace bmptest

#endif
