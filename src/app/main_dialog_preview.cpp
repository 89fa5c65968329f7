// The preview of the focused list item, loaded when the focus has rested
// for the timer's interval, on the worker: a large picture takes seconds.
#include <QMetaObject>
#include <QTimer>
#include <algorithm>
#include <filesystem>
#include <thread>

#include "app/main_dialog.h"
#include "ui/converter/file_list.h"
#include "ui/converter/preview_pane.h"

namespace rzt2 {

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
  worker_.post([this, generation, name = previewName_, folder = sourceFolder_, size](SourceLoader& loader) {
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
    QImage picture = renderPreview(loader.CurrentImage(), size.width(), size.height());
    // A folder shows nothing; a file that gives no picture says why.
    QString note;
    std::error_code error;
    if (picture.isNull() && !std::filesystem::is_directory(std::filesystem::path(folder) / name, error)) {
      note = QStringLiteral("This picture cannot be shown.\n(%1)")
                 .arg(QString::fromUtf8(StatusText(loader.CurrentImage().LastStatus())));
    }
    QMetaObject::invokeMethod(
        this,
        [this, generation, picture = std::move(picture), note] { showPreview(generation, picture, note); },
        Qt::QueuedConnection);
  });
}

void MainDialog::showPreview(int generation, const QImage& picture, const QString& note) {
  if (generation != previewGeneration_) return;
  awaitingPreview_ = false;
  if (note.isEmpty()) {
    previewPane_->setPicture(picture);
  } else {
    previewPane_->showNote(note);
  }
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
  }
  settings_.EnablePreview = previewEnabled_ ? 1 : 0;
  settings_.SaveSettings();
}

void MainDialog::ResetPreview() {
  dropPreviewRequests();
  previewName_.clear();
  worker_.post([](SourceLoader& loader) { loader.Clear(); });
  previewPane_->setPicture(QImage());
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
