#include "jobs/file_jobs.h"

#include <sys/stat.h>

#include "imaging/fixed_palette.h"
#include "imaging/quantizer.h"
#include "raster/codecs/encoder_list.h"
#include "raster/scratch_stream.h"

namespace rzt2 {

namespace {

// A picture rebuilt from a map file is encoded again through an 8-bit PNG,
// as the picture a map file shows is 8-bit; failures leave no picture. The
// encoding stays in memory: a full temporary folder must not fail the file.
// Decoding it again applies the conversion's limits to the map's picture.
void ReencodeThroughPng(SourceLoader& loader, const DecodeLimits& limits) {
  ImageHandle quantized = QuantizeImage(loader.CurrentImage());
  loader.ReplaceImage(ImageHandle());
  ScratchStream png;
  if (quantized.IsNull() || EncodePng(*quantized.GetBitmap(), png) != Status::Ok) return;
  loader.ReplaceImage(ImageHandle::FromStream(png, limits));
}

// By device and inode: "./a.png", a hard link or a symlink name the same file.
bool IsSameFile(const std::string& a, const std::string& b) {
  struct stat infoA {
  }, infoB{};
  return ::stat(a.c_str(), &infoA) == 0 && ::stat(b.c_str(), &infoB) == 0 && infoA.st_dev == infoB.st_dev &&
         infoA.st_ino == infoB.st_ino;
}

// The last status of a picture that failed, which is never Ok.
Status FailureOf(ImageHandle& image) {
  const Status status = image.LastStatus();
  return status == Status::Ok ? Status::GenericError : status;
}

Status LoadOrReport(const std::string& name, SourceLoader& loader, JobHost& host,
                    const DecodeLimits& limits = {}) {
  loader.LoadSource(name, false, limits);
  if (!loader.CurrentImage().IsNull()) return Status::Ok;
  host.ShowError(FormatText(kErrorLoadingFile, name));
  return FailureOf(loader.CurrentImage());
}

}  // namespace

Status ConvertFile(const JobRequest& request, const std::string& name, SourceLoader& loader,
                   JobProgress& progress, JobHost& host) {
  host.SetLabel(FormatText(kLabelLoading, name));
  progress.StartFile();
  const bool isMapFile = HasMapFileExtension(name);
  // A picture already held (say, for the preview) is read again from disk.
  if (!isMapFile && name == loader.CurrentImagePath()) loader.ForgetPath();
  // A picture whose frames would make a map that readers refuse fails here,
  // as a picture that cannot be loaded.
  const DecodeLimits limits = MapWriter::ConversionLimits(request.params);
  if (const Status loaded = LoadOrReport(name, loader, host, limits); loaded != Status::Ok) return loaded;
  const ColorPalette palette = PaletteForImage(loader.CurrentImage());
  if (isMapFile) {
    ReencodeThroughPng(loader, limits);
    if (loader.CurrentImage().IsNull()) {
      host.ShowError(FormatText(kErrorLoadingFile, name));
      return FailureOf(loader.CurrentImage());
    }
  }
  // A large picture loads for seconds; a stop asked meanwhile ends the file here.
  if (request.stop.stop_requested()) return Status::Cancelled;
  const std::string outputName = OutputName(request, name);
  host.SetLabel(FormatText(kLabelCreatingPreview, FileNameOf(outputName)));
  const std::string target = OutputPath(outputName, request.placement);
  auto writer = MapWriter::Create(request.params, &palette, &progress, request.stop);
  ImageHandle& picture = loader.CurrentImage();
  picture.LastStatus();  // what the picture recorded before is not this write's cause
  Status status = Status::OutOfMemory;
  if (writer) {
    status = writer->WriteMapFile(picture, ResolvePath(request.sourceFolder, target)) ? Status::Ok
                                                                                      : FailureOf(picture);
  }
  if (status != Status::Ok && status != Status::Cancelled)
    host.ShowError(FormatText(kErrorSavingFile, target));
  return status;
}

Status ExportFile(const JobRequest& request, const std::string& name, SourceLoader& loader,
                  JobProgress& progress, JobHost& host) {
  host.SetLabel(FormatText(kLabelLoading, name));
  progress.StartFile();
  if (const Status loaded = LoadOrReport(name, loader, host); loaded != Status::Ok) return loaded;
  if (request.stop.stop_requested()) return Status::Cancelled;
  const std::string outputName = OutputName(request, name);
  host.SetLabel(FormatText(kLabelSaving, FileNameOf(outputName)));
  const std::string target = OutputPath(outputName, request.placement);
  ClassId encoder;
  const std::string mimeType = std::string("image/") + kExportFormatNames[request.exportFormat];
  Status status = Status::InvalidParameter;
  // The picture saved is never all the source held (frames, pages, colours,
  // quality): an export must not replace the file it was made from.
  if (IsSameFile(name, target)) {
    status = Status::TargetIsSource;
  } else if (FindEncoder(mimeType, encoder) >= 0) {
    // GIF holds 256 colours at most: such exports are reduced first.
    ImageHandle quantized;
    if (request.exportFormat == 0) quantized = QuantizeImage(loader.CurrentImage());
    const ImageHandle& picture = request.exportFormat == 0 ? quantized : loader.CurrentImage();
    if (!picture.IsNull()) {
      status = SaveImageToFile(*picture.GetBitmap(), ResolvePath(request.sourceFolder, target), encoder);
    }
  }
  if (status != Status::Ok) host.ShowError(FormatText(kErrorSavingFile, target));
  return status;
}

}  // namespace rzt2
