// RowSink: what a decoder that produces rows top to bottom tells about them
// while it decodes, so that work on the rows can start before the whole
// picture is there (PyramidBuilder). Decoders that do not produce rows in
// order (interlaced, bottom-up, tiled) tell nothing.
#pragma once

#include <cstdint>

#include "raster/bitmap.h"

namespace rzt2 {

class RowSink {
 public:
  // Rows [0, rows) of picture hold their final pixels; called on the
  // decoding thread with rows growing, the last time with the height.
  virtual void RowsDone(const Bitmap& picture, int32_t rows) noexcept = 0;
  // The picture is about to go away before its last row: stop reading it
  // before returning.
  virtual void Abandon() noexcept = 0;

 protected:
  ~RowSink() = default;
};

// A decoder's report to an optional sink. Declared after the bitmap, it
// abandons the sink when the decoder returns without having called
// Succeeded (a failure, even after the last row), so that nothing reads the
// bitmap once it is gone.
class RowReport {
 public:
  RowReport(RowSink* sink, const Bitmap& picture) : sink_(sink), picture_(picture) {}
  ~RowReport() {
    if (sink_ != nullptr && !succeeded_) sink_->Abandon();
  }
  RowReport(const RowReport&) = delete;
  RowReport& operator=(const RowReport&) = delete;

  void Done(int32_t rows) noexcept {
    if (sink_ != nullptr) sink_->RowsDone(picture_, rows);
  }
  // The picture is decoded and goes to the caller.
  void Succeeded() { succeeded_ = true; }

 private:
  RowSink* sink_;
  const Bitmap& picture_;
  bool succeeded_ = false;
};

}  // namespace rzt2
