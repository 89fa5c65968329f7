#include "ui/viewer/frame_loader.h"

#include <QThread>
#include <algorithm>
#include <new>

#include "raster/codecs/image_formats.h"

namespace rzt2 {

namespace {

constexpr int kMaxWorkers = 4;

DecodedFrame failed(Status status) { return DecodedFrame{QImage(), status}; }

// Bitmap::ReadArgb gives 0xAARRGGBB words, which is QImage's ARGB32; opaque
// frames become RGB32, which Qt draws fastest.
DecodedFrame toImage(const Bitmap& bitmap) {
  QImage image(bitmap.Width(), bitmap.Height(), QImage::Format_ARGB32);
  if (image.isNull()) return failed(Status::OutOfMemory);
  bool opaque = true;
  for (int32_t y = 0; y < bitmap.Height(); ++y) {
    auto* line = reinterpret_cast<uint32_t*>(image.scanLine(y));
    bitmap.ReadArgb(0, y, bitmap.Width(), line);
    opaque =
        opaque && std::all_of(line, line + bitmap.Width(), [](uint32_t argb) { return argb >> 24 == 0xFF; });
  }
  if (opaque) {
    image.reinterpretAsFormat(QImage::Format_RGB32);
  } else {
    image.convertTo(QImage::Format_ARGB32_Premultiplied);
  }
  return DecodedFrame{std::move(image), Status::Ok};
}

}  // namespace

DecodedFrame decodeMapPicture(std::span<const uint8_t> bytes, const DecodeLimits& limits) {
  DecodedFrame frame = failed(Status::OutOfMemory);
  GuardMemory([&] {
    std::unique_ptr<Bitmap> bitmap;
    const Status status = DecodeFrameImage(bytes, limits, bitmap);
    frame = status == Status::Ok ? toImage(*bitmap) : failed(status);
    return Status::Ok;
  });
  return frame;
}

DecodedFrame decodeFrame(const MapFileReader& reader, const FrameIndex& index, uint32_t column,
                         uint32_t row) {
  const LevelEntry& level = index.Level();
  std::vector<uint8_t> bytes;
  if (const Status status = reader.ReadFrame(index, column, row, bytes); status != Status::Ok)
    return failed(status);
  // A frame is never larger than the frame size; anything claiming more is damage.
  DecodedFrame frame = decodeMapPicture(bytes, DecodeLimits{uint64_t{level.frameWidth} * level.frameHeight});
  if (frame.status == Status::Ok && (static_cast<uint32_t>(frame.image.width()) != level.frameWidth ||
                                     static_cast<uint32_t>(frame.image.height()) != level.frameHeight)) {
    return failed(Status::CorruptData);
  }
  return frame;
}

namespace {

int workerCount(int threads) {
  return threads > 0 ? threads : std::clamp(QThread::idealThreadCount(), 1, kMaxWorkers);
}

}  // namespace

FrameLoader::FrameLoader(std::shared_ptr<const MapFileReader> reader, int threads, QObject* parent)
    : QObject(parent), reader_(std::move(reader)), workers_(workerCount(threads)) {}

FrameLoader::~FrameLoader() { workers_.Stop(); }

void FrameLoader::request(std::vector<Request> wanted) {
  {
    const std::lock_guard lock(mutex_);
    waiting_.clear();
    for (Request& request : wanted) {
      if (!taken_.contains(request.key)) waiting_.push_back(std::move(request));
    }
  }
  postPulls();
}

void FrameLoader::loadPreview() {
  addTask([this] {
    std::vector<uint8_t> bytes;
    const Status status = reader_->ReadPreview(bytes);
    DecodedFrame preview =
        status == Status::Ok ? decodeMapPicture(bytes, DecodeLimits{kMaxPreviewPixels}) : failed(status);
    deliver([this, preview = std::move(preview)] { emit previewDecoded(preview); });
  });
}

void FrameLoader::readIndex(size_t levelPosition, const LevelEntry& level) {
  addTask([this, levelPosition, level] {
    auto index = std::make_shared<FrameIndex>();
    const Status status = GuardMemory([&] { return reader_->ReadFrameIndex(level, *index); });
    std::shared_ptr<const FrameIndex> read;
    if (status == Status::Ok) read = std::move(index);
    deliver([this, levelPosition, status, read] { emit indexRead(levelPosition, status, read); });
  });
}

void FrameLoader::addTask(std::function<void()> task) {
  {
    const std::lock_guard lock(mutex_);
    tasks_.push_back(std::move(task));
    ++tasksPending_;
  }
  postPulls();
}

void FrameLoader::postPulls() {
  size_t more = 0;
  {
    const std::lock_guard lock(mutex_);
    const size_t waiting = tasks_.size() + waiting_.size();
    if (waiting > pullsQueued_) more = waiting - pullsQueued_;
    pullsQueued_ += more;
  }
  for (size_t i = 0; i < more; ++i) workers_.Post([this] { pull(); });
}

void FrameLoader::deliver(std::function<void()> result) {
  QMetaObject::invokeMethod(
      this,
      [this, result = std::move(result)] {
        {
          const std::lock_guard lock(mutex_);
          --tasksPending_;
        }
        result();
      },
      Qt::QueuedConnection);
}

int FrameLoader::pending() const {
  const std::lock_guard lock(mutex_);
  return static_cast<int>(waiting_.size() + taken_.size()) + tasksPending_;
}

void FrameLoader::pull() {
  Request request;
  std::function<void()> task;
  {
    const std::lock_guard lock(mutex_);
    --pullsQueued_;
    if (!tasks_.empty()) {
      task = std::move(tasks_.front());
      tasks_.pop_front();
    } else if (!waiting_.empty()) {
      request = std::move(waiting_.front());
      waiting_.pop_front();
      taken_.insert(request.key);
    } else {
      return;  // what it was posted for was replaced
    }
  }
  if (task) {
    task();
    return;
  }
  DecodedFrame frame = decodeFrame(*reader_, *request.index, request.key.column, request.key.row);
  QMetaObject::invokeMethod(
      this,
      [this, key = request.key, frame = std::move(frame)] {
        {
          const std::lock_guard lock(mutex_);
          taken_.erase(key);
        }
        emit frameDecoded(key, frame);
      },
      Qt::QueuedConnection);
}

}  // namespace rzt2
