// The fuzz target without libFuzzer: runs it once on each file of the
// folders (and files) it is given, as a test of the ordinary build. The
// target aborts on any breach of its contract; this says which file ran.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

int replay(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  const std::vector<std::uint8_t> data((std::istreambuf_iterator<char>(in)),
                                       std::istreambuf_iterator<char>());
  std::fprintf(stderr, "%s\n", file.string().c_str());
  LLVMFuzzerTestOneInput(data.data(), data.size());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  int files = 0;
  for (int i = 1; i < argc; ++i) {
    if (std::filesystem::is_directory(argv[i])) {
      for (const auto& entry : std::filesystem::directory_iterator(argv[i])) {
        files += replay(entry.path());
      }
    } else {
      files += replay(argv[i]);
    }
  }
  std::printf("replayed %d inputs\n", files);
  return files > 0 ? 0 : 1;
}
