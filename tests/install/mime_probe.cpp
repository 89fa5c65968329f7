// Prints the MIME type of each file as the shared MIME database that
// XDG_DATA_DIRS leads to sees it (by name, then by content), one a line.
#include <QMimeDatabase>
#include <cstdio>

int main(int argc, char** argv) {
  const QMimeDatabase database;
  for (int i = 1; i < argc; ++i) {
    std::printf("%s\n", qPrintable(database.mimeTypeForFile(QString::fromLocal8Bit(argv[i])).name()));
  }
  return 0;
}
