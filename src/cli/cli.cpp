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

// The job the stored settings, with the command line's overrides, ask for.
JobRequest RequestFor(const CliOptions& options, const ConverterSettings& settings) {
  JobRequest request;
  request.kind = options.command == CliCommand::Convert ? JobKind::Convert : JobKind::Export;
  request.params = settings.Encoder();
  // Export requires --format, which gave the frame format.
  if (request.kind == JobKind::Export) request.exportFormat = settings.EncoderCode;
  request.dpi = static_cast<uint32_t>(settings.DrawingDpi);
  request.allPages = settings.AllPages != 0;
  request.page = options.page.value_or(1);
  return request;
}

// The names given and listed; a list that cannot be read fails with its status.
Status ReadNames(const CliOptions& options, std::vector<std::string>& names) {
  names = options.files;
  if (!options.filesFrom) return Status::Ok;
  return ReadNameList(*options.filesFrom, options.nulSeparated ? NameSeparator::Nul : NameSeparator::Line,
                      names);
}

// Where the outputs go: the folder of -o, else where the settings say; a
// missing folder is made, with its parents, as a script asking for it
// expects. False when the folder cannot be made, which the host is told.
bool PlaceOutputs(const CliOptions& options, const ConverterSettings& settings, JobHost& host,
                  JobRequest& request) {
  if (options.outputDir) {
    const std::string& folder = *options.outputDir;
    request.placement = {false, folder + (folder.ends_with('/') ? "" : "/")};
  } else {
    request.placement = {settings.DstFolderAsSame != 0, settings.DstFolder};
  }
  return MakeOutputFolder(request, host) == Status::Ok;
}

// Takes the names into the request; names that are no file cannot be
// loaded, which is said here, where the desktop program's list would never
// have offered them. Returns how many failed.
int AdmitNames(const std::vector<std::string>& names, JobHost& host, BatchReport* report,
               JobRequest& request) {
  int failed = 0;
  for (const std::string& name : names) {
    const Status status = JobFileStatus(name);
    if (status == Status::Ok) {
      request.names.push_back(name);
      continue;
    }
    host.ShowError({FormatText(kErrorLoadingFile, name), name, status, {}});
    if (report != nullptr) {
      report->Add({.input = name,
                   .output = OutputPath(OutputName(request, name), request.placement),
                   .status = status,
                   .cause = StatusText(status)});
    }
    ++failed;
  }
  return failed;
}

int Workers(const CliOptions& options) {
  return options.jobs > 0 ? options.jobs
                          : static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
}

int RunJobCommand(const CliOptions& options) {
  ConverterSettings settings;
  if (!options.ignoreStoredSettings) settings.LoadSettings();
  settings.Apply(options.overrides);
  JobRequest request = RequestFor(options, settings);
  if (request.kind == JobKind::Convert) {
    if (const auto bad = CheckEncoderParams(request.params)) return UsageError("unusable settings: " + *bad);
  }
  std::vector<std::string> names;
  if (const Status status = ReadNames(options, names); status != Status::Ok) {
    return Unusable("cannot read the list " + *options.filesFrom, status);
  }
  BatchReport report;
  if (options.report) {
    if (const Status status = report.Open(*options.report); status != Status::Ok) {
      return Unusable("cannot write the report " + *options.report, status);
    }
  }
  BatchReport* const reportOrNull = options.report ? &report : nullptr;
  TerminalHost host(stderr, ChosenDisplay(options.progress), reportOrNull);
  if (!PlaceOutputs(options, settings, host, request)) return kExitFailed;
  int failed = AdmitNames(names, host, reportOrNull, request);
  if (options.memoryBudget) MemoryBudget::Process().SetLimit(*options.memoryBudget);
  failed += RunJobInParallel(request, host, Workers(options)).failed;
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
