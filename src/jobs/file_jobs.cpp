#include "jobs/file_jobs.h"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <vector>

#include "base/memory_budget.h"
#include "imaging/adaptive_palette.h"
#include "imaging/exact_color_memo.h"
#include "imaging/fixed_palette.h"
#include "imaging/quantizer.h"
#include "io/file_io.h"
#include "io/scratch_stream.h"
#include "mapfile/map_file_reader.h"
#include "raster/codecs/image_formats.h"

namespace rzt2 {

namespace {

// A picture rebuilt from a map file is encoded again through an 8-bit PNG,
// as the picture a map file shows is 8-bit; failures leave no picture. The
// encoding stays in memory: a full temporary folder must not fail the file.
// Decoding it again applies the conversion's limits to the map's picture.
Status ReencodeThroughPng(SourceLoader& loader, const DecodeLimits& limits) {
  ImageHandle quantized = QuantizeImage(loader.CurrentImage());
  loader.ReplaceImage(ImageHandle());
  if (quantized.IsNull()) return quantized.LastStatus();
  ScratchStream png;
  if (const Status status = EncodePng(*quantized.GetBitmap(), png); status != Status::Ok) return status;
  loader.ReplaceImage(ImageHandle::FromStream(png, limits));
  return loader.CurrentImage().IsNull() ? loader.CurrentImage().LastStatus() : Status::Ok;
}

// The picture reduced to 256 colours: with the built-in palette (or its
// own) as map frames are, or with a palette fitted to it.
ImageHandle QuantizeForExport(ImageHandle& image, const JobRequest& request, const FileResources& resources) {
  if (request.params.PaletteMode != kPaletteAdaptive) return QuantizeImage(image);
  ColorPalette palette;
  if (const Status status = PaletteForMap(image, true, resources.pool, palette); status != Status::Ok) {
    return ImageHandle::Failed(status);
  }
  ExactColorMemo memo = ExactColorMemo::Create();
  if (!memo) return ImageHandle::Failed(Status::OutOfMemory);
  return memo.QuantizedCopy(image, palette);
}

// By device and inode: "./a.png", a hard link or a symlink name the same file.
bool IsSameFile(const std::string& a, const std::string& b) {
  struct stat infoA {
  }, infoB{};
  return ::stat(a.c_str(), &infoA) == 0 && ::stat(b.c_str(), &infoB) == 0 && infoA.st_dev == infoB.st_dev &&
         infoA.st_ino == infoB.st_ino;
}

// Anything at path but a folder, a symlink itself rather than what it names.
bool IsTaken(const std::string& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

Status Report(JobHost& host, const char* message, const std::string& subject, Status cause,
              std::string detail = {}) {
  host.ShowError({FormatText(message, subject), subject, cause, std::move(detail)});
  return cause;
}

// A picture the export format cannot describe: its size and the format's limit.
std::optional<std::string> OverFormatLimit(const ImageFormat& format, uint64_t width, uint64_t height) {
  if (FitsFormat(format, width, height)) return std::nullopt;
  return FormatLimitCause(format.name, width, height, format.maxSide);
}

// The limit checked from a map file's header, before any frame is read;
// a file that cannot be opened is left to the load to report.
std::optional<std::string> MapOverFormatLimit(const std::string& path, const ImageFormat& format) {
  std::unique_ptr<MapFileReader> reader;
  if (MapFileReader::Open(path, reader) != Status::Ok) return std::nullopt;
  const MapImageSize size = MapImageSizeOf(reader->Header());
  return OverFormatLimit(format, size.width, size.height);
}

// What a failed load's status cannot say alone, in the browser's build: the
// format it cannot draw, by the file's leading bytes (more than any
// signature reaches), or the largest picture its memory takes.
std::string LoadFailureDetail(const std::string& path, Status status) {
  if (status == Status::OverMemoryBudget) {
    return OverMemoryBudgetCause(PixelsWithinBudget(MemoryBudget::Process().Limit()));
  }
  if (status != Status::NeedsDesktopProgram) return {};
  constexpr uint64_t kHeadBytes = 8192;
  UniqueFd file;
  uint64_t size = 0;
  std::vector<uint8_t> head;
  if (OpenForReading(path, file, size) != Status::Ok) return {};
  head.resize(static_cast<size_t>(std::min(size, kHeadBytes)));
  if (ReadAllAt(file.Get(), head, 0) != Status::Ok) return {};
  const ImageFormat* format = SniffFormat(head);
  return format != nullptr ? NeedsDesktopProgramCause(format->name) : std::string();
}

Status ReportLoadFailure(JobHost& host, const JobRequest& request, const std::string& name, Status status) {
  return Report(host, kErrorLoadingFile, name, status,
                LoadFailureDetail(ResolvePath(request.sourceFolder, name), status));
}

Status Load(const std::string& name, SourceLoader& loader, const FileResources& resources,
            const DecodeLimits& limits = {}, ThreadPool* copiesPool = nullptr) {
  loader.LoadSource(name, false, limits, copiesPool);
  const Bitmap* picture = loader.CurrentImage().GetBitmap();
  if (picture == nullptr) return loader.CurrentImage().LastStatus();
  if (resources.pictureLoaded) resources.pictureLoaded(picture->MemoryBytes());
  return Status::Ok;
}

}  // namespace

Status ConvertFile(const JobRequest& request, const std::string& name, uint32_t page, SourceLoader& loader,
                   JobProgress& progress, JobHost& host, const FileResources& resources) {
  // Every step names the source, and the page of a file of several.
  const uint32_t shownPage = page > 0 ? page : (request.page > 1 ? request.page : 0);
  const std::string subject = FileSubject(name, shownPage);
  host.SetLabel(FormatText(kLabelLoading, subject));
  progress.StartFile(shownPage);
  const bool isMapFile = HasMapFileExtension(name);
  // A picture already held (say, for the preview) is read again from disk.
  if (!isMapFile && name == loader.CurrentImagePath()) loader.ForgetPath();
  // A picture whose frames would make a map that readers refuse fails here,
  // as a picture that cannot be loaded.
  DecodeLimits limits = MapWriter::ConversionLimits(request.params);
  limits.page = page > 0 ? page : request.page;
  limits.dpi = request.dpi;
  // The frames' threads are idle while the picture decodes.
  if (resources.pool != nullptr) limits.threads = static_cast<uint32_t>(resources.pool->Threads()) + 1;
  limits.pool = resources.pool;
  // Every level and the preview are drawn scaled down from the picture.
  if (const Status status = Load(name, loader, resources, limits, resources.pool); status != Status::Ok) {
    return ReportLoadFailure(host, request, name, status);
  }
  progress.PictureLoaded(loader.CurrentImage().Width(), loader.CurrentImage().Height());
  // Chosen from the picture as loaded: a map file's own palette, before
  // its picture is encoded again.
  ColorPalette palette;
  if (const Status status = PaletteForMap(
          loader.CurrentImage(), request.params.PaletteMode == kPaletteAdaptive, resources.pool, palette);
      status != Status::Ok) {
    return Report(host, kErrorLoadingFile, name, status);
  }
  if (isMapFile) {
    if (const Status status = ReencodeThroughPng(loader, limits); status != Status::Ok) {
      return Report(host, kErrorLoadingFile, name, status);
    }
  }
  // A large picture loads for seconds; a stop asked meanwhile ends the file here.
  if (request.stop.stop_requested()) return Status::Cancelled;
  const std::string outputName = OutputName(request, name, page);
  host.SetLabel(FormatText(kLabelCreatingPreview, subject));
  const std::string target = OutputPath(outputName, request.placement);
  auto writer = MapWriter::Create(request.params, &palette, &progress, request.stop, resources.pool);
  const Status written =
      writer ? writer->WriteMapFile(loader.CurrentImage(), ResolvePath(request.sourceFolder, target))
             : Status::OutOfMemory;
  if (written != Status::Ok && written != Status::Cancelled) {
    return Report(host, kErrorSavingFile, target, written);
  }
  // As an export of it does: the map is written, white where the source's
  // frames are damaged, and the file fails.
  if (const MapImageDamage& damage = loader.Damage(); written == Status::Ok && damage.damaged > 0) {
    return Report(host, kErrorLoadingFile, name, Status::CorruptData,
                  DamagedFramesCause(damage.damaged, damage.frames));
  }
  return written;
}

Status MakeOutputFolder(const JobRequest& request, JobHost& host) {
  if (request.placement.nextToSource || request.placement.folder.empty()) return Status::Ok;
  std::string folder = request.placement.folder;
  // Named as given, without the separator that is put before file names.
  if (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  std::error_code error;
  std::filesystem::create_directories(ResolvePath(request.sourceFolder, folder), error);
  if (!error) return Status::Ok;
  // The status of ENOTDIR would say "file not found": a file is in the way.
  const bool fileInTheWay = error == std::errc::not_a_directory || error == std::errc::file_exists;
  return Report(host, kErrorCreatingFolder, folder, StatusFromErrno(error.value(), Status::WriteFailed),
                fileInTheWay ? "a file is in the way" : "");
}

Status ExportFile(const JobRequest& request, const std::string& name, SourceLoader& loader,
                  JobProgress& progress, JobHost& host, const FileResources& resources) {
  host.SetLabel(FormatText(kLabelLoading, name));
  progress.StartFile();
  const ImageFormat& format = *FrameFormat(request.exportFormat);  // the runner refuses any other
  const std::string outputName = OutputName(request, name);
  const std::string target = OutputPath(outputName, request.placement);
  const std::string sourcePath = ResolvePath(request.sourceFolder, name);
  if (HasMapFileExtension(name) && name != loader.CurrentImagePath()) {
    if (auto over = MapOverFormatLimit(sourcePath, format)) {
      return Report(host, kErrorSavingFile, target, Status::TooLarge, std::move(*over));
    }
  }
  const std::string targetPath = ResolvePath(request.sourceFolder, target);
  // An earlier picture of the output's name is never replaced unasked; the
  // question comes before a large picture takes its time to load. The file
  // it was made from is refused below, whatever the answer.
  std::optional<Replacement> replacement;
  if (IsTaken(targetPath) && !IsSameFile(sourcePath, targetPath)) {
    replacement = Replacement{target, IsTaken(targetPath + ".bak") ? std::string() : target + ".bak"};
    switch (host.AskReplace(*replacement)) {
      case ReplaceAnswer::Replace:
        break;
      case ReplaceAnswer::Skip:
        return Status::Ok;
      case ReplaceAnswer::Cancel:
        return Status::Cancelled;
    }
  }
  if (const Status status = Load(name, loader, resources); status != Status::Ok) {
    return ReportLoadFailure(host, request, name, status);
  }
  ImageHandle& image = loader.CurrentImage();
  progress.PictureLoaded(image.Width(), image.Height());
  if (request.stop.stop_requested()) return Status::Cancelled;
  if (auto over = OverFormatLimit(format, static_cast<uint64_t>(image.Width()),
                                  static_cast<uint64_t>(image.Height()))) {
    return Report(host, kErrorSavingFile, target, Status::TooLarge, std::move(*over));
  }
  host.SetLabel(FormatText(kLabelSaving, name));
  Status status = Status::Ok;
  // The picture saved is never all the source held (frames, pages, colours,
  // quality): an export must not replace the file it was made from. Any
  // other earlier file is kept as a backup, as a conversion keeps it.
  if (IsSameFile(sourcePath, targetPath)) {
    status = Status::TargetIsSource;
  } else {
    ImageHandle quantized;
    if (format.quantizeForExport) quantized = QuantizeForExport(image, request, resources);
    ImageHandle& picture = format.quantizeForExport ? quantized : image;
    status = picture.IsNull()
                 ? picture.LastStatus()
                 : SaveImageToFile(*picture.GetBitmap(), targetPath, format, EarlierFile::KeepAsBackup);
  }
  if (status != Status::Ok) return Report(host, kErrorSavingFile, target, status);
  if (replacement) host.Replaced(*replacement);
  // The picture is written, white where frames are damaged, and the file
  // fails: its picture is not all the map held.
  if (const MapImageDamage& damage = loader.Damage(); damage.damaged > 0) {
    return Report(host, kErrorLoadingFile, name, Status::CorruptData,
                  DamagedFramesCause(damage.damaged, damage.frames));
  }
  return Status::Ok;
}

}  // namespace rzt2
