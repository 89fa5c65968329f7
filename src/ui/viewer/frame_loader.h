// FrameLoader reads and decodes one map file on worker threads, which touch
// no widget: the preview picture, a level's frame index, and frames. A
// request names the frames the window wants now, most wanted first, and
// replaces every frame still waiting, so that frames scrolled away before a
// worker took them are never read; the preview and the indexes go before
// any frame. Each result is delivered on the loader's own thread.
#pragma once

#include <QObject>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <unordered_set>
#include <vector>

#include "base/worker_queue.h"
#include "mapfile/map_file_reader.h"
#include "ui/viewer/frame_cache.h"

namespace rzt2 {

// A frame or preview decoded within limits as 32-bit pixels, or the
// decoder's status. Metafiles, which no map stores, are refused.
DecodedFrame decodeMapPicture(std::span<const uint8_t> bytes, const DecodeLimits& limits);
// The frame read through the reader and decoded within the level's frame
// size; a status instead when the reader or the decoder fails, or the
// picture is not frame-sized.
DecodedFrame decodeFrame(const MapFileReader& reader, const FrameIndex& index, uint32_t column, uint32_t row);

class FrameLoader final : public QObject {
  Q_OBJECT

 public:
  struct Request {
    FrameKey key;
    std::shared_ptr<const FrameIndex> index;  // of the frame's level
  };

  // threads: how many workers; 0 for one per core, at most four.
  FrameLoader(std::shared_ptr<const MapFileReader> reader, int threads, QObject* parent = nullptr);
  // Drops what waits and waits for the frames being decoded; they are not
  // delivered.
  ~FrameLoader() override;

  // A frame that a worker has already taken is not decoded again.
  void request(std::vector<Request> wanted);
  // The preview, delivered by previewDecoded.
  void loadPreview();
  // The frame index of level, delivered by indexRead with levelPosition.
  void readIndex(size_t levelPosition, const LevelEntry& level);
  // Frames, previews and indexes waiting or being read, not yet delivered.
  int pending() const;

 signals:
  void frameDecoded(const FrameKey& key, const DecodedFrame& frame);
  void previewDecoded(const DecodedFrame& preview);
  void indexRead(size_t levelPosition, Status status, const std::shared_ptr<const FrameIndex>& index);

 private:
  // Queues as many pulls as there is work waiting, minus those queued.
  void postPulls();
  // On a worker: the most urgent work waiting, a task before any frame.
  void pull();
  // Runs task on a worker before any frame; it delivers through deliver.
  void addTask(std::function<void()> task);
  // Runs deliver on the loader's thread, then counts the task as done.
  void deliver(std::function<void()> result);

  std::shared_ptr<const MapFileReader> reader_;
  mutable std::mutex mutex_;
  std::deque<std::function<void()>> tasks_;           // the preview and indexes
  int tasksPending_ = 0;                              // queued or running
  std::deque<Request> waiting_;                       // most wanted first
  std::unordered_set<FrameKey, FrameKeyHash> taken_;  // by a worker, not yet delivered
  size_t pullsQueued_ = 0;
  WorkerQueue workers_;  // last: it stops first
};

}  // namespace rzt2
