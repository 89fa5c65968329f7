// The preview pane: where the picture goes, and loading off the window's
// thread.
#include <QLabel>
#include <array>
#include <functional>

#include "gui_fixture.h"
#include "mapfile/map_test_helpers.h"
#include "ui/converter/preview_pane.h"

namespace rzt2::test {
namespace {

TEST(PreviewPlacementTest, KeepsProportionsAndCentresOnTheShortSide) {
  // Picture and pane sizes, then the rectangle.
  const std::array<int32_t, 8> cases[] = {
      {100, 50, 400, 300, 0, 50, 400, 200},  {300, 600, 400, 300, 125, 0, 150, 300},
      {800, 600, 400, 300, 0, 0, 400, 300},   // the same proportions take the width branch
      {1000, 791, 359, 284, 0, 0, 359, 283},  // single precision, every result cut toward zero
      {7, 3, 359, 284, 0, 65, 359, 153},     {3, 1000, 359, 284, 179, 0, 0, 284}};
  for (const auto& c : cases) {
    const Rect r = placePreview(static_cast<uint32_t>(c[0]), static_cast<uint32_t>(c[1]), c[2], c[3]);
    EXPECT_EQ((std::array<int32_t, 4>{r.x, r.y, r.width, r.height}),
              (std::array<int32_t, 4>{c[4], c[5], c[6], c[7]}))
        << c[0] << "x" << c[1] << " in " << c[2] << "x" << c[3];
  }
}

// Pictures of one colour each, so that the pane shows which one it holds.
class PreviewTest : public GuiTest {
 protected:
  void SetUp() override {
    Picture("red.png", 60, 40, Qt::red);
    Picture("green.png", 50, 50, Qt::green);
    fs::create_directory(dir / "sub");
  }
  QTimer& Timer() { return *Find<QTimer>("previewTimer"); }
};

// The picture loads on the worker while the window goes on; only the last
// request is shown, and none after the preview was cleared or switched off.
TEST_F(PreviewTest, AResultArrivingAfterANewerRequestIsNotShown) {
  Open([](ConverterSettings& s) { s.EnablePreview = 1; });
  const std::pair<std::function<void()>, QColor> thenWhat[] = {
      {[&] { Focus("green.png"); }, Qt::green},
      {[&] { PathBox().setText(QString::fromStdString((dir / "sub").string())); }, Qt::white},
      {[&] { Focus("sub"); }, Qt::white},
      {[&] { QTest::mouseClick(Find("previewCheck"), Qt::LeftButton); }, Qt::white}};
  for (const auto& [then, shown] : thenWhat) {
    PathBox().setText(QString::fromStdString(Folder()));
    Focus("red.png");
    QMetaObject::invokeMethod(&Timer(), "timeout");
    EXPECT_EQ(Window().cursor().shape(), Qt::BusyCursor);
    then();
    QMetaObject::invokeMethod(&Timer(), "timeout");
    WaitUntilIdle();
    EXPECT_EQ(PaneCentre(), shown);
  }
}

// A load that takes a moment says so; a file that gives no picture says
// why, a folder shows nothing.
TEST_F(PreviewTest, ThePaneSaysLoadingOrWhyAFileCannotBeShown) {
  WriteFileBytes(dir / "bad.png", {1, 2, 3});
  Open([](ConverterSettings& s) { s.EnablePreview = 1; });
  auto* pane = Find<PreviewPane>("previewPane");
  pane->showLoading();
  EXPECT_TRUE(QTest::qWaitFor([&] { return pane->note() == "Loading ..."; }));
  const std::pair<const char*, QString> notes[] = {
      {"bad.png", "This picture cannot be shown.\n(unknown image format)"}, {"sub", ""}, {"red.png", ""}};
  for (const auto& [name, note] : notes) {
    Focus(name);
    QMetaObject::invokeMethod(&Timer(), "timeout");
    WaitUntilIdle();
    EXPECT_EQ(pane->note(), note) << name;
  }
  EXPECT_EQ(PaneCentre(), Qt::red);
}

// "As map" shows the picture as the map the settings write holds it: a
// pastel that the built-in palette turns into one of its own colours and
// the fitted palette keeps, each as a frame of the map the window's own
// conversion writes decodes it.
TEST_F(PreviewTest, AsMapShowsTheColoursOfTheMapTheSettingsWrite) {
  const QColor pastel(232, 201, 176);
  Picture("scan.png", 300, 200, pastel);
  std::vector<QColor> shown;
  for (const int32_t palette : {kPaletteBuiltIn, kPaletteAdaptive}) {
    Open([&](ConverterSettings& s) {
      s.EnablePreview = 1;
      s.ZoomLevelsMask = 0;
      s.PaletteMode = palette;
    });
    Focus("scan.png");
    QMetaObject::invokeMethod(&Timer(), "timeout");
    WaitUntilIdle();
    EXPECT_EQ(PaneCentre(), pastel);
    Find<QCheckBox>("asMapCheck")->click();
    WaitUntilIdle();
    shown.push_back(PaneCentre());
    EXPECT_EQ(Find<QLabel>("asMapNote")->text(), palette == kPaletteBuiltIn
                                                     ? "Zoom 100 %, built-in palette, gif frames"
                                                     : "Zoom 100 %, fitted palette, gif frames");
    Select({"scan.png"});
    Click("createButton");
    WaitUntilIdle();
    const MapBytes map(dir / "scan.rzt2");
    const std::unique_ptr<Bitmap> frame = Decoded(DecodeGif, map.Frame(map.Entry(0), 0));
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(shown.back(), QColor::fromRgba(frame->PixelArgb(150, 100)));
    Window().close();
  }
  EXPECT_NE(shown[0], pastel);
  EXPECT_EQ(shown[1], pastel);
}

}  // namespace
}  // namespace rzt2::test
