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
  request.maxPages = static_cast<uint32_t>(settings.MaxPages);
  request.page = options.page.value_or(1);
  return request;
}

// Where the outputs go: the folder of -o, else where the settings say.
OutputPlacement PlacementFor(const CliOptions& options, const ConverterSettings& settings) {
  if (!options.outputDir) return {settings.DstFolderAsSame != 0, settings.DstFolder};
  const std::string& folder = *options.outputDir;
  return {false, folder + (folder.ends_with('/') ? "" : "/")};
}

// The same file, or the same path once both are made absolute with their
// links resolved: an output need not exist yet.
bool SamePath(const std::string& a, const std::string& b) {
  std::error_code error;
  if (std::filesystem::equivalent(a, b, error)) return true;
  const auto key = [](const std::string& path) {
    std::error_code ignored;
    return std::filesystem::weakly_canonical(std::filesystem::absolute(path, ignored), ignored);
  };
  return key(a) == key(b);
}

// Why the report cannot be where it was asked, among the batch's files: an
// input would be lost to it, and an output would take its place. Nothing
// when it is none of them.
std::optional<std::string> ReportClash(const std::string& report, const std::vector<std::string>& names,
                                       const JobRequest& request) {
  if (report == "-") return std::nullopt;
  const std::string subject = "the report " + report;
  for (const std::string& name : names) {
    if (SamePath(report, name)) return subject + " is an input of the batch";
    const std::string output = OutputPath(OutputName(request, name), request.placement);
    if (SamePath(report, output)) return subject + " is the output of " + name;
  }
  return std::nullopt;
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
  NameList listed;
  if (options.filesFrom) {
    const NameSeparator separator = options.nulSeparated ? NameSeparator::Nul : NameSeparator::Line;
    if (const Status status = listed.Open(*options.filesFrom, separator); status != Status::Ok) {
      return Unusable("cannot read the list " + *options.filesFrom, status);
    }
    request.moreNames = &listed;
  }
  request.placement = PlacementFor(options, settings);
  if (options.report) {
    if (const auto clash = ReportClash(*options.report, options.files, request)) return UsageError(*clash);
  }
  BatchReport report;
  if (options.report) {
    if (const Status status = report.Open(*options.report); status != Status::Ok) {
      return Unusable("cannot write the report " + *options.report, status);
    }
  }
  BatchReport* const reportOrNull = options.report ? &report : nullptr;
  TerminalHost host(stderr, ChosenDisplay(options.progress), reportOrNull);
  if (MakeOutputFolder(request, host) != Status::Ok) return kExitFailed;
  int failed = AdmitNames(options.files, host, reportOrNull, request);
  if (options.memoryBudget) MemoryBudget::Process().SetLimit(*options.memoryBudget);
  const std::string budget =
      options.memoryText.value_or(std::to_string(MemoryBudget::Process().Limit() >> 20) + "M, the default");
  SetMemoryAllowanceText("needs more memory than allowed (--memory " + budget + ")");
  failed += RunJobInParallel(request, host, Workers(options)).failed;
  if (listed.ReadStatus() != Status::Ok) {
    const std::string what = "the list " + *options.filesFrom + " was read only in part";
    std::fprintf(stderr, "rzt2: %s\n", FailureLine({what, {}, listed.ReadStatus(), {}}).c_str());
    ++failed;
  }
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
