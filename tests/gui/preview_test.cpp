// The preview pane: where the picture goes, the restartable timer, and
// switching the preview off and on.
#include <QCheckBox>
#include <algorithm>
#include <array>
#include <tuple>

#include "main_window_fixture.h"
#include "ui/preview_pane.h"

namespace rzt2::test {
namespace {

namespace fs = std::filesystem;

TEST(PreviewPlacementTest, KeepsProportionsAndCentresOnTheShortSide) {
  // Picture and pane sizes, then the rectangle.
  const std::array<int32_t, 8> cases[] = {
      {100, 50, 400, 300, 0, 50, 400, 200},  {300, 600, 400, 300, 125, 0, 150, 300},
      {800, 600, 400, 300, 0, 0, 400, 300},   // the same proportions take the width branch
      {1000, 791, 359, 284, 0, 0, 359, 283},  // single precision, every result cut toward zero
      {7, 3, 359, 284, 0, 65, 359, 153},     {3, 1000, 359, 284, 179, 0, 0, 284}};
  for (const auto& c : cases) {
    const Rect r = PlacePreview(static_cast<uint32_t>(c[0]), static_cast<uint32_t>(c[1]), c[2], c[3]);
    EXPECT_EQ((std::array<int32_t, 4>{r.x, r.y, r.width, r.height}),
              (std::array<int32_t, 4>{c[4], c[5], c[6], c[7]}))
        << c[0] << "x" << c[1] << " in " << c[2] << "x" << c[3];
  }
}

TEST(PreviewPlacementTest, RendersAWhitePaneSizedPictureWithTheImageInItsRectangle) {
  auto red = ImageHandle::CreateBlank(100, 50, PixelFormat::Argb32);
  for (int32_t y = 0; y < 50; ++y) {
    auto* row = reinterpret_cast<uint32_t*>(red.GetBitmap()->MutableRow(y));
    std::fill(row, row + 100, 0xFFFF0000u);
  }
  ImageHandle preview = RenderPreview(red, 400, 300);
  ASSERT_FALSE(preview.IsNull());
  const Bitmap& shown = *preview.GetBitmap();
  EXPECT_EQ(shown.Format(), PixelFormat::Rgb24);
  EXPECT_EQ(shown.Width(), 400);
  EXPECT_EQ(shown.Height(), 300);
  // White above and below the 400 x 200 picture at y 50.
  for (const auto& [x, y, argb] : {std::tuple{200, 49, 0xFFFFFFFFu},
                                   {200, 250, 0xFFFFFFFFu},
                                   {200, 150, 0xFFFF0000u},
                                   {0, 50, 0xFFFF0000u},
                                   {399, 249, 0xFFFF0000u}}) {
    EXPECT_EQ(shown.PixelArgb(x, y), argb) << x << "," << y;
  }
  ImageHandle none;
  EXPECT_TRUE(RenderPreview(none, 400, 300).IsNull());
  EXPECT_TRUE(RenderPreview(red, 0, 300).IsNull());
}

class PreviewTest : public MainWindowTest {
 protected:
  void SetUp() override {
    Picture("a.png", 64, 48, "image/png", 1);
    Picture("b.png", 48, 64, "image/png", 2);
    Picture("c.jpg", 80, 40, "image/jpeg", 3);
    fs::create_directory(dir / "sub");
  }
  const ImageHandle& Shown() { return Window().Pane()->Bitmap(); }
};

TEST_F(PreviewTest, OnlyTheLastOfQuickFocusChangesIsLoaded) {
  MainDialog& window = Open([](ConverterSettings& s) { s.EnablePreview = 1; });
  for (const char* name : {"a.png", "b.png", "c.jpg"}) {
    Focus(name);
    EXPECT_EQ(window.PreviewItem(), IndexOf(name));
    EXPECT_TRUE(window.PreviewTimer().isActive());
    EXPECT_EQ(window.PreviewTimer().interval(), 500);
    EXPECT_TRUE(window.Loader().CurrentImagePath().empty());
  }
  // The one pending tick, on the real clock.
  QTRY_COMPARE_WITH_TIMEOUT(window.Loader().CurrentImagePath(), std::string("c.jpg"), 5000);
  EXPECT_FALSE(window.PreviewTimer().isActive());
  ASSERT_FALSE(Shown().IsNull());
  EXPECT_EQ(Shown().GetBitmap()->Width(), window.Pane()->width());
  EXPECT_EQ(Shown().GetBitmap()->Height(), window.Pane()->height());
}

TEST_F(PreviewTest, TheTickActsOnlyOnAnItemThatStillHasTheFocus) {
  MainDialog& window = Open([](ConverterSettings& s) { s.EnablePreview = 1; });
  Focus("a.png");
  window.List()->setCurrentItem(nullptr);
  EXPECT_EQ(window.PreviewItem(), -1);
  window.OnPreviewTimer();
  EXPECT_TRUE(window.Loader().CurrentImage().IsNull());
  EXPECT_TRUE(Shown().IsNull());

  Focus("b.png");
  window.OnPreviewTimer();
  EXPECT_EQ(window.Loader().CurrentImagePath(), "b.png");
  EXPECT_FALSE(Shown().IsNull());
  // A folder after a picture leaves the pane white.
  Focus("sub");
  window.OnPreviewTimer();
  EXPECT_TRUE(window.Loader().CurrentImage().IsNull());
  EXPECT_TRUE(Shown().IsNull());
}

TEST_F(PreviewTest, SwitchingThePreviewOffKeepsThePictureAndOnShowsItAgain) {
  MainDialog& window = Open();
  EXPECT_FALSE(window.PreviewCheck()->isChecked());
  Focus("a.png");
  EXPECT_TRUE(window.PreviewTimer().isActive());  // focus is tracked while off
  window.OnPreviewTimer();
  EXPECT_TRUE(window.Loader().CurrentImage().IsNull());
  EXPECT_TRUE(Shown().IsNull());

  QTest::mouseClick(window.PreviewCheck(), Qt::LeftButton);
  EXPECT_TRUE(window.PreviewCheck()->isChecked());
  EXPECT_EQ(Stored().EnablePreview, 1);
  EXPECT_TRUE(window.PreviewTimer().isActive());
  window.OnPreviewTimer();
  EXPECT_EQ(window.Loader().CurrentImagePath(), "a.png");
  EXPECT_FALSE(Shown().IsNull());
  const Bitmap* picture = window.Loader().CurrentImage().GetBitmap();

  QTest::mouseClick(window.PreviewCheck(), Qt::LeftButton);
  EXPECT_EQ(Stored().EnablePreview, 0);
  EXPECT_TRUE(Shown().IsNull());
  EXPECT_EQ(window.Loader().CurrentImagePath(), "a.png");

  // On again: the same picture, not decoded a second time.
  QTest::mouseClick(window.PreviewCheck(), Qt::LeftButton);
  window.OnPreviewTimer();
  EXPECT_EQ(window.Loader().CurrentImage().GetBitmap(), picture);
  EXPECT_FALSE(Shown().IsNull());
}

TEST_F(PreviewTest, ChangingFoldersLeavesThePaneWhiteAndKeepsTheWaitingItem) {
  MainDialog& window = Open([](ConverterSettings& s) { s.EnablePreview = 1; });
  Focus("a.png");
  window.OnPreviewTimer();
  ASSERT_FALSE(Shown().IsNull());
  const int waiting = window.PreviewItem();
  Focus("b.png");
  window.RefreshFileList();
  EXPECT_TRUE(Shown().IsNull());
  EXPECT_TRUE(window.Loader().CurrentImage().IsNull());
  EXPECT_FALSE(window.PreviewTimer().isActive());
  EXPECT_EQ(window.PreviewItem(), waiting + 1);
  EXPECT_EQ(window.List()->FocusedIndex(), -1);
}

}  // namespace
}  // namespace rzt2::test
