// rzt2tool: the desktop program.
#include <QCommandLineParser>
#include <QFile>
#include <QStringList>
#include <csignal>
#include <cstdio>

#include "app/map_converter.h"
#include "io/pending_file.h"
#include "rzt2_version.h"

int main(int argc, char** argv) {
  // --help and --version are answered before the application exists, so they
  // need no display. Anything else (Qt's own options, a file) is left to it.
  QStringList arguments;
  for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
  QCommandLineParser parser;
  parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
  parser.setApplicationDescription(
      QStringLiteral("Norvexa RZT2 Converter Tool: map pictures to RZT2 map files and back."));
  const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                QStringLiteral("Displays this help."));
  parser.addOption(help);
  const QCommandLineOption version = parser.addVersionOption();
  parser.addPositionalArgument(QStringLiteral("file"), QStringLiteral("A map file to view."),
                               QStringLiteral("[FILE]"));
  parser.parse(arguments);
  if (parser.isSet(help)) {
    // Without an application the parser cannot know the program's name.
    std::fputs(qPrintable(parser.helpText().replace(QStringLiteral("<executable_name>"),
                                                    QStringLiteral("rzt2tool"))),
               stdout);
    return 0;
  }
  if (parser.isSet(version)) {
    std::printf("rzt2tool %s\n", rzt2::kVersion);
    return 0;
  }

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
  // Qt has taken its own options out; what is left may name a map file.
  parser.parse(QCoreApplication::arguments());
  const QStringList files = parser.positionalArguments();
  return converter.run(files.isEmpty() ? std::string() : QFile::encodeName(files.front()).toStdString());
}
