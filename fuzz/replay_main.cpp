// Replays saved fuzz inputs through a target's LLVMFuzzerTestOneInput without libFuzzer, so
// that every seed and every crash ever found runs in the ordinary test build. Arguments are
// files or folders (every regular file in them, in name order). A failed check aborts.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

namespace fs = std::filesystem;

void Replay(const fs::path& file) {
  std::ifstream stream(file, std::ios::binary);
  const std::vector<char> bytes{std::istreambuf_iterator<char>(stream),
                                std::istreambuf_iterator<char>()};
  // A fresh copy of exactly the input's size, as libFuzzer hands it, so that a read past the
  // end shows under the address sanitizer.
  std::vector<uint8_t> input(bytes.begin(), bytes.end());
  LLVMFuzzerTestOneInput(input.empty() ? nullptr : input.data(), input.size());
}

}  // namespace

int main(int argc, char** argv) {
  size_t count = 0;
  for (int i = 1; i < argc; ++i) {
    const fs::path argument = argv[i];
    std::vector<fs::path> files;
    if (fs::is_directory(argument)) {
      for (const auto& item : fs::directory_iterator(argument)) {
        if (item.is_regular_file()) files.push_back(item.path());
      }
      std::sort(files.begin(), files.end());
    } else if (fs::is_regular_file(argument)) {
      files.push_back(argument);
    } else {
      std::fprintf(stderr, "no such input: %s\n", argv[i]);
      return 1;
    }
    for (const fs::path& file : files) {
      Replay(file);
      ++count;
    }
  }
  if (count == 0) {
    std::fprintf(stderr, "no inputs replayed\n");
    return 1;
  }
  std::printf("replayed %zu inputs\n", count);
  return 0;
}
