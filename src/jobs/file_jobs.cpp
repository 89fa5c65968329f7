#include "jobs/file_jobs.h"

#include <sys/stat.h>

#include "imaging/fixed_palette.h"
#include "imaging/quantizer.h"
#include "raster/codecs/image_formats.h"
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

bool LoadOrReport(const std::string& name, SourceLoader& loader, JobHost& host,
                  const DecodeLimits& limits = {}) {
  loader.LoadSource(name, false, limits);
  if (!loader.CurrentImage().IsNull()) return true;
  host.ShowError(FormatText(kErrorLoadingFile, name));
  return false;
}

}  // namespace

bool ConvertFile(const JobRequest& request, const std::string& name, SourceLoader& loader,
                 JobProgress& progress, JobHost& host) {
  host.SetLabel(FormatText(kLabelLoading, name));
  progress.StartFile();
  const bool isMapFile = HasMapFileExtension(name);
  // A picture already held (say, for the preview) is read again from disk.
  if (!isMapFile && name == loader.CurrentImagePath()) loader.ForgetPath();
  // A picture whose frames would make a map that readers refuse fails here,
  // as a picture that cannot be loaded.
  const DecodeLimits limits = MapWriter::ConversionLimits(request.params);
  if (!LoadOrReport(name, loader, host, limits)) return false;
  const ColorPalette palette = PaletteForImage(loader.CurrentImage());
  if (isMapFile) {
    ReencodeThroughPng(loader, limits);
    if (loader.CurrentImage().IsNull()) {
      host.ShowError(FormatText(kErrorLoadingFile, name));
      return false;
    }
  }
  const std::string outputName = OutputName(request, name);
  host.SetLabel(FormatText(kLabelCreatingPreview, FileNameOf(outputName)));
  const std::string target = OutputPath(outputName, request.placement);
  auto writer = MapWriter::Create(request.params, &palette, &progress);
  if (!writer || !writer->WriteMapFile(loader.CurrentImage(), ResolvePath(request.sourceFolder, target))) {
    host.ShowError(FormatText(kErrorSavingFile, target));
    return false;
  }
  return true;
}

bool ExportFile(const JobRequest& request, const std::string& name, SourceLoader& loader,
                JobProgress& progress, JobHost& host) {
  host.SetLabel(FormatText(kLabelLoading, name));
  progress.StartFile();
  if (!LoadOrReport(name, loader, host)) return false;
  const std::string outputName = OutputName(request, name);
  host.SetLabel(FormatText(kLabelSaving, FileNameOf(outputName)));
  const std::string target = OutputPath(outputName, request.placement);
  const ImageFormat& format = *FrameFormat(request.exportFormat);  // the runner refuses any other
  Status status = Status::InvalidParameter;
  // The picture saved is never all the source held (frames, pages, colours,
  // quality): an export must not replace the file it was made from.
  if (IsSameFile(name, target)) {
    status = Status::TargetIsSource;
  } else {
    ImageHandle quantized;
    if (format.quantizeForExport) quantized = QuantizeImage(loader.CurrentImage());
    const ImageHandle& picture = format.quantizeForExport ? quantized : loader.CurrentImage();
    if (!picture.IsNull()) {
      status = SaveImageToFile(*picture.GetBitmap(), ResolvePath(request.sourceFolder, target), format);
    }
  }
  if (status != Status::Ok) {
    host.ShowError(FormatText(kErrorSavingFile, target));
    return false;
  }
  return true;
}

}  // namespace rzt2
