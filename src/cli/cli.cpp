#include "cli/cli.h"

#include <unistd.h>

#include <cstdio>
#include <thread>

#include "base/memory_budget.h"
#include "cli/batch_report.h"
#include "cli/cli_options.h"
#include "cli/map_report.h"
#include "cli/name_list.h"
#include "cli/printable.h"
#include "cli/terminal_host.h"
#include "io/file_io.h"
#include "jobs/file_jobs.h"
#include "jobs/job_runner.h"
#include "mapfile/map_file_reader.h"
#include "settings/converter_settings.h"

namespace rzt2 {

namespace {

int UsageError(const std::string& error) {
  std::fprintf(stderr, "rzt2: %s\n(rzt2 --help lists the commands)\n", Printable(error).c_str());
  return kExitUsage;
}

// A file the command needs that cannot be used: nothing is done.
int Unusable(const std::string& what, Status cause) {
  std::fprintf(stderr, "rzt2: %s\n", FailureLine({what, {}, cause, {}}).c_str());
  return kExitUsage;
}

ProgressDisplay ChosenDisplay(ProgressMode mode) {
  switch (mode) {
    case ProgressMode::Auto:
      return ::isatty(STDERR_FILENO) == 1 ? ProgressDisplay::Line : ProgressDisplay::None;
    case ProgressMode::Json:
      return ProgressDisplay::Json;
    case ProgressMode::None:
      break;
  }
  return ProgressDisplay::None;
}

int RunJobCommand(const CliOptions& options) {
  ConverterSettings settings;
  if (!options.ignoreStoredSettings) settings.LoadSettings();
  JobRequest request;
  request.kind = options.command == CliCommand::Convert ? JobKind::Convert : JobKind::Export;
  request.params = settings.Encoder();
  if (options.format != nullptr) request.params.EncoderCode = FrameCode(*options.format);
  if (options.frameSizeX) request.params.FrameSizeX = *options.frameSizeX;
  if (options.frameSizeY) request.params.FrameSizeY = *options.frameSizeY;
  if (options.previewSizeX) request.params.MiniFrameSizeX = *options.previewSizeX;
  if (options.previewSizeY) request.params.MiniFrameSizeY = *options.previewSizeY;
  if (options.zoomLevelsMask) request.params.ZoomLevelsMask = *options.zoomLevelsMask;
  request.dpi = static_cast<uint32_t>(options.dpi.value_or(settings.DrawingDpi));
  request.allPages = options.page ? false : options.allPages || settings.AllPages != 0;
  request.page = options.page.value_or(1);
  if (options.paletteMode) request.params.PaletteMode = *options.paletteMode;
  if (request.kind == JobKind::Convert) {
    if (const auto bad = CheckEncoderParams(request.params)) return UsageError("unusable settings: " + *bad);
  } else {
    request.exportFormat = FrameCode(*options.format);
  }
  std::vector<std::string> names = options.files;
  if (options.filesFrom) {
    const Status status = ReadNameList(
        *options.filesFrom, options.nulSeparated ? NameSeparator::Nul : NameSeparator::Line, names);
    if (status != Status::Ok) return Unusable("cannot read the list " + *options.filesFrom, status);
  }
  BatchReport report;
  if (options.report) {
    if (const Status status = report.Open(*options.report); status != Status::Ok) {
      return Unusable("cannot write the report " + *options.report, status);
    }
  }

  TerminalHost host(stderr, ChosenDisplay(options.progress), options.report ? &report : nullptr);
  if (options.outputDir) {
    request.placement = {false, *options.outputDir + (options.outputDir->ends_with('/') ? "" : "/")};
  } else {
    request.placement = {settings.DstFolderAsSame != 0, settings.DstFolder};
  }
  // A missing folder is made, with its parents, as a script asking for it expects.
  if (MakeOutputFolder(request, host) != Status::Ok) return kExitFailed;

  // Names that are no file cannot be loaded: said here, where the desktop
  // program's list would never have offered them.
  int failed = 0;
  for (const std::string& name : names) {
    if (const Status status = JobFileStatus(name); status == Status::Ok) {
      request.names.push_back(name);
    } else {
      host.ShowError({FormatText(kErrorLoadingFile, name), name, status, {}});
      if (options.report) {
        report.Add({.input = name,
                    .output = OutputPath(OutputName(request, name), request.placement),
                    .status = status,
                    .cause = StatusText(status)});
      }
      ++failed;
    }
  }
  if (options.memoryBudget) MemoryBudget::Process().SetLimit(*options.memoryBudget);
  const int workers =
      options.jobs > 0 ? options.jobs : static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  failed += RunJobInParallel(request, host, workers).failed;
  // A batch whose record is incomplete did not go as asked.
  if (report.WriteStatus() != Status::Ok) {
    std::fprintf(
        stderr, "rzt2: %s\n",
        FailureLine({"the report " + *options.report + " is incomplete", {}, report.WriteStatus(), {}})
            .c_str());
    ++failed;
  }
  return failed > 0 ? kExitFailed : kExitOk;
}

int RunInfoOrCheck(const CliOptions& options) {
  int failed = 0;
  std::vector<MapReport> reports;
  for (const std::string& name : options.files) {
    // A file that cannot be read is an error, as in the jobs; one that is
    // no map file is reported with the rest.
    std::unique_ptr<MapFileReader> reader;
    const Status status = MapFileReader::Open(name, reader);
    if (status != Status::Ok && status != Status::UnknownImageFormat) {
      std::fprintf(stderr, "%s\n",
                   FailureLine({FormatText(kErrorLoadingFile, name), name, status, {}}).c_str());
      ++failed;
      continue;
    }
    MapReport report =
        options.command == CliCommand::Info ? InspectMap(name, reader.get()) : CheckMap(name, reader.get());
    if (!report.problems.empty()) ++failed;
    reports.push_back(std::move(report));
  }
  const std::string text = options.command == CliCommand::Check ? CheckText(reports)
                           : options.json                       ? InfoJson(reports)
                                                                : InfoText(reports);
  std::fputs(text.c_str(), stdout);
  return failed > 0 ? kExitFailed : kExitOk;
}

}  // namespace

int RunCli(const std::vector<std::string>& args) {
  const ParsedCommandLine parsed = ParseCommandLine(args, stdout, stderr);
  if (!parsed.options) return parsed.exitStatus;
  const CliOptions& options = *parsed.options;
  switch (options.command) {
    case CliCommand::Convert:
    case CliCommand::Export:
      return RunJobCommand(options);
    case CliCommand::Info:
    case CliCommand::Check:
      return RunInfoOrCheck(options);
  }
  return kExitUsage;
}

}  // namespace rzt2
