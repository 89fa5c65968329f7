#include "cli/cli_runner.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

#include "support/test_support.h"

namespace rzt2::test {

namespace {

std::filesystem::path OutFile(const std::filesystem::path& folder) { return folder / ".rzt2-out"; }
std::filesystem::path ErrFile(const std::filesystem::path& folder) { return folder / ".rzt2-err"; }

std::string TakeText(const std::filesystem::path& path) {
  const auto bytes = ReadFileBytes(path);
  std::filesystem::remove(path);
  return std::string(bytes.begin(), bytes.end());
}

}  // namespace

pid_t StartRzt2(const std::filesystem::path& folder, const std::vector<std::string>& args, void (*inChild)(),
                const std::filesystem::path& input) {
  // Everything is made before fork: the child may not allocate.
  const std::string config = "XDG_CONFIG_HOME=" + (folder / ".config").string();
  std::vector<char*> environment;
  for (char** variable = environ; *variable != nullptr; ++variable) {
    if (std::strncmp(*variable, "XDG_CONFIG_HOME=", 16) != 0) environment.push_back(*variable);
  }
  environment.push_back(const_cast<char*>(config.c_str()));
  environment.push_back(nullptr);
  std::vector<char*> argv = {const_cast<char*>(RZT2_CLI)};
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  const std::string out = OutFile(folder), err = ErrFile(folder);

  const pid_t pid = ::fork();
  if (pid != 0) return pid;
  const int in = ::open(input.c_str(), O_RDONLY | O_CLOEXEC);
  const int outFd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  const int errFd = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (in < 0 || outFd < 0 || errFd < 0 || ::chdir(folder.c_str()) != 0 || ::dup2(in, 0) < 0 ||
      ::dup2(outFd, 1) < 0 || ::dup2(errFd, 2) < 0) {
    ::_exit(127);
  }
  ::alarm(kRunTimeoutSeconds);  // a hang fails its test, not the whole run
  // A test run as a shell's background job starts with these ignored, which
  // rzt2 rightly keeps: its signal tests need them as a terminal sends them.
  ::signal(SIGINT, SIG_DFL);
  ::signal(SIGTERM, SIG_DFL);
  if (inChild != nullptr) inChild();
  ::execve(RZT2_CLI, argv.data(), environment.data());
  ::_exit(127);
}

CliRun FinishRzt2(const std::filesystem::path& folder, pid_t pid) {
  CliRun run;
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return run;
  }
  if (WIFEXITED(status)) run.exitCode = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) run.signal = WTERMSIG(status);
  run.out = TakeText(OutFile(folder));
  run.err = TakeText(ErrFile(folder));
  return run;
}

}  // namespace rzt2::test
