// The command line of rzt2: commands, options and their ranges, parsed with
// CLI11. Ranges and format names come from the settings' and formats'
// declarations in the core, and the options that override a setting give
// their values by its declaration.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "mapfile/encoder_params.h"

namespace rzt2 {

// Exit statuses: every file done; some file failed; the command line or the
// settings are unusable.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

enum class CliCommand { Convert, Export, Info, Check };

enum class ProgressMode { Auto, Json, None };

struct CliOptions {
  CliCommand command = CliCommand::Convert;
  std::vector<std::string> files;
  std::optional<std::string> filesFrom;  // --files-from: a list of more files, "-" for standard input
  bool nulSeparated = false;             // --null: the list's names end with NUL, not a line's end
  std::optional<std::string> report;     // --report: the JSON lines' file, "-" for standard output
  // The options that override a stored setting (--format, --frame,
  // --preview, --zoom, --zoom-mask, --palette, --dpi, --page, --all-pages),
  // each as the value it gives its setting, in the order given.
  std::vector<SettingValue> overrides;
  std::optional<uint32_t> page;  // --page: this page of multi-page files, from 1
  std::optional<std::string> outputDir;
  int jobs = 0;                           // 0: one per core
  std::optional<uint64_t> memoryBudget;   // --memory, in bytes; none: the default budget
  std::optional<std::string> memoryText;  // --memory as given
  ProgressMode progress = ProgressMode::Auto;
  bool json = false;
  bool ignoreStoredSettings = false;
};

// What parsing a command line came to: options to run with, or an exit
// status (0 after --help or --version) once the parser has printed its
// text, the help on out or the usage error on err.
struct ParsedCommandLine {
  std::optional<CliOptions> options;
  int exitStatus = 0;
};

ParsedCommandLine ParseCommandLine(const std::vector<std::string>& args, std::FILE* out, std::FILE* err);

}  // namespace rzt2
