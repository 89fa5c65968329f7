// Runs the rzt2 tool in a folder, with its settings store kept in that
// folder.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

namespace rzt2::test {

struct CliRun {
  int exitCode = -1;  // -1 when a signal ended it
  int signal = 0;     // the signal that ended it, or 0
  std::string out;
  std::string err;
};

// A run that has not ended by then is stopped by SIGALRM.
inline constexpr int kRunTimeoutSeconds = 120;

// Starts `rzt2 ARGS` in folder, with XDG_CONFIG_HOME pointing into the
// folder, stdin read from input and stdout and stderr kept in files there.
// inChild runs in the child just before rzt2 starts, and may only make
// async-signal-safe calls.
pid_t StartRzt2(const std::filesystem::path& folder, const std::vector<std::string>& args,
                void (*inChild)() = nullptr, const std::filesystem::path& input = "/dev/null");
// Waits for a started rzt2 and collects what it wrote.
CliRun FinishRzt2(const std::filesystem::path& folder, pid_t pid);

inline CliRun RunRzt2(const std::filesystem::path& folder, const std::vector<std::string>& args) {
  return FinishRzt2(folder, StartRzt2(folder, args));
}

}  // namespace rzt2::test
