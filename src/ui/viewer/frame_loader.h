// FrameLoader decodes the frames of one map file on worker threads, which
// touch no widget. A request names the frames the window wants now, most
// wanted first, and replaces every frame still waiting, so that frames
// scrolled away before a worker took them are never read. Each decoded
// frame is delivered on the loader's own thread by frameDecoded.
#pragma once

#include <QObject>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <span>
#include <stop_token>
#include <thread>
#include <unordered_set>
#include <vector>

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
  // Waits for the frames being decoded; they are not delivered.
  ~FrameLoader() override;

  // A frame that a worker has already taken is not decoded again.
  void request(std::vector<Request> wanted);
  // Frames waiting or being decoded, not yet delivered.
  int pending() const;

 signals:
  void frameDecoded(const FrameKey& key, const DecodedFrame& frame);

 private:
  void work(const std::stop_token& stop);

  std::shared_ptr<const MapFileReader> reader_;
  mutable std::mutex mutex_;
  std::condition_variable_any wake_;
  std::deque<Request> waiting_;                       // most wanted first
  std::unordered_set<FrameKey, FrameKeyHash> taken_;  // by a worker, not yet delivered
  std::vector<std::jthread> workers_;
};

}  // namespace rzt2
