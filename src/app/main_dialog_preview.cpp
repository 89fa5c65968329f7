// The preview of the focused list item, loaded when the focus has rested
// for the timer's interval.
#include <QTimer>

#include "app/main_dialog.h"
#include "ui/file_list.h"
#include "ui/preview_pane.h"

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
  loader_.LoadSource(fileList_->itemName(previewItem_), true);
  BuildPreviewBitmap();
}

void MainDialog::BuildPreviewBitmap() {
  const QSize size = previewPane_->pixelSize();
  previewPane_->setBitmap(renderPreview(loader_.CurrentImage(), size.width(), size.height()));
}

void MainDialog::onPreviewClicked(bool checked) {
  previewEnabled_ = checked;
  if (previewEnabled_) {
    previewTimer_->start();
  } else {
    // The picture stays loaded, so switching back on needs no decoding.
    previewPane_->setBitmap(ImageHandle());
  }
  settings_.EnablePreview = previewEnabled_ ? 1 : 0;
  settings_.SaveSettings();
}

void MainDialog::ResetPreview() {
  loader_.Clear();
  previewPane_->setBitmap(ImageHandle());
  previewTimer_->stop();
}

}  // namespace rzt2
