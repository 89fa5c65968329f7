// Runs the rzt2 tool in a folder, with its settings store kept in that
// folder.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace rzt2::test {

struct CliRun {
  int exitCode = -1;
  std::string out;
  std::string err;
};

// A run that has not ended by then is stopped, with exit status 124.
inline constexpr int kRunTimeoutSeconds = 120;

// Runs `rzt2 ARGS` in folder; XDG_CONFIG_HOME points into the folder.
CliRun RunRzt2(const std::filesystem::path& folder, const std::vector<std::string>& args);

}  // namespace rzt2::test
