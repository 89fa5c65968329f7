#include <unistd.h>

#include <csignal>
#include <new>
#include <string_view>

#include "cli/cli.h"
#include "io/pending_file.h"

int main(int argc, char** argv) {
  // Ctrl+C and kill take the temporary files with them, unless whoever
  // started us wants those signals ignored. A file over the size limit fails
  // its write (EFBIG) and is reported instead of ending the batch.
  for (const int terminating : {SIGINT, SIGTERM}) {
    if (std::signal(terminating, rzt2::RemoveTemporaryFilesAndReraise) == SIG_IGN)
      std::signal(terminating, SIG_IGN);
  }
  std::signal(SIGXFSZ, SIG_IGN);
  // Each file's work turns memory running out into its failure; what runs
  // out around it (the command line, the reports) ends the command here.
  try {
    return rzt2::RunCli(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const std::bad_alloc&) {
    static constexpr std::string_view kText = "rzt2: out of memory\n";
    [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, kText.data(), kText.size());
    return 1;
  }
}
