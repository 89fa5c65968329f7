#include "cli/cli_runner.h"

#include <cstdlib>
#include <sys/wait.h>

#include "support/test_support.h"

namespace rzt2::test {

namespace {

std::string Quote(const std::string& text) {
  std::string out = "'";
  for (const char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

std::string ReadText(const std::filesystem::path& path) {
  const auto bytes = ReadFileBytes(path);
  return std::string(bytes.begin(), bytes.end());
}

}  // namespace

CliRun RunRzt2(const std::filesystem::path& folder, const std::vector<std::string>& args) {
  std::string command = "cd " + Quote(folder.string()) + " && XDG_CONFIG_HOME=" + Quote((folder / ".config").string()) +
                        " " + Quote(RZT2_CLI);
  for (const auto& arg : args) command += " " + Quote(arg);
  const auto out = folder / ".rzt2-out", err = folder / ".rzt2-err";
  command += " >" + Quote(out.string()) + " 2>" + Quote(err.string()) + " </dev/null";
  const int status = std::system(command.c_str());
  CliRun run;
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.out = ReadText(out);
  run.err = ReadText(err);
  std::filesystem::remove(out);
  std::filesystem::remove(err);
  return run;
}

uint32_t ParsedMap::U32(size_t offset) const {
  return uint32_t{bytes[offset]} | uint32_t{bytes[offset + 1]} << 8 | uint32_t{bytes[offset + 2]} << 16 |
         uint32_t{bytes[offset + 3]} << 24;
}

bool ParseMapFile(const std::filesystem::path& path, ParsedMap& map, std::string& problem) {
  map.bytes = ReadFileBytes(path);
  if (map.bytes.size() < 1084) return problem = "shorter than its tables", false;
  for (size_t level = 0; level < 16; ++level) {
    ParsedLevel parsed;
    for (size_t f = 0; f < 10; ++f) parsed.fields[f] = map.U32(444 + 40 * level + 4 * f);
    if (parsed.fields[0] != 0) {
      const uint64_t index = parsed.fields[3], refs = parsed.fields[5], prefix = parsed.fields[1],
                     prefixSize = parsed.fields[2];
      if (index + 8 * refs > map.bytes.size() || prefix + prefixSize > map.bytes.size()) {
        return problem = "level " + std::to_string(level) + " outside the file", false;
      }
      parsed.previewRef[0] = map.U32(index);
      parsed.previewRef[1] = map.U32(index + 4);
      for (uint64_t k = 16; k < refs; ++k) {
        const uint64_t offset = map.U32(index + 8 * k), size = map.U32(index + 8 * k + 4);
        if (offset + size > map.bytes.size()) return problem = "frame outside the file", false;
        std::vector<uint8_t> frame(map.bytes.begin() + static_cast<ptrdiff_t>(prefix),
                                   map.bytes.begin() + static_cast<ptrdiff_t>(prefix + prefixSize));
        frame.insert(frame.end(), map.bytes.begin() + static_cast<ptrdiff_t>(offset),
                     map.bytes.begin() + static_cast<ptrdiff_t>(offset + size));
        parsed.frames.push_back(std::move(frame));
      }
    }
    map.levels.push_back(std::move(parsed));
  }
  return true;
}

QImage DecodeWithQt(const std::vector<uint8_t>& bytes) {
  return QImage::fromData(bytes.data(), static_cast<int>(bytes.size()));
}

}  // namespace rzt2::test
