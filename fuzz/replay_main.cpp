// Replays saved fuzz inputs through a target's LLVMFuzzerTestOneInput without libFuzzer, so
// that every seed and every crash ever found runs in the ordinary test build. Arguments are
// folders; their files run in name order. A failed check aborts, and so does a missing folder.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  std::vector<fs::path> files;
  for (int i = 1; i < argc; ++i) {
    for (const auto& item : fs::directory_iterator(argv[i])) files.push_back(item.path());
  }
  std::sort(files.begin(), files.end());
  for (const fs::path& file : files) {
    // Exactly the input's size, as libFuzzer hands it, so that a read past the end shows under
    // the address sanitizer.
    std::vector<uint8_t> input(fs::file_size(file));
    std::ifstream(file, std::ios::binary)
        .read(reinterpret_cast<char*>(input.data()), static_cast<std::streamsize>(input.size()));
    LLVMFuzzerTestOneInput(input.empty() ? nullptr : input.data(), input.size());
  }
  std::printf("replayed %zu inputs\n", files.size());
  return files.empty() ? 1 : 0;
}
