#include "jobs/job_progress.h"

#include <algorithm>
#include <filesystem>

#include "jobs/job_texts.h"

namespace rzt2 {

namespace {
constexpr int32_t kFirstStageCode = 100;

int ZoomShown(size_t level) { return static_cast<int>(kZoomLevels[level] / 100); }
}  // namespace

BatchMeter::BatchMeter(JobHost& host, const JobRequest& request) : host_(host), request_(request) {}

size_t BatchMeter::AddFile(const std::string& name, uint32_t pages) {
  std::error_code error;
  const uintmax_t bytes = std::filesystem::file_size(ResolvePath(request_.sourceFolder, name), error);
  std::lock_guard lock(mutex_);
  FileWork work;
  work.name = name;
  // Every file weighs something.
  work.bytes = std::max<uint64_t>((error ? 0 : bytes) / std::max<uint32_t>(pages, 1), 1);
  unknownBytes_ += work.bytes;
  files_.emplace(fileCount_, std::move(work));
  return fileCount_++;
}

void BatchMeter::ListEnded() {
  std::lock_guard lock(mutex_);
  listEnded_ = true;
  if (fileCount_ > 0 && files_.empty()) Report(lastEnded_, 0);
}

uint64_t BatchMeter::Estimate(uint64_t bytes) const {
  if (knownBytes_ == 0) return bytes;
  return static_cast<uint64_t>(static_cast<double>(bytes) * static_cast<double>(knownWork_) /
                               static_cast<double>(knownBytes_));
}

void BatchMeter::FileStarted(size_t file) {
  std::lock_guard lock(mutex_);
  if (const auto it = files_.find(file); it != files_.end()) Report(it->second.name, 0);
}

void BatchMeter::FileLoaded(size_t file, uint32_t width, uint32_t height) {
  std::lock_guard lock(mutex_);
  const auto it = files_.find(file);
  if (it == files_.end() || it->second.total) return;  // counted once
  FileWork& work = it->second;
  const uint64_t pixels = uint64_t{width} * height;
  work.beforeLevels = pixels;
  uint64_t total = 2 * pixels;  // an export decodes and encodes the picture
  if (request_.kind == JobKind::Convert) {
    const EncoderParams& params = request_.params;
    work.beforeLevels +=
        static_cast<uint64_t>(params.MiniFrameSizeX) * static_cast<uint64_t>(params.MiniFrameSizeY);
    total = work.beforeLevels;
    const uint64_t framePixels =
        static_cast<uint64_t>(params.FrameSizeX) * static_cast<uint64_t>(params.FrameSizeY);
    for (size_t i = 0; i < kZoomLevels.size(); ++i) {
      if (!StoresLevel(params, i)) continue;
      const FrameGrid grid = LevelGrid(params, width, height, kZoomLevels[i]);
      work.levels[i] = uint64_t{grid.columns} * grid.rows * framePixels;
      total += work.levels[i];
    }
  }
  work.total = total;
  unknownBytes_ -= work.bytes;
  fixedTotal_ += total;
  knownBytes_ += work.bytes;
  knownWork_ += total;
  Advance(work, pixels);
  Report(work.name, 0);
}

void BatchMeter::LevelWritten(size_t file, size_t level, int32_t percent) {
  std::lock_guard lock(mutex_);
  const auto it = files_.find(file);
  if (it == files_.end() || !it->second.total) return;
  FileWork& work = it->second;
  uint64_t done = work.beforeLevels;
  for (size_t i = 0; i < level; ++i) done += work.levels[i];
  done += work.levels[level] * static_cast<uint64_t>(std::clamp(percent, 0, 100)) / 100;
  Advance(work, done);
  Report(work.name, ZoomShown(level));
}

void BatchMeter::FileEnded(size_t file) {
  std::lock_guard lock(mutex_);
  const auto it = files_.find(file);
  if (it == files_.end()) return;
  FileWork& work = it->second;
  if (!work.total) {  // never loaded: it weighs its estimate
    work.total = Estimate(work.bytes);
    unknownBytes_ -= work.bytes;
    fixedTotal_ += *work.total;
  }
  Advance(work, *work.total);
  ++filesDone_;
  lastEnded_ = std::move(work.name);
  files_.erase(it);  // an endless list keeps only the files that run
  Report(lastEnded_, 0);
}

void BatchMeter::Advance(FileWork& work, uint64_t done) {
  if (done <= work.done) return;
  doneSum_ += done - work.done;
  work.done = done;
}

void BatchMeter::Report(const std::string& file, int zoom) {
  const uint64_t total = fixedTotal_ + Estimate(unknownBytes_);
  const auto fileCount = static_cast<int>(fileCount_);
  if (listEnded_ && files_.empty()) {
    percent_ = 100;
  } else if (total > 0) {
    // Short of 100 while more names may come: it never goes back.
    const double ratio = 100.0 * static_cast<double>(doneSum_) / static_cast<double>(total);
    percent_ = std::max(percent_, std::min(ratio, listEnded_ ? 100.0 : 99.9));
  }
  host_.ShowBatchProgress(BatchProgress{filesDone_, fileCount, file, zoom, doneSum_, total, percent_});
}

void JobProgress::BeginFile(size_t file) {
  file_ = file;
  batch_.FileStarted(file);
}

void JobProgress::StartFile(uint32_t page) {
  page_ = page;
  position_ = 0;
  host_.SetCurrentPosition(0);
}

void JobProgress::OnProgress(int32_t stageCode, int32_t percent) {
  const int32_t level = stageCode - kFirstStageCode;
  const bool isLevel = level >= 0 && level < static_cast<int32_t>(kZoomLevels.size());
  if (isLevel) batch_.LevelWritten(file_, static_cast<size_t>(level), percent);
  if (percent == position_) return;
  position_ = percent;
  host_.SetCurrentPosition(percent);
  if (isLevel)
    host_.SetLabel(FormatText(kLabelWritingZoom, FileSubject(currentImagePath_, page_),
                              ZoomShown(static_cast<size_t>(level))));
}

}  // namespace rzt2
