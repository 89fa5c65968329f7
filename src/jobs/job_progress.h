// Progress of a job: per file, a map writer's per-frame progress turned
// into the current bar and the zoom label (leaving both alone while the
// percentage stands still); for the whole job, the work of every file
// summed into one BatchProgress.
#pragma once

#include <array>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>

#include "jobs/job_runner.h"
#include "mapfile/map_records.h"
#include "mapfile/map_writer.h"

namespace rzt2 {

// The whole job's progress, shared by its workers: files are named by the
// index AddFile gave them. Files are added as the job takes them, so the
// file count and the total grow; the job reaches 100 % once its list has
// ended and every file added has ended.
class BatchMeter {
 public:
  BatchMeter(JobHost& host, const JobRequest& request);

  // A file, or one of `pages` pages of it (each weighing its share of the
  // file's bytes until it is loaded), taken into the job.
  size_t AddFile(const std::string& name, uint32_t pages = 1);
  // No file will be added any more.
  void ListEnded();
  void FileStarted(size_t file);
  // The file's work is known once its picture is.
  void FileLoaded(size_t file, uint32_t width, uint32_t height);
  // percent of the frames of the level with index `level` are written.
  void LevelWritten(size_t file, size_t level, int32_t percent);
  // Done, failed or not: its work counts as done.
  void FileEnded(size_t file);

 private:
  struct FileWork {
    std::string name;
    uint64_t bytes = 0;             // of the file, for the estimate until it is loaded
    std::optional<uint64_t> total;  // known once loaded, or fixed when it ended without
    uint64_t done = 0;
    uint64_t beforeLevels = 0;  // decoding and the preview
    std::array<uint64_t, kZoomLevels.size()> levels{};
  };

  // The work of files of that many bytes not loaded yet.
  uint64_t Estimate(uint64_t bytes) const;
  void Advance(FileWork& work, uint64_t done);
  void Report(const std::string& file, int zoom);

  JobHost& host_;
  const JobRequest& request_;
  std::unordered_map<size_t, FileWork> files_;  // those added that have not ended
  size_t fileCount_ = 0;
  bool listEnded_ = false;
  std::string lastEnded_;
  int filesDone_ = 0;
  uint64_t doneSum_ = 0;
  uint64_t fixedTotal_ = 0;                  // of the files loaded or ended
  uint64_t unknownBytes_ = 0;                // of the others
  uint64_t knownWork_ = 0, knownBytes_ = 0;  // of the files loaded: the estimate's ratio
  double percent_ = 0;
  std::mutex mutex_;
};

class JobProgress final : public ProgressSink {
 public:
  // currentImagePath is read at each call: the zoom label names the file
  // whose picture is loaded.
  JobProgress(JobHost& host, const std::string& currentImagePath, BatchMeter& batch)
      : host_(host), currentImagePath_(currentImagePath), batch_(batch) {}

  // The file with this index in the job's meter starts, and ends.
  void BeginFile(size_t file);
  void EndFile() { batch_.FileEnded(file_); }
  // A file's work starts: the current bar goes back to 0. The zoom label
  // names page (from 1) too, for a page of a file of several; 0 for none.
  void StartFile(uint32_t page = 0);
  void PictureLoaded(uint32_t width, uint32_t height) { batch_.FileLoaded(file_, width, height); }
  void OnProgress(int32_t stageCode, int32_t percent) override;

 private:
  JobHost& host_;
  const std::string& currentImagePath_;
  BatchMeter& batch_;
  size_t file_ = 0;
  uint32_t page_ = 0;
  int32_t position_ = 0;
};

}  // namespace rzt2
