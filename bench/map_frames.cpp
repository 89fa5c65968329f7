// The frames of map files, for run-map-size:
//   map_frames compare A B   decodes every frame of every stored level and
//                            the preview of both files and compares their
//                            colours; exit 1 when any differs
//   map_frames extract MAP DIR   writes each frame of every stored level as
//                            a complete picture file (shared prefix and
//                            body) into DIR, and prints the file's shared
//                            prefix bytes, the sum of its bodies and the
//                            preview's size
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "mapfile/map_file_reader.h"
#include "raster/codecs/image_formats.h"

namespace {

using rzt2::Status;

std::vector<uint32_t> Colours(const std::vector<uint8_t>& encoding, bool& ok) {
  std::unique_ptr<rzt2::Bitmap> bitmap;
  ok = rzt2::DecodeFrameImage(encoding, rzt2::DecodeLimits{}, bitmap) == Status::Ok;
  std::vector<uint32_t> colours;
  if (!ok) return colours;
  colours.resize(static_cast<size_t>(bitmap->Width()) * static_cast<size_t>(bitmap->Height()) + 2);
  colours[0] = static_cast<uint32_t>(bitmap->Width());
  colours[1] = static_cast<uint32_t>(bitmap->Height());
  for (int32_t y = 0; y < bitmap->Height(); ++y) {
    bitmap->ReadArgb(0, y, bitmap->Width(), &colours[2 + static_cast<size_t>(y) * colours[0]]);
  }
  return colours;
}

// Calls visit(level, column, row, encoding) for every frame of every stored level.
template <typename Visit>
bool ForEachFrame(const rzt2::MapFileReader& reader, Visit&& visit) {
  const auto table = reader.LevelTable();
  for (size_t level = 0; level < table.size(); ++level) {
    if (table[level].scale == 0) continue;
    rzt2::FrameIndex index;
    if (reader.ReadFrameIndex(table[level], index) != Status::Ok) return false;
    std::vector<uint8_t> frame;
    for (uint32_t row = 0; row < table[level].rows; ++row) {
      for (uint32_t column = 0; column < table[level].columns; ++column) {
        if (reader.ReadFrame(index, column, row, frame) != Status::Ok) return false;
        visit(level, column, row, index, frame);
      }
    }
  }
  return true;
}

int Compare(const std::string& a, const std::string& b) {
  std::unique_ptr<rzt2::MapFileReader> first, second;
  if (rzt2::MapFileReader::Open(a, first) != Status::Ok ||
      rzt2::MapFileReader::Open(b, second) != Status::Ok) {
    std::fprintf(stderr, "cannot open %s or %s\n", a.c_str(), b.c_str());
    return 2;
  }
  std::vector<std::vector<uint32_t>> frames;
  bool ok = true;
  const auto collect = [&](std::vector<std::vector<uint32_t>>& out) {
    return [&](size_t, uint32_t, uint32_t, const rzt2::FrameIndex&, const std::vector<uint8_t>& encoding) {
      bool decoded = false;
      out.push_back(Colours(encoding, decoded));
      ok = ok && decoded;
    };
  };
  std::vector<std::vector<uint32_t>> others;
  if (!ForEachFrame(*first, collect(frames)) || !ForEachFrame(*second, collect(others)) || !ok) {
    std::fprintf(stderr, "a frame of %s or %s does not read or decode\n", a.c_str(), b.c_str());
    return 2;
  }
  std::vector<uint8_t> previewA, previewB;
  bool decodedA = false, decodedB = false;
  if (first->ReadPreview(previewA) != Status::Ok || second->ReadPreview(previewB) != Status::Ok) return 2;
  frames.push_back(Colours(previewA, decodedA));
  others.push_back(Colours(previewB, decodedB));
  size_t differing = frames.size() == others.size() ? 0 : frames.size();
  for (size_t i = 0; i < frames.size() && i < others.size(); ++i) differing += frames[i] != others[i];
  std::printf("%zu %zu\n", frames.size(), differing);
  return differing == 0 && decodedA && decodedB ? 0 : 1;
}

int Extract(const std::string& map, const std::filesystem::path& dir) {
  std::unique_ptr<rzt2::MapFileReader> reader;
  if (rzt2::MapFileReader::Open(map, reader) != Status::Ok) return 2;
  uint64_t prefixes = 0, bodies = 0;
  const bool read =
      ForEachFrame(*reader, [&](size_t level, uint32_t column, uint32_t row, const rzt2::FrameIndex& index,
                                const std::vector<uint8_t>& frame) {
        if (column == 0 && row == 0) prefixes += index.Prefix().size();
        bodies += index.Ref(column, row).size;
        const rzt2::ImageFormat* format = rzt2::SniffFormat(frame);
        const std::string name = std::to_string(level) + "-" + std::to_string(row) + "-" +
                                 std::to_string(column) + "." +
                                 std::string(format != nullptr ? format->name : "bin");
        std::ofstream(dir / name, std::ios::binary)
            .write(reinterpret_cast<const char*>(frame.data()), static_cast<std::streamsize>(frame.size()));
      });
  rzt2::FrameRef preview;
  if (!read || reader->ReadPreviewRef(preview) != Status::Ok) return 2;
  std::printf("%llu %llu %u\n", static_cast<unsigned long long>(prefixes),
              static_cast<unsigned long long>(bodies), preview.size);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 3 && args[0] == "compare") return Compare(args[1], args[2]);
  if (args.size() == 3 && args[0] == "extract") return Extract(args[1], args[2]);
  std::fprintf(stderr, "usage: map_frames compare A B | extract MAP DIR\n");
  return 2;
}
