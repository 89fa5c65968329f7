// The preview of the focused list item, loaded when the focus has rested
// for the timer's interval, on the worker: a large picture takes seconds.
#include <QLabel>
#include <QMetaObject>
#include <QTimer>
#include <algorithm>
#include <filesystem>
#include <optional>
#include <thread>

#include "app/main_dialog.h"
#include "imaging/adaptive_palette.h"
#include "mapfile/level_as_written.h"
#include "ui/converter/file_list.h"
#include "ui/converter/preview_pane.h"

namespace rzt2 {

namespace {

// "Zoom 25 %, built-in palette, gif frames": what a picture shown as a map
// is made of.
QString describeAsMap(const Bitmap& picture, const EncoderParams& params, size_t level) {
  const char* palette = KeepsItsOwnPalette(picture)              ? "its own palette"
                        : params.PaletteMode == kPaletteAdaptive ? "fitted palette"
                                                                 : "built-in palette";
  const ImageFormat* format = FrameFormat(params.EncoderCode);
  return QStringLiteral("Zoom %1 %, %2, %3 frames")
      .arg(kZoomLevels[level] / 100)
      .arg(QLatin1String(palette),
           format ? QString::fromLatin1(format->name.data(), static_cast<qsizetype>(format->name.size()))
                  : QString());
}

// A loaded picture as the map written with params holds it, at the level
// that a pane of paneSize shows it at, and what that is.
struct AsMapPicture {
  ImageHandle level;
  QString note;
};
AsMapPicture pictureAsMap(ImageHandle& loaded, const EncoderParams& params, QSize paneSize,
                          ThreadPool* pool) {
  const Rect shown = placePreview(loaded.Width(), loaded.Height(), paneSize.width(), paneSize.height());
  const size_t level = LevelForShownSize(params, loaded.Width(), loaded.Height(),
                                         static_cast<uint32_t>(std::max(shown.width, 1)),
                                         static_cast<uint32_t>(std::max(shown.height, 1)));
  return {LevelAsWritten(loaded, params, level, pool), describeAsMap(*loaded.GetBitmap(), params, level)};
}

}  // namespace

void MainDialog::onItemChanged(int index) {
  // Rebuilding the list is no focus change: the pending item stays.
  if (refreshing_ || index < 0) return;
  if (fileList_->focusedIndex() == index) {
    previewItem_ = index;
    previewTimer_->start();
  } else if (index == previewItem_) {
    previewItem_ = -1;
  }
}

void MainDialog::onPreviewTimer() {
  previewTimer_->stop();
  if (!previewEnabled_ || previewItem_ < 0 || previewItem_ >= fileList_->count()) return;
  if (fileList_->focusedIndex() != previewItem_) return;
  previewName_ = fileList_->itemName(previewItem_);
  previewPane_->showLoading();
  BuildPreviewBitmap();
}

void MainDialog::BuildPreviewBitmap() {
  const int generation = ++previewGeneration_;
  awaitingPreview_ = true;
  updateBusyCursor();
  const QSize size = previewPane_->pixelSize();
  // The settings as they are now: a job made later may take others.
  std::optional<EncoderParams> asMap;
  if (asMap_) asMap = settings_.Encoder();
  worker_.post(
      [this, generation, name = previewName_, folder = sourceFolder_, size, asMap](SourceLoader& loader) {
        // A request that a newer one replaced is skipped, before and after loading.
        if (generation != previewGeneration_) return;
        loader.SetFolder(folder);
        // A JPEG 2000 scan decodes only the resolution the pane shows.
        const DecodeLimits limits{.shownWidth = static_cast<uint32_t>(std::max(size.width(), 1)),
                                  .shownHeight = static_cast<uint32_t>(std::max(size.height(), 1)),
                                  .threads = std::max(1u, std::thread::hardware_concurrency()),
                                  .pool = &pool_};
        loader.LoadSource(name, true, limits, &pool_);
        if (generation != previewGeneration_) return;
        ImageHandle& loaded = loader.CurrentImage();
        AsMapPicture shownAsMap;
        if (asMap && !loaded.IsNull()) shownAsMap = pictureAsMap(loaded, *asMap, size, &pool_);
        ImageHandle& drawn = asMap ? shownAsMap.level : loaded;
        QImage picture = renderPreview(drawn, size.width(), size.height());
        // A folder shows nothing; a file that gives no picture says why.
        QString note;
        std::error_code error;
        if (picture.isNull() && !std::filesystem::is_directory(std::filesystem::path(folder) / name, error)) {
          const bool loadedWell = !loaded.IsNull();
          note = QStringLiteral("%1\n(%2)")
                     .arg(loadedWell ? QStringLiteral("This picture cannot be shown as a map.")
                                     : QStringLiteral("This picture cannot be shown."),
                          QString::fromUtf8(StatusText((loadedWell ? drawn : loaded).LastStatus())));
        }
        QMetaObject::invokeMethod(
            this,
            [this, generation, picture = std::move(picture), note, asMapNote = shownAsMap.note] {
              showPreview(generation, picture, note, asMapNote);
            },
            Qt::QueuedConnection);
      });
}

void MainDialog::showPreview(int generation, const QImage& picture, const QString& note,
                             const QString& asMapNote) {
  if (generation != previewGeneration_) return;
  awaitingPreview_ = false;
  if (note.isEmpty()) {
    previewPane_->setPicture(picture);
  } else {
    previewPane_->showNote(note);
  }
  asMapNote_->setText(asMapNote);
  updateBusyCursor();
}

void MainDialog::dropPreviewRequests() {
  ++previewGeneration_;
  awaitingPreview_ = false;
  updateBusyCursor();
}

void MainDialog::onPreviewClicked(bool checked) {
  previewEnabled_ = checked;
  if (previewEnabled_) {
    previewTimer_->start();
  } else {
    // The picture stays loaded, so switching back on needs no decoding.
    dropPreviewRequests();
    previewPane_->setPicture(QImage());
    asMapNote_->clear();
  }
  settings_.EnablePreview = previewEnabled_ ? 1 : 0;
  settings_.SaveSettings();
}

void MainDialog::onAsMapClicked(bool checked) {
  asMap_ = checked;
  asMapNote_->clear();
  if (previewEnabled_ && !previewName_.empty()) {
    previewPane_->showLoading();
    BuildPreviewBitmap();
  }
}

void MainDialog::ResetPreview() {
  dropPreviewRequests();
  previewName_.clear();
  worker_.post([](SourceLoader& loader) { loader.Clear(); });
  previewPane_->setPicture(QImage());
  asMapNote_->clear();
  previewTimer_->stop();
}

void MainDialog::updateBusyCursor() {
  if (jobHost_ || awaitingPreview_) {
    setCursor(Qt::BusyCursor);
  } else {
    unsetCursor();
  }
}

}  // namespace rzt2
