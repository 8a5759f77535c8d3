// The 4 GiB limit on real files: the largest enlargement a BMP can hold is
// written in full, the next one is refused before anything is written. The
// inputs are sparse files of about 4 GiB; the large output goes to
// /dev/null. Opt-in: cmake -DBMPRESIZER_HUGE_TESTS=ON, then ctest -L huge.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "bmp_testing.h"
#include "bmpresizer.h"
#include "resize_files.h"

namespace {

// A 24-bit BMP header for width x height followed by zero bytes up to
// `file_bytes`, without using the disk space.
void write_sparse_bmp(const std::string& path, std::int32_t width, std::int32_t height,
                      std::uint64_t file_bytes) {
  bmptest::BmpFields fields;
  fields.width = width;
  fields.height = height;
  fields.file_size = 54;  // wrong on purpose; it is ignored
  bmptest::write_file(path, bmptest::make_bmp(fields, {}));
  ASSERT_EQ(truncate(path.c_str(), static_cast<off_t>(file_bytes)), 0);
}

struct Totals {
  std::uint64_t written = 0;
  std::uint64_t total = 0;
};

TEST(HugeOutputs, TheLargestLegalOutputIsWrittenAndTheNextRefused) {
  bmptest::TempDir dir;
  // 21845 pixels make 65535 bytes, padded to 65536 per row.
  // 65535 rows: 54 + 65536 x 65535 = 4294901814 bytes, under 4 GiB - 1.
  write_sparse_bmp(dir.file("largest.bmp"), 21845, -65535, 54ull + 65536ull * 65534 + 65535);
  Totals totals;
  bmpresizer::Progress progress;
  progress.context = &totals;
  progress.report = [](void* context, std::uint64_t written, std::uint64_t total) {
    static_cast<Totals*>(context)->written = written;
    static_cast<Totals*>(context)->total = total;
  };
  const bmpresizer::Outcome largest =
      bmpresizer::resize_files(dir.file("largest.bmp").c_str(), "/dev/null", 1, &progress);
  EXPECT_EQ(bmpresizer::result_code(largest), BMPRESIZER_SUCCESS);
  EXPECT_EQ(largest.output_bytes, 4294901814u);
  EXPECT_EQ(totals.written, 4294901814u);

  // One row more: 4294967350 bytes, over the 32-bit bfSize.
  write_sparse_bmp(dir.file("over.bmp"), 21845, -65536, 54ull + 65536ull * 65535 + 65535);
  const bmpresizer::Outcome over =
      bmpresizer::resize_files(dir.file("over.bmp").c_str(), dir.file("out.bmp").c_str(), 1);
  EXPECT_EQ(over.failure, bmpresizer::Failure::file_too_large);
  EXPECT_EQ(over.want, 4294967350u);
  EXPECT_EQ(bmptest::read_file(dir.file("out.bmp")).size(), 0u);
}

}  // namespace
