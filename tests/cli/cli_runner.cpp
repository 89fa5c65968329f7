#include "cli/cli_runner.h"

#include <sys/wait.h>

#include <cstdlib>

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
  std::string command = "cd " + Quote(folder.string()) +
                        " && XDG_CONFIG_HOME=" + Quote((folder / ".config").string()) + " timeout " +
                        std::to_string(kRunTimeoutSeconds) + " " + Quote(RZT2_CLI);
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

}  // namespace rzt2::test
