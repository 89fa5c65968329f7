// The command line of rzt2: commands, options and their ranges.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "raster/codecs/image_formats.h"

namespace rzt2 {

enum class CliCommand { Convert, Export, Info, Check, Help, Version };

struct CliOptions {
  CliCommand command = CliCommand::Help;
  std::vector<std::string> files;
  const ImageFormat* format = nullptr;  // --format: a frame format
  std::optional<int32_t> frameSizeX, frameSizeY;
  std::optional<int32_t> previewSizeX, previewSizeY;
  std::optional<int32_t> zoomLevelsMask;
  std::optional<std::string> outputDir;
  int jobs = 0;                          // 0: one per core
  std::optional<uint64_t> memoryBudget;  // --memory, in bytes
  bool quiet = false;
  bool json = false;
  bool ignoreStoredSettings = false;
};

// Parses the arguments after the program name. On failure the text says
// what is wrong, for the usage error.
bool ParseCommandLine(const std::vector<std::string>& args, CliOptions& options, std::string& error);

std::string UsageText();

}  // namespace rzt2
