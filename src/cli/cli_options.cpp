#include "cli/cli_options.h"

#include <CLI/CLI.hpp>
#include <charconv>
#include <functional>
#include <sstream>

#include "base/memory_budget.h"
#include "cli/printable.h"
#include "mapfile/encoder_params.h"
#include "rzt2_version.h"

namespace rzt2 {

namespace {

constexpr int kMaxJobs = 256;

std::optional<int32_t> ParseInt(std::string_view text) {
  int32_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
  return value;
}

struct Size {
  int32_t x, y;
};

// "WxH"; nothing for text of another shape.
std::optional<Size> ParseSize(std::string_view text) {
  const size_t cross = text.find('x');
  if (cross == std::string_view::npos) return std::nullopt;
  const auto x = ParseInt(text.substr(0, cross));
  const auto y = ParseInt(text.substr(cross + 1));
  if (!x || !y) return std::nullopt;
  return Size{*x, *y};
}

// "32..512"
std::string RangeText(const IntSetting& setting) {
  return std::to_string(setting.range->min) + ".." + std::to_string(setting.range->max);
}

// An option taking WxH, each number within its setting's range.
void AddSizeOption(CLI::App& command, const std::string& name, const IntSetting& xSetting,
                   const IntSetting& ySetting, std::vector<SettingValue>& overrides,
                   const std::string& help) {
  const auto store = [&overrides, &xSetting, &ySetting](const std::string& text) {
    const Size size = *ParseSize(text);  // the check has passed
    overrides.push_back({&xSetting, size.x});
    overrides.push_back({&ySetting, size.y});
  };
  const auto check = [xSetting, ySetting](const std::string& text) -> std::string {
    const auto size = ParseSize(text);
    if (!size) return "expected WIDTHxHEIGHT, got \"" + text + "\"";
    if (auto bad = RangeError(xSetting, size->x)) return *bad;
    if (auto bad = RangeError(ySetting, size->y)) return *bad;
    return {};
  };
  command.add_option_function<std::string>(name, store, help + " (" + RangeText(xSetting) + " each)")
      ->type_name("WxH")
      ->check(CLI::Validator(check, ""));
}

// An option whose value is one of the names of choices, given to store as
// the value the name stands for. The names are listed in the order given;
// aliases, earlier names of the same choices, are taken but not listed.
template <typename T>
CLI::Option* AddChoiceOption(CLI::App& command, const std::string& name, std::function<void(T)> store,
                             std::vector<std::pair<std::string, T>> choices, const std::string& help,
                             const std::vector<std::pair<std::string, T>>& aliases = {}) {
  std::vector<std::string> names;
  names.reserve(choices.size() + aliases.size());
  for (const auto& choice : choices) names.push_back(choice.first);
  const std::string listed = CLI::IsMember(names).get_description();
  choices.insert(choices.end(), aliases.begin(), aliases.end());
  for (const auto& alias : aliases) names.push_back(alias.first);
  const auto storeChoice = [store, choices](const std::string& text) {
    for (const auto& [choiceName, value] : choices) {
      if (choiceName == text) store(value);
    }
  };
  return command.add_option_function<std::string>(name, storeChoice, help)
      ->check(CLI::IsMember(names).description(listed));
}

// A choice that overrides setting.
CLI::Option* AddSettingChoice(CLI::App& command, const std::string& name, const IntSetting& setting,
                              CliOptions& options,
                              const std::vector<std::pair<std::string, int32_t>>& choices,
                              const std::string& help,
                              const std::vector<std::pair<std::string, int32_t>>& aliases = {}) {
  return AddChoiceOption<int32_t>(
      command, name,
      [&options, &setting](int32_t value) {
        options.overrides.push_back({&setting, value});
      },
      choices, help, aliases);
}

void AddFormatOption(CLI::App& command, CliOptions& options, const std::string& help) {
  std::vector<std::pair<std::string, int32_t>> formats;
  for (const ImageFormat& format : kFrameFormats) formats.emplace_back(format.name, FrameCode(format));
  AddSettingChoice(command, "--format", kEncoderCode, options, formats, help)->type_name("FORMAT");
}

// The settings dialog's "Built-in" and "Fitted to each map"; scripts may
// still say fixed and adaptive.
void AddPaletteOption(CLI::App& command, CliOptions& options, const std::string& help) {
  AddSettingChoice(command, "--palette", kPaletteMode, options,
                   {{"built-in", kPaletteBuiltIn}, {"fitted", kPaletteAdaptive}}, help,
                   {{"fixed", kPaletteBuiltIn}, {"adaptive", kPaletteAdaptive}})
      ->type_name("KIND");
}

// Pictures are recognised by their contents: "GIF, JPEG, ..., SVG".
std::string RecognisedFormats() {
  std::string titles;
  for (const ImageFormat& format : kImageFormats) {
    titles += (titles.empty() ? "" : ", ") + std::string(format.title);
  }
  return titles;
}

// The options convert and export share: where outputs go, threads,
// progress, and where the defaults come from.
void AddJobOptions(CLI::App& command, CliOptions& options) {
  command.footer("Defaults come from the settings the desktop program stores; each option overrides one.\n" +
                 command.get_footer());
  command
      .add_option_function<std::string>(
          "-o,--output-dir", [&options](const std::string& dir) { options.outputDir = dir; },
          "write into DIR, made with its parents when missing, instead of next to each source")
      ->type_name("DIR");
  command
      .add_option("-j,--jobs", options.jobs,
                  "worker threads in all, shared by files and the frames inside them (default: the cores "
                  "this process may use)")
      ->type_name("N")
      ->check(CLI::Range(1, kMaxJobs));
  CLI::Option* progress =
      AddChoiceOption<ProgressMode>(
          command, "--progress", [&options](ProgressMode mode) { options.progress = mode; },
          {{"auto", ProgressMode::Auto}, {"json", ProgressMode::Json}, {"none", ProgressMode::None}},
          "whole-batch progress on a terminal (auto, the default), JSON lines on stderr, or none")
          ->type_name("MODE");
  command
      .add_flag_callback(
          "-q,--quiet", [&options] { options.progress = ProgressMode::None; },
          "no progress (same as --progress=none)")
      ->excludes(progress);
  command.add_flag("--ignore-settings", options.ignoreStoredSettings,
                   "start from the built-in defaults, not the stored settings");
  CLI::Option* filesFrom =
      command
          .add_option_function<std::string>(
              "--files-from", [&options](const std::string& path) { options.filesFrom = path; },
              "also the files named in LIST, one a line (- reads standard input), after those given")
          ->type_name("LIST");
  command.add_flag("--null", options.nulSeparated, "the names in LIST end with NUL, as find -print0 writes")
      ->needs(filesFrom);
  command
      .add_option_function<std::string>(
          "--report", [&options](const std::string& path) { options.report = path; },
          "a JSON line for each file as it ends, in FILE (- for standard output); an earlier FILE is "
          "kept as FILE.bak")
      ->type_name("FILE");
}

// Files as arguments; jobs may take them from --files-from instead.
void AddFiles(CLI::App& command, CliOptions& options, const std::string& help, bool required = true) {
  command.add_option("FILE", options.files, help)->type_name("")->required(required);
}

// CLI11's text, each line shown as rzt2 shows names: a bad argument may be
// any bytes.
void Print(std::FILE* stream, const std::string& text, bool printable) {
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    std::fprintf(stream, "%s\n", printable ? Printable(line).c_str() : line.c_str());
  }
}

}  // namespace

ParsedCommandLine ParseCommandLine(const std::vector<std::string>& args, std::FILE* out, std::FILE* err) {
  CliOptions options;
  CLI::App app("rzt2 converts pictures into RZT2 map files and back.", "rzt2");
  app.set_version_flag("--version", std::string("rzt2 ") + kVersion, "print the version and exit");
  app.require_subcommand(1);
  app.footer(
      "Exit status: 0 all files done, 1 at least one file failed, 2 unusable command line or settings.");

  CLI::App* convert = app.add_subcommand("convert", "pictures or map files -> map files");
  convert->footer("Pictures are recognised by their contents: " + RecognisedFormats() + ".");
  AddFormatOption(*convert, options, "frame format");
  AddSizeOption(*convert, "--frame", kFrameSizeX, kFrameSizeY, options.overrides, "frame size");
  AddSizeOption(*convert, "--preview", kMiniFrameSizeX, kMiniFrameSizeY, options.overrides,
                "box the preview is fitted into");
  CLI::Option* zoom =
      AddSettingChoice(*convert, "--zoom", kZoomLevelsMask, options,
                       {{"none", kZoomMaskNone}, {"from25", kZoomMaskFrom25}, {"from50", kZoomMaskFrom50}},
                       "additional zoom levels, as the settings dialog offers them")
          ->type_name("LEVELS");
  convert
      ->add_option_function<int32_t>(
          "--zoom-mask",
          [&options](int32_t mask) {
            options.overrides.push_back({&kZoomLevelsMask, mask});
          },
          "the raw zoom level mask")
      ->type_name("N")
      ->excludes(zoom);
  AddPaletteOption(*convert, options,
                   "colours of pictures without a 256-colour palette of their own: built-in (the default; "
                   "photos and scans come out in its coarse steps) or fitted (256 colours fitted to each "
                   "picture, close to its own)");
  AddSettingChoice(*convert, "--compression", kMapSize, options,
                   {{"fast", kMapSizeFast}, {"small", kMapSizeSmall}},
                   "fast, or small: more time for fewer bytes, the same pixels")
      ->type_name("KIND");
  convert
      ->add_option_function<int32_t>(
          "--dpi",
          [&options](int32_t dpi) {
            options.overrides.push_back({&kDrawingDpi, dpi});
          },
          "pixels an inch for PDF, SVG and metafiles; 0: each format's own (PDF 150, others 96) (" +
              RangeText(kDrawingDpi) + ")")
      ->type_name("N")
      ->check(CLI::Range(kDrawingDpi.range->min, kDrawingDpi.range->max));
  CLI::Option* page =
      convert
          ->add_option_function<std::string>(
              "--page",
              [&options](const std::string& text) {
                const auto number = ParseInt(text);
                if (!number || *number < 1) {
                  throw CLI::ValidationError("--page", "takes a page number from 1, not " + text);
                }
                options.page = static_cast<uint32_t>(*number);
                options.overrides.push_back({&kAllPages, 0});
              },
              "convert this page of a PDF or TIFF, or frame of a GIF, counted from 1")
          ->type_name("N");
  convert
      ->add_flag_callback(
          "--all-pages",
          [&options] {
            options.overrides.push_back({&kAllPages, 1});
          },
          "convert every page of a multi-page file into its own map, NAME-pN.rzt2")
      ->excludes(page);
  convert
      ->add_option_function<int32_t>(
          "--max-pages",
          [&options](int32_t pages) {
            options.overrides.push_back({&kMaxPages, pages});
          },
          "the most pages (or frames) one file may yield; a file of more is refused (" +
              RangeText(kMaxPages) + ", default " + std::to_string(kMaxPages.defaultValue) + ")")
      ->type_name("N")
      ->check(CLI::Range(kMaxPages.range->min, kMaxPages.range->max));
  AddJobOptions(*convert, options);
  convert
      ->add_option_function<std::string>(
          "--memory",
          [&options](const std::string& text) {
            uint64_t bytes = 0;
            if (!ParseMemorySize(text, bytes)) {
              throw CLI::ValidationError("--memory", "takes a size such as 800M or 1.5G, not " + text);
            }
            options.memoryBudget = bytes;
            options.memoryText = text;
          },
          "memory budget for pixels; larger pictures are kept on disk (default: a quarter of "
          "physical memory)")
      ->type_name("SIZE");
  AddFiles(*convert, options, "pictures or map files", false);

  CLI::App* exportCommand = app.add_subcommand("export", "map files and pictures -> pictures");
  AddFormatOption(*exportCommand, options, "format of the pictures written");
  exportCommand->get_option("--format")->required();
  AddPaletteOption(*exportCommand, options,
                   "colours of GIF pictures: built-in (the default) or fitted (to each picture)");
  AddJobOptions(*exportCommand, options);
  AddFiles(*exportCommand, options, "map files or pictures", false);

  CLI::App* info = app.add_subcommand("info", "header, level table, preview of map files");
  info->add_flag("--json", options.json, "print the report as JSON");
  AddFiles(*info, options, "map files");

  CLI::App* check = app.add_subcommand("check", "validates map files: structure, and every frame decodes");
  AddFiles(*check, options, "map files");

  std::vector<std::string> reversed(args.rbegin(), args.rend());  // as CLI11 takes them
  try {
    app.parse(reversed);
    if ((convert->parsed() || exportCommand->parsed()) && options.files.empty() && !options.filesFrom) {
      throw CLI::RequiredError("FILE or --files-from");
    }
  } catch (const CLI::ParseError& error) {
    std::ostringstream helpText, errorText;
    const int status = app.exit(error, helpText, errorText);
    Print(out, helpText.str(), false);
    Print(err, errorText.str(), true);
    return {std::nullopt, status == 0 ? kExitOk : kExitUsage};
  }
  options.command = convert->parsed()         ? CliCommand::Convert
                    : exportCommand->parsed() ? CliCommand::Export
                    : info->parsed()          ? CliCommand::Info
                                              : CliCommand::Check;
  return {std::move(options), kExitOk};
}

}  // namespace rzt2
