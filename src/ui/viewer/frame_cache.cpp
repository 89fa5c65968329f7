#include "ui/viewer/frame_cache.h"

#include <algorithm>

namespace rzt2 {

namespace {
// The list and map nodes and the image's header, roughly.
constexpr size_t kEntryBytes = 256;
}  // namespace

const DecodedFrame* FrameCache::find(const FrameKey& key) {
  const auto found = byKey_.find(key);
  if (found == byKey_.end()) return nullptr;
  entries_.splice(entries_.begin(), entries_, found->second);
  return &found->second->frame;
}

bool FrameCache::insert(const FrameKey& key, DecodedFrame frame) {
  const size_t bytes = static_cast<size_t>(frame.image.sizeInBytes()) + kEntryBytes;
  if (bytes > limit_) return false;
  if (const auto old = byKey_.find(key); old != byKey_.end()) {
    bytes_ -= old->second->bytes;
    entries_.erase(old->second);
    byKey_.erase(old);
  }
  while (!entries_.empty() && bytes_ + bytes > limit_) {
    bytes_ -= entries_.back().bytes;
    byKey_.erase(entries_.back().key);
    entries_.pop_back();
  }
  entries_.push_front(Entry{key, std::move(frame), bytes});
  byKey_[key] = entries_.begin();
  bytes_ += bytes;
  peak_ = std::max(peak_, bytes_);
  ++insertions_;
  return true;
}

}  // namespace rzt2
