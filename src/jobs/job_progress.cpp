#include "jobs/job_progress.h"

#include "jobs/job_texts.h"
#include "mapfile/map_records.h"

namespace rzt2 {

namespace {
constexpr int32_t kFirstStageCode = 100;
}

void JobProgress::StartFile() {
  position_ = 0;
  host_.SetCurrentPosition(0);
}

void JobProgress::OnProgress(int32_t stageCode, int32_t percent) {
  if (percent == position_) return;
  position_ = percent;
  host_.SetCurrentPosition(percent);
  const int32_t level = stageCode - kFirstStageCode;
  if (level >= 0 && level < static_cast<int32_t>(kZoomLevels.size())) {
    const auto zoom = static_cast<int>(kZoomLevels[static_cast<size_t>(level)] / 100);
    host_.SetLabel(FormatText(kLabelWritingZoom, currentImagePath_, zoom));
  }
}

}  // namespace rzt2
