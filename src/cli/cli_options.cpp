#include "cli/cli_options.h"

#include <charconv>
#include <functional>
#include <map>

#include "jobs/job_runner.h"
#include "mapfile/encoder_params.h"

namespace rzt2 {

namespace {

bool Fail(std::string& error, std::string text) {
  error = std::move(text);
  return false;
}

std::optional<int32_t> ParseInt(const std::string& text) {
  int32_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
  return value;
}

// "gif|jpeg|png|bmp|tiff"
std::string FormatChoices() {
  std::string choices;
  for (const ImageFormat& format : kFrameFormats) {
    if (!choices.empty()) choices += '|';
    choices += format.name;
  }
  return choices;
}

// "WxH" with both numbers in the setting's range.
bool ParseSize(const std::string& text, const IntSetting& xSetting, const IntSetting& ySetting,
               std::optional<int32_t>& x, std::optional<int32_t>& y, std::string& error) {
  const size_t cross = text.find('x');
  const auto width = cross == std::string::npos ? std::nullopt : ParseInt(text.substr(0, cross));
  const auto height = cross == std::string::npos ? std::nullopt : ParseInt(text.substr(cross + 1));
  if (!width || !height) {
    error = "expected WIDTHxHEIGHT, got \"" + text + "\"";
    return false;
  }
  if (auto bad = RangeError(xSetting, *width)) return Fail(error, *bad);
  if (auto bad = RangeError(ySetting, *height)) return Fail(error, *bad);
  x = width;
  y = height;
  return true;
}

}  // namespace

bool ParseCommandLine(const std::vector<std::string>& args, CliOptions& options, std::string& error) {
  options = CliOptions{};
  if (args.empty()) return Fail(error, "no command given");
  const std::map<std::string, CliCommand> commands = {
      {"convert", CliCommand::Convert},  {"export", CliCommand::Export}, {"info", CliCommand::Info},
      {"check", CliCommand::Check},      {"--help", CliCommand::Help},   {"-h", CliCommand::Help},
      {"--version", CliCommand::Version}};
  const auto command = commands.find(args[0]);
  if (command == commands.end()) return Fail(error, "unknown command \"" + args[0] + "\"");
  options.command = command->second;
  if (options.command == CliCommand::Help || options.command == CliCommand::Version) {
    return args.size() == 1 || Fail(error, "unexpected argument \"" + args[1] + "\"");
  }
  const bool writes = options.command == CliCommand::Convert || options.command == CliCommand::Export;
  bool onlyFiles = false;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (onlyFiles || arg.empty() || arg[0] != '-' || arg == "-") {
      options.files.push_back(arg);
      continue;
    }
    if (arg == "--") {
      onlyFiles = true;
      continue;
    }
    const auto value = [&]() -> std::optional<std::string> {
      if (i + 1 >= args.size()) return std::nullopt;
      return args[++i];
    };
    const bool convertOnly =
        arg == "--frame" || arg == "--preview" || arg == "--zoom" || arg == "--zoom-mask";
    const bool writeOption = convertOnly || arg == "--format" || arg == "-o" || arg == "--output-dir" ||
                             arg == "-j" || arg == "--jobs" || arg == "-q" || arg == "--quiet" ||
                             arg == "--ignore-settings";
    if ((writeOption && !writes) || (convertOnly && options.command != CliCommand::Convert) ||
        (arg == "--json" && options.command != CliCommand::Info)) {
      return Fail(error, "option " + arg + " does not apply to this command");
    }
    if (arg == "-q" || arg == "--quiet") {
      options.quiet = true;
    } else if (arg == "--json") {
      options.json = true;
    } else if (arg == "--ignore-settings") {
      options.ignoreStoredSettings = true;
    } else if (writeOption) {
      const auto text = value();
      if (!text) return Fail(error, "option " + arg + " needs a value");
      if (arg == "--format") {
        if (!(options.format = FindFrameFormat(*text)))
          return Fail(error, "unknown format \"" + *text + "\"");
      } else if (arg == "--frame") {
        if (!ParseSize(*text, kFrameSizeX, kFrameSizeY, options.frameSizeX, options.frameSizeY, error))
          return false;
      } else if (arg == "--preview") {
        if (!ParseSize(*text, kMiniFrameSizeX, kMiniFrameSizeY, options.previewSizeX, options.previewSizeY,
                       error)) {
          return false;
        }
      } else if (arg == "--zoom") {
        const std::map<std::string, int32_t> masks = {
            {"none", kZoomMaskNone}, {"from25", kZoomMaskFrom25}, {"from50", kZoomMaskFrom50}};
        const auto mask = masks.find(*text);
        if (mask == masks.end()) return Fail(error, "--zoom takes none, from25 or from50");
        options.zoomLevelsMask = mask->second;
      } else if (arg == "--zoom-mask") {
        if (!(options.zoomLevelsMask = ParseInt(*text))) return Fail(error, "--zoom-mask takes an integer");
      } else if (arg == "-o" || arg == "--output-dir") {
        options.outputDir = *text;
      } else {
        const auto jobs = ParseInt(*text);
        if (!jobs || *jobs < 1 || *jobs > 256) return Fail(error, "--jobs takes a number from 1 to 256");
        options.jobs = *jobs;
      }
    } else {
      return Fail(error, "unknown option " + arg);
    }
  }
  if (options.command == CliCommand::Export && options.format == nullptr)
    return Fail(error, "export needs --format");
  if (options.files.empty()) return Fail(error, "no files given");
  return true;
}

std::string UsageText() {
  // One option a line, its text in a column.
  const auto option = [](const std::string& flags, const std::string& text) {
    constexpr size_t kColumn = 33;
    return "      " + flags + std::string(kColumn - std::min(kColumn - 1, flags.size()), ' ') + text + "\n";
  };
  const std::string formats = FormatChoices();
  return "Usage:\n"
         "  rzt2 convert [options] FILE...     pictures or map files -> map files\n" +
         option("--format " + formats, "frame format") + option("--frame WxH", "frame size (32..512 each)") +
         option("--preview WxH", "box the preview is fitted into (128..1024 each)") +
         option("--zoom none|from25|from50", "additional zoom levels") +
         option("--zoom-mask N", "the raw zoom level mask") +
         option("-o, --output-dir DIR", "write into DIR instead of next to each source") +
         option("-j, --jobs N", "threads in all, for files and their frames (default: one per core)") +
         option("-q, --quiet", "no progress") +
         option("--ignore-settings", "start from the built-in defaults, not the stored settings") +
         "  rzt2 export --format " + formats +
         " [-o DIR] [-j N] [-q] [--ignore-settings] FILE...\n"
         R"(  rzt2 info [--json] FILE...          header, level table, preview of map files
  rzt2 check FILE...                  validates map files: structure, and every frame decodes
  rzt2 --help | --version

Defaults come from the settings the desktop program stores.
Exit status: 0 all files done, 1 at least one file failed, 2 unusable command line or settings.
)";
}

}  // namespace rzt2
