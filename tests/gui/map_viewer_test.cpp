// The map viewer: what it shows at each stored level against the frames
// the reader decodes, and panning across a 20000 x 15000 map within a
// small cache.
#include "ui/viewer/map_viewer.h"

#include <QAction>
#include <QPointer>
#include <QScreen>
#include <algorithm>

#include "gui_fixture.h"
#include "mapfile/map_test_helpers.h"
#include "ui/viewer/map_canvas.h"

namespace rzt2::test {
namespace {

constexpr uint32_t kSide = 160;            // the frame size of every map here
constexpr QRgb kBackground = 0xFF808080u;  // around the picture

class MapViewerTest : public GuiTest {
 protected:
  // A 1000 x 700 picture of 10-pixel blocks in GIF frames: 7 x 5 frames at 100 %.
  std::vector<uint8_t> WriteMap(const fs::path& path, int32_t zoomLevelsMask) {
    const ColorPalette palette = DistinctKeyPalette();
    ImageHandle picture = BlockPicture(1000, 700, palette);
    EXPECT_EQ(MapWriter::Create(Params(0, zoomLevelsMask), &palette, nullptr)->WriteMapFile(picture, path),
              Status::Ok);
    return ReadFileBytes(path);
  }
  // Opens the viewer with a canvas of size; the whole picture is in view.
  MapViewer& View(const fs::path& path, QSize size, const ViewerOptions& options = {}) {
    viewer_.reset(openMapViewer(path.string(), prompts, nullptr, options));
    EXPECT_NE(viewer_, nullptr);
    viewer_->resize(viewer_->size() + size - Canvas().size());
    EXPECT_TRUE(QTest::qWaitFor([&] { return Canvas().size() == size; }));
    return *viewer_;
  }
  MapCanvas& Canvas() { return *Find<MapCanvas>(*viewer_, "mapCanvas"); }
  // Steps the zoom from the whole picture to zoom, with the keys.
  void ZoomTo(double zoom) {
    QTest::keyClick(&Canvas(), Qt::Key_Home);
    for (int i = 0; i < 40 && Canvas().zoom() != zoom; ++i)
      QTest::keyClick(&Canvas(), Canvas().zoom() < zoom ? Qt::Key_Plus : Qt::Key_Minus);
    ASSERT_EQ(Canvas().zoom(), zoom);
  }
  // What the canvas shows once every frame asked for has come.
  QImage Shown() {
    EXPECT_TRUE(QTest::qWaitFor([&] { return Canvas().framesLoading() == 0; }, 20000));
    return Canvas().grab().toImage();
  }
  // Pixels of frame k of the level that differ from the frame decoded from
  // the file, or past the picture's edges from the background (the frame's
  // padding is not drawn); every pixel when the frame is not wholly in view.
  int Mismatches(const QImage& shown, const MapBytes& map, const LevelEntry& level, uint32_t k) {
    const std::unique_ptr<Bitmap> frame = Decoded(DecodeGif, map.Frame(level, k));
    const uint64_t cover = uint64_t{level.frameWidth} * 10000 / level.scale;
    const uint64_t left = k % level.columns * cover, top = k / level.columns * cover;
    const QPoint at = Canvas().toWidget(QPointF(double(left), double(top))).toPoint();
    if (!frame || !shown.rect().contains(QRect(at, QSize(frame->Width(), frame->Height())))) return -1;
    const QRectF picture(Canvas().toWidget(QPointF(0, 0)), Canvas().pictureSize() * Canvas().zoom());
    int wrong = 0;
    for (int32_t y = 0; y < frame->Height(); ++y) {
      for (int32_t x = 0; x < frame->Width(); ++x) {
        const QPoint point = at + QPoint(x, y);
        const bool inside = picture.contains(QPointF(point) + QPointF(0.5, 0.5));
        wrong += shown.pixel(point) != (inside ? frame->PixelArgb(x, y) : kBackground);
      }
    }
    return wrong;
  }

  std::unique_ptr<MapViewer> viewer_;
};

TEST_F(MapViewerTest, AtEachLevelsOwnZoomEveryFrameShowsAsTheReaderDecodesIt) {
  const MapBytes map(WriteMap(dir / "map.rzt2", kZoomMaskFrom50));
  View(dir / "map.rzt2", QSize(1400, 1000));
  EXPECT_EQ(viewer_->windowTitle(), "map.rzt2 - RZT2 map viewer");
  for (uint32_t index = 0; index < kZoomLevels.size(); ++index) {
    const LevelEntry level = map.Entry(index);
    ZoomTo(level.scale / 10000.0);
    const QImage shown = Shown();
    for (uint32_t k = 0; k < level.columns * level.rows; ++k)
      EXPECT_EQ(Mismatches(shown, map, level, k), 0) << "level " << index << ", frame " << k;
  }
  // Outlines cross the frames; without them the frames are as before.
  for (const bool on : {true, false}) {
    Find<QAction>(*viewer_, "outlineAction")->setChecked(on);
    EXPECT_EQ(Mismatches(Shown(), map, map.Entry(6), 0) != 0, on);
  }
}

// The window's thread reads nothing: the preview comes from a loader.
TEST_F(MapViewerTest, OpensWithinTheScreenAndClosesOnEscapeOrCtrlW) {
  WriteMap(dir / "map.rzt2", kZoomMaskNone);
  const std::pair<Qt::Key, Qt::KeyboardModifier> closers[] = {{Qt::Key_Escape, Qt::NoModifier},
                                                              {Qt::Key_W, Qt::ControlModifier}};
  for (const auto& [key, modifiers] : closers) {
    const QPointer<MapViewer> viewer = openMapViewer((dir / "map.rzt2").string(), prompts);
    ASSERT_NE(viewer, nullptr);
    auto* canvas = Find<MapCanvas>(*viewer, "mapCanvas");
    EXPECT_GT(canvas->framesLoading(), 0);
    QApplication::setActiveWindow(viewer);
    ASSERT_TRUE(QTest::qWaitForWindowActive(viewer));
    EXPECT_TRUE(viewer->screen()->availableGeometry().contains(viewer->frameGeometry()));
    EXPECT_TRUE(Find<QAction>(*viewer, "keysAction")->toolTip().contains("Escape or Ctrl+W: close"));
    QTest::keyClick(canvas, key, modifiers);
    EXPECT_TRUE(QTest::qWaitFor([&] { return viewer.isNull(); }));
  }
}

// A damaged frame is drawn as a marked square; the others still show.
TEST_F(MapViewerTest, ADamagedFrameIsMarkedWhileTheOthersShow) {
  std::vector<uint8_t> bytes = WriteMap(dir / "map.rzt2", kZoomMaskNone);
  const LevelEntry level = MapBytes(bytes).Entry(0);
  // Frame 1, 1 keeps one byte of its body.
  WriteU32(&bytes[level.indexOffset + (kFirstFrameRef + level.columns + 1) * kFrameRefSize + 4], 1);
  WriteFileBytes(dir / "map.rzt2", bytes);
  const MapBytes map(bytes);
  View(dir / "map.rzt2", QSize(1400, 1000));
  ZoomTo(1.0);
  const QImage shown = Shown();
  for (uint32_t k = 0; k < level.columns * level.rows; ++k) {
    if (k != level.columns + 1) {
      EXPECT_EQ(Mismatches(shown, map, level, k), 0) << "frame " << k;
    }
  }
  const QPoint damaged = Canvas().toWidget(QPointF(kSide * 1.5, kSide * 1.5)).toPoint();
  EXPECT_EQ(QColor(shown.pixel(damaged)), QColor(220, 0, 0));
}

// A 20000 x 15000 map at every level that costs next to nothing to write or
// decode: each level stores kColours GIF frames of one colour once, and the
// record of frame (column, row) points at colour (column + row) % kColours.
constexpr uint32_t kColours = 7;
const uint32_t kHugeWidth = 20000, kHugeHeight = 15000;

uint32_t ColourOf(uint32_t column, uint32_t row) {
  return 0xFF000000u | ((column + row) % kColours + 1) * 0x202020u;
}

std::vector<uint8_t> HugeMap() {
  const auto gif = [](int32_t width, int32_t height, uint32_t argb) {
    std::unique_ptr<Bitmap> bitmap;
    Bitmap::Create(width, height, PixelFormat::Indexed8, bitmap);
    bitmap->SetPalette(ColorPalette{.entries = {argb, 0xFFFFFFFFu}});
    return Encode(EncodeGif, *bitmap);
  };
  std::vector<uint8_t> file(kPreviewOffset);
  const std::vector<uint8_t> preview = gif(400, 300, 0xFF808080u);
  file.insert(file.end(), preview.begin(), preview.end());
  MapHeader header;
  header.imageWidth = kHugeWidth;
  header.imageHeight = kHugeHeight;
  for (uint32_t index = 0; index < kZoomLevels.size(); ++index) {
    const uint32_t cover = kSide * 10000 / kZoomLevels[index];
    LevelEntry level{.scale = kZoomLevels[index],
                     .indexOffset = static_cast<uint32_t>(file.size()),
                     .firstFrameRef = kFirstFrameRef,
                     .frameWidth = kSide,
                     .frameHeight = kSide,
                     .columns = (kHugeWidth - 1) / cover + 1,
                     .rows = (kHugeHeight - 1) / cover + 1};
    level.refCount = level.columns * level.rows + kFirstFrameRef;
    level.prefixOffset = level.indexOffset + level.refCount * kFrameRefSize;
    file.resize(level.prefixOffset);
    EncodeFrameRef(FrameRef{kPreviewOffset, static_cast<uint32_t>(preview.size())}, &file[level.indexOffset]);
    std::vector<FrameRef> bodies;
    for (uint32_t colour = 0; colour < kColours; ++colour) {
      const std::vector<uint8_t> body = gif(kSide, kSide, ColourOf(colour, 0));
      bodies.push_back({static_cast<uint32_t>(file.size()), static_cast<uint32_t>(body.size())});
      file.insert(file.end(), body.begin(), body.end());
    }
    for (uint32_t row = 0; row < level.rows; ++row) {
      for (uint32_t column = 0; column < level.columns; ++column) {
        const uint32_t position = kFirstFrameRef + row * level.columns + column;
        EncodeFrameRef(bodies[(column + row) % kColours],
                       &file[level.indexOffset + position * kFrameRefSize]);
      }
    }
    EncodeLevelEntry(level, &file[kLevelTableOffset + index * kLevelEntrySize]);
    if (index == 0) header.firstLevel = level;
  }
  const auto head = EncodeMapHeader(header);
  std::copy(head.begin(), head.end(), file.begin());
  return file;
}

class HugeMapTest : public MapViewerTest {
 protected:
  static void SetUpTestSuite() { bytes_ = new std::vector<uint8_t>(HugeMap()); }
  static void TearDownTestSuite() { delete bytes_; }
  void SetUp() override { WriteFileBytes(dir / "huge.rzt2", *bytes_); }
  static std::vector<uint8_t>* bytes_;
};
std::vector<uint8_t>* HugeMapTest::bytes_ = nullptr;

TEST_F(HugeMapTest, OpeningDecodesOnlyTheFramesInViewAndPanningKeepsTheCacheWithinItsBound) {
  const size_t bound = size_t{4} << 20;
  View(dir / "huge.rzt2", QSize(800, 600), ViewerOptions{.cacheBytes = bound});
  Shown();
  // The whole picture at 4 %: the 5 % level's 7 x 5 frames, and no other.
  EXPECT_EQ(Canvas().cache().insertions(), 35u);
  ZoomTo(1.0);
  for (int i = 0; i < 60; ++i) QTest::keyClick(&Canvas(), Qt::Key_Left);
  EXPECT_EQ(Canvas().toPicture(QPointF(0, 0)).x(), 0);
  const QPoint middle(400, 300);
  double last = -1;
  int steps = 0;
  for (; Canvas().toPicture(middle).x() != last; ++steps) {
    last = Canvas().toPicture(middle).x();
    const QImage shown = Shown();
    EXPECT_LE(Canvas().cache().bytes(), bound);
    const QPointF point = Canvas().toPicture(middle);
    ASSERT_EQ(shown.pixel(middle), ColourOf(uint32_t(point.x()) / kSide, uint32_t(point.y()) / kSide))
        << point.x();
    QTest::keyClick(&Canvas(), Qt::Key_Right);
  }
  EXPECT_EQ(steps, 97);  // a quarter of the view at a time, 20000 pixels
  EXPECT_LE(Canvas().cache().peakBytes(), bound);
  // Far more frames came than it can hold.
  EXPECT_GT(Canvas().cache().insertions() * kSide * kSide * 4, 3 * bound);
}

}  // namespace
}  // namespace rzt2::test
