// Runs a fuzz target over every file of the folders (or files) named on the
// command line, so that saved corpora and past crashers replay as tests. A
// folder that does not exist counts as empty.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

void Replay(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  const std::vector<char> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  // An empty vector may have no storage; the target still gets a valid pointer.
  static const uint8_t kNothing = 0;
  const auto* data = bytes.empty() ? &kNothing : reinterpret_cast<const uint8_t*>(bytes.data());
  LLVMFuzzerTestOneInput(data, bytes.size());
}

}  // namespace

int main(int argc, char** argv) {
  size_t count = 0;
  for (int i = 1; i < argc; ++i) {
    const std::filesystem::path path(argv[i]);
    std::error_code error;
    if (std::filesystem::is_regular_file(path, error)) {
      Replay(path);
      ++count;
      continue;
    }
    if (!std::filesystem::is_directory(path, error)) continue;
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(path)) {
      if (entry.is_regular_file()) files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    for (const auto& file : files) Replay(file);
    count += files.size();
  }
  std::printf("replayed %zu inputs\n", count);
  return 0;
}
