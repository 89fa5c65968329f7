// rzt2tool: the desktop program.
#include <csignal>

#include "app/map_converter.h"
#include "raster/pending_file.h"

int main(int argc, char** argv) {
  // A kill, or Ctrl+C in the terminal it was started from, takes the
  // temporary files with it, unless whoever started us wants those signals
  // ignored. A file over the size limit fails its write (EFBIG) and is
  // reported instead of ending the program.
  for (const int terminating : {SIGINT, SIGTERM}) {
    if (std::signal(terminating, rzt2::RemoveTemporaryFilesAndReraise) == SIG_IGN)
      std::signal(terminating, SIG_IGN);
  }
  std::signal(SIGXFSZ, SIG_IGN);
  rzt2::MapConverter converter(argc, argv);
  return converter.Run();
}
