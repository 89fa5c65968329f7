// Decoded frames of one map file, kept by the viewer's window thread in a
// least-recently-used cache bounded in bytes. A frame that could not be
// had is kept too, with its cause, so that it is not read again.
#pragma once

#include <QImage>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <unordered_map>

#include "base/status.h"

namespace rzt2 {

// A frame: its zoom level index, column and row.
struct FrameKey {
  int level = 0;
  uint32_t column = 0;
  uint32_t row = 0;
  bool operator==(const FrameKey&) const = default;
};

struct FrameKeyHash {
  size_t operator()(const FrameKey& key) const {
    return std::hash<uint64_t>()((uint64_t{key.column} << 32 | key.row) * 8 +
                                 static_cast<uint64_t>(key.level));
  }
};

// A decoded frame, or, with an empty image, why there is none.
struct DecodedFrame {
  QImage image;
  Status status = Status::Ok;
};

class FrameCache {
 public:
  explicit FrameCache(size_t limitBytes) : limit_(limitBytes) {}

  // The frame, now the most recently used; null when it is not kept.
  const DecodedFrame* find(const FrameKey& key);
  // Keeps frame as the most recently used and drops the least recently used
  // until the cache is within its limit again. A frame larger than the
  // limit on its own is not kept: false.
  bool insert(const FrameKey& key, DecodedFrame frame);

  // What the frames kept take: their pixels and a fixed amount each.
  size_t bytes() const { return bytes_; }
  size_t limit() const { return limit_; }
  // The most bytes ever kept at once.
  size_t peakBytes() const { return peak_; }
  // Frames inserted since the cache was made.
  uint64_t insertions() const { return insertions_; }

 private:
  struct Entry {
    FrameKey key;
    DecodedFrame frame;
    size_t bytes;
  };
  std::list<Entry> entries_;  // most recently used first
  std::unordered_map<FrameKey, std::list<Entry>::iterator, FrameKeyHash> byKey_;
  size_t limit_;
  size_t bytes_ = 0;
  size_t peak_ = 0;
  uint64_t insertions_ = 0;
};

}  // namespace rzt2
