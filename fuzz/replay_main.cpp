// A fuzz target's entry without libFuzzer: every file under the directories given (a missing one
// is skipped), in name order, each in an exactly sized heap buffer.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
  std::vector<std::filesystem::path> files;
  for (int i = 1; i < argc; ++i)
    if (std::filesystem::is_directory(argv[i]))
      for (const auto& entry : std::filesystem::recursive_directory_iterator(argv[i]))
        if (entry.is_regular_file()) files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  for (const auto& path : files) {
    std::ifstream in(path, std::ios::binary);
    const std::vector<char> bytes{std::istreambuf_iterator<char>(in),
                                  std::istreambuf_iterator<char>()};
    fprintf(stderr, "%s\n",
            path.c_str());  // named first: the input behind an abort is the last line
    LLVMFuzzerTestOneInput(fuzz::Copy(bytes.data(), bytes.size()).get(), bytes.size());
  }
  printf("%zu inputs replayed\n", files.size());
  return files.empty() ? 1 : 0;
}
