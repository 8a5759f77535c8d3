// The core on byte paths and open files: progress reports and the detailed
// outcome the tool turns into messages.
#include "bmpresizer_core.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <unistd.h>
#endif

#include <vector>

#include "bmp_testing.h"

namespace {

using bmpresizer::Failure;
using bmpresizer::FileHandle;
using bmptest::Bytes;

// Files opened as a caller of the core would, on the platform's handles.
#ifdef _WIN32
constexpr const char* kNullDevice = "NUL";
FileHandle open_for_reading(const std::string& path) {
  return reinterpret_cast<FileHandle>(
      CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
}
FileHandle open_for_writing(const std::string& path) {
  return reinterpret_cast<FileHandle>(
      CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
}
void close_handle(FileHandle file) { CloseHandle(reinterpret_cast<HANDLE>(file)); }
std::wstring native(const std::string& path) { return bmptest::widen(path); }
#else
constexpr const char* kNullDevice = "/dev/null";
FileHandle open_for_reading(const std::string& path) { return open(path.c_str(), O_RDONLY); }
FileHandle open_for_writing(const std::string& path) {
  return open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
}
void close_handle(FileHandle file) { close(file); }
std::string native(const std::string& path) { return path; }
#endif

struct Reports {
  std::vector<std::uint64_t> written;
  std::uint64_t total = 0;
};

void record(void* context, std::uint64_t written, std::uint64_t total) {
  auto* reports = static_cast<Reports*>(context);
  reports->written.push_back(written);
  reports->total = total;
}

TEST(ResizeFiles, ReportsProgressUpToTheWholeFile) {
  bmptest::TempDir dir;
  // 3000 x 40 at factor 3: 40 x 3 rows of 27000 bytes, many writes.
  const Bytes input = bmptest::make_random_bmp(3000, 40, 11);
  bmptest::write_file(dir.file("in.bmp"), input);
  Reports reports;
  bmpresizer::Progress progress;
  progress.report = &record;
  progress.context = &reports;
  const bmpresizer::Outcome outcome = bmpresizer::resize_files(
      native(dir.file("in.bmp")).c_str(), native(dir.file("out.bmp")).c_str(), 3, &progress);
  ASSERT_TRUE(outcome.ok());
  const std::uint64_t want_bytes = 54 + 120ull * 27000;
  EXPECT_EQ(outcome.output_bytes, want_bytes);
  EXPECT_EQ(reports.total, want_bytes);
  ASSERT_GT(reports.written.size(), 10u);
  for (std::size_t i = 1; i < reports.written.size(); ++i) {
    EXPECT_LT(reports.written[i - 1], reports.written[i]);
  }
  EXPECT_EQ(reports.written.back(), want_bytes);
}

TEST(ResizeOpenFiles, WorksOnFilesTheCallerOpened) {
  bmptest::TempDir dir;
  const Bytes input = bmptest::make_random_bmp(6, -4, 5);
  bmptest::write_file(dir.file("in.bmp"), input);
  const FileHandle in = open_for_reading(dir.file("in.bmp"));
  const FileHandle out = open_for_writing(dir.file("out.bmp"));
  ASSERT_NE(in, bmpresizer::kNoFile);
  ASSERT_NE(out, bmpresizer::kNoFile);
  const bmpresizer::Outcome outcome = bmpresizer::resize_open_files(in, out, 2);
  close_handle(in);
  close_handle(out);
  ASSERT_TRUE(outcome.ok());
  EXPECT_EQ(bmptest::check_enlargement(input, bmptest::read_file(dir.file("out.bmp")), 2), "");
}

TEST(ResizeOpenFiles, SaysWhatItFoundInARefusedFile) {
  bmptest::TempDir dir;
  bmptest::BmpFields fields;
  fields.width = 100;
  fields.height = 100;
  bmptest::write_file(dir.file("cut.bmp"), bmptest::make_bmp(fields, Bytes(1000, 0)));
  const FileHandle in = open_for_reading(dir.file("cut.bmp"));
  const FileHandle out = open_for_writing(kNullDevice);
  const bmpresizer::Outcome outcome = bmpresizer::resize_open_files(in, out, 2);
  close_handle(in);
  close_handle(out);
  EXPECT_EQ(outcome.failure, Failure::pixels_truncated);
  EXPECT_EQ(outcome.have, 1054u);
  EXPECT_EQ(outcome.want, 54u + 99u * 300u + 300u);  // the last row's padding may be missing
}

// An enlargement in parts, as threads of one caller write it: each part
// writes its own rows at their place, whatever the order the parts run in,
// and together they make the exact image; the parts' progress adds up to
// the file.
TEST(ResizeOpenFiles, PartsMakeTheWholeImage) {
  const struct Shape {
    std::int32_t width, height;
    int factor;
    std::uint32_t parts;
  } shapes[] = {
      {301, 17, 3, 2}, {5, 1, 2, 2},     // one row: the first part has none
      {0, 10, 2, 2},   {10, 0, 4, 2},    // no pixels at all
      {9, -7, 2, 3},   {7000, 3, 3, 2},  // top-down; rows longer than the buffer
  };
  for (const Shape& shape : shapes) {
    bmptest::TempDir dir;
    const Bytes input = bmptest::make_random_bmp(shape.width, shape.height, 21);
    bmptest::write_file(dir.file("in.bmp"), input);
    const FileHandle in = open_for_reading(dir.file("in.bmp"));
    const FileHandle out = open_for_writing(dir.file("out.bmp"));
    std::uint64_t total = 0;
    for (std::uint32_t index = shape.parts; index-- > 0;) {
      Reports reports;
      bmpresizer::Progress progress;
      progress.report = &record;
      progress.context = &reports;
      const bmpresizer::Outcome outcome = bmpresizer::resize_open_files(
          in, out, shape.factor, &progress, {}, bmpresizer::Part{index, shape.parts});
      EXPECT_TRUE(outcome.ok()) << shape.width << "x" << shape.height << " part " << index;
      total += reports.total;
    }
    close_handle(in);
    close_handle(out);
    const Bytes output = bmptest::read_file(dir.file("out.bmp"));
    EXPECT_EQ(bmptest::check_enlargement(input, output, shape.factor), "")
        << shape.width << "x" << shape.height << " in " << shape.parts << " parts";
    EXPECT_EQ(total, output.size()) << shape.width << "x" << shape.height;
  }
}

}  // namespace
