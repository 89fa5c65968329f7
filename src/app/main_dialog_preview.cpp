// The preview of the focused list item, loaded when the focus has rested
// for the timer's interval.
#include "app/main_dialog.h"
#include "ui/file_list.h"
#include "ui/preview_pane.h"

namespace rzt2 {

void MainDialog::OnItemChanged(int index) {
  // Rebuilding the list is no focus change: the pending item stays.
  if (refreshing_ || index < 0) return;
  if (fileList_->FocusedIndex() == index) {
    previewItem_ = index;
    previewTimer_.start();
  } else if (index == previewItem_) {
    previewItem_ = -1;
  }
}

void MainDialog::OnPreviewTimer() {
  previewTimer_.stop();
  if (!previewEnabled_ || previewItem_ < 0 || previewItem_ >= fileList_->Count()) return;
  if (fileList_->FocusedIndex() != previewItem_) return;
  loader_.LoadSource(fileList_->ItemName(previewItem_), true);
  BuildPreviewBitmap();
}

void MainDialog::BuildPreviewBitmap() {
  previewPane_->SetBitmap(
      RenderPreview(loader_.CurrentImage(), previewPane_->width(), previewPane_->height()));
}

void MainDialog::OnPreviewClicked(bool checked) {
  previewEnabled_ = checked;
  if (previewEnabled_) {
    previewTimer_.start();
  } else {
    // The picture stays loaded, so switching back on needs no decoding.
    previewPane_->SetBitmap(ImageHandle());
  }
  settings_.EnablePreview = previewEnabled_ ? 1 : 0;
  settings_.SaveSettings();
}

void MainDialog::ResetPreview() {
  loader_.Clear();
  previewPane_->SetBitmap(ImageHandle());
  previewTimer_.stop();
}

}  // namespace rzt2
