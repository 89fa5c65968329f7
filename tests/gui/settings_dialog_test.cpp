// The settings dialog: opening from the record, the exchange order and its
// messages, the zoom and destination translations, and Cancel.
#include "ui/converter/settings_dialog.h"

#include <QLabel>
#include <QRadioButton>
#include <algorithm>
#include <tuple>

#include "gui_fixture.h"

namespace rzt2::test {
namespace {

// The messages name the field as the dialog labels it.
QString Warning(const QString& text) { return "RZT2 encoder settings [warning] " + text; }
QString Integer(const char* field) { return Warning(QString(field) + ": please enter an integer."); }
QString Range(const char* field, int low, int high) {
  return Warning(QString("%1: please enter an integer between %2 and %3.").arg(field).arg(low).arg(high));
}

class SettingsDialogTest : public GuiTest {
 protected:
  SettingsDialogTest() {
    settings.DstFolder = "/out/";
    settings.DstFolderAsSame = 1;
  }
  void OpenDialog() {
    dialog = std::make_unique<SettingsDialog>(settings, shell, prompts);
    dialog->show();
  }
  QLineEdit* Edit(const char* name) { return Find<QLineEdit>(*dialog, name); }
  QComboBox* Combo(const char* name) { return Find<QComboBox>(*dialog, name); }
  bool SelectChecked() { return Find<QRadioButton>(*dialog, "selectRadio")->isChecked(); }
  void Press(const char* name) { Find<QAbstractButton>(*dialog, name)->click(); }

  ConverterSettings settings{StoreFile()};
  std::unique_ptr<SettingsDialog> dialog;
};

TEST_F(SettingsDialogTest, OpensFromTheRecordAndOkStoresEveryFieldButCancelNone) {
  settings.SetEncoder({100, 200, 0, 300, 400, 3});
  settings.SrcFolder = "/src";
  for (const char* close : {"cancelButton", "okButton"}) {
    OpenDialog();
    EXPECT_EQ(Edit("previewHeightEdit")->text(), "400");
    EXPECT_EQ(Combo("encoderCombo")->currentText() + Combo("zoomCombo")->currentText(), "bmpNone");
    EXPECT_EQ(Combo("paletteCombo")->currentText(), "Built-in");
    EXPECT_EQ(Combo("compressionCombo")->currentText(), "Fast");
    EXPECT_FALSE(SelectChecked());
    Edit("frameWidthEdit")->setText("64");
    Edit("previewHeightEdit")->setText("1024");
    Combo("encoderCombo")->setCurrentIndex(4);
    Combo("pagesCombo")->setCurrentIndex(1);
    Edit("dpiEdit")->setText("300");
    Combo("paletteCombo")->setCurrentIndex(1);
    Combo("compressionCombo")->setCurrentIndex(1);
    QTest::keyClick(Edit("destinationEdit"), Qt::Key_Z);
    Press(close);
  }
  EXPECT_EQ(Stored().Encoder(), (EncoderParams{64, 200, 0, 300, 1024, 4, kPaletteAdaptive, kMapSizeSmall}));
  EXPECT_EQ(std::pair(Stored().AllPages, Stored().DrawingDpi), std::pair(1, 300));
  EXPECT_EQ(settings.Encoder(), Stored().Encoder());
  OpenDialog();
  EXPECT_EQ(Combo("paletteCombo")->currentText(), "Fitted to each map");
  EXPECT_EQ(Combo("compressionCombo")->currentText(), "Small: more time, fewer bytes");
  // Under the palette, what each choice does to photos and scans; the
  // resolution's unit, and what 0 means.
  const auto* paletteNote = Find<QLabel>(*dialog, "paletteComboNote");
  const auto* dpiNote = Find<QLabel>(*dialog, "dpiEditNote");
  ASSERT_TRUE(paletteNote && dpiNote);
  EXPECT_TRUE(paletteNote->text().contains("photos and scans"));
  EXPECT_EQ(dpiNote->text(), "0: each format's own: PDF 150, others 96");
  const QList<QLabel*> labels = dialog->findChildren<QLabel*>();
  const auto unit = std::find_if(labels.begin(), labels.end(),
                                 [](const QLabel* label) { return label->text() == "dots per inch"; });
  ASSERT_NE(unit, labels.end());
  EXPECT_EQ((*unit)->geometry().center().y(), Edit("dpiEdit")->geometry().center().y());
  EXPECT_EQ(std::pair(Stored().DstFolder, Stored().DstFolderAsSame), std::pair(std::string("/out/z/"), 0));
  EXPECT_EQ(Stored().SrcFolder, "/src");  // not shown, but saved with the rest
}

TEST_F(SettingsDialogTest, OkStopsAtTheFirstFailingFieldInExchangeOrder) {
  settings.EncoderCode = 9;  // out of the list: no format is selected
  settings.FrameSizeY = 1000;
  OpenDialog();
  EXPECT_EQ(Edit("frameHeightEdit")->text(), "1000");  // shown unchanged
  Edit("frameWidthEdit")->setText("10");
  Edit("previewWidthEdit")->setText("50");
  Edit("previewHeightEdit")->setText("12a");  // pasted: typing cannot put a letter there
  // Each OK reports one field; that field then takes the next text.
  const std::tuple<const char*, QString, const char*> steps[] = {
      {"frameHeightEdit", Range("Frames height", 32, 512), "512"},
      {"frameWidthEdit", Range("Frames width", 32, 512), "32"},
      {"previewHeightEdit", Integer("Preview height"), ""},
      {"previewHeightEdit", Integer("Preview height"), "99999999999"},
      {"previewHeightEdit", Range("Preview height", 128, 1024), "128"},
      {"previewWidthEdit", Range("Preview width", 128, 1024), " 1024 "},
      {"encoderCombo", Warning("RZT2 frames encoder algorithm: please choose one."), ""}};
  for (const auto& [field, message, next] : steps) {
    prompts.messages.clear();
    Press("okButton");
    EXPECT_NE(dialog->result(), QDialog::Accepted) << field;
    EXPECT_EQ(prompts.messages, std::vector<QString>{message}) << field;
    EXPECT_EQ(dialog->focusWidget()->objectName(), field);
    if (auto* edit = dialog->findChild<QLineEdit*>(field)) {
      EXPECT_EQ(edit->selectedText(), edit->text()) << field;
      edit->setText(next);
    }
  }
  EXPECT_EQ(Stored().FrameSizeX, kFrameSizeX.defaultValue);  // nothing saved yet,
  EXPECT_EQ(settings.FrameSizeX, kFrameSizeX.defaultValue);  // nor copied
  Combo("encoderCombo")->setCurrentIndex(2);
  Press("okButton");
  EXPECT_EQ(dialog->result(), QDialog::Accepted);
  EXPECT_EQ(Stored().Encoder(), (EncoderParams{32, 512, 255, 1024, 128, 2}));
}

// A chosen destination that does not exist is pointed out.
TEST_F(SettingsDialogTest, OkTranslatesTheZoomChoiceAndTheDestination) {
  // The stored mask, the choice shown and the mask saved; the destination
  // typed, whether "Select" is checked, and the folder and flag saved.
  const std::tuple<int32_t, int, int32_t, const char*, bool, std::string, int> cases[] = {
      {0, 0, 0, "/data/maps", true, "/data/maps/", 0},
      {1, 1, 253, "/data/maps/", true, "/data/maps/", 0},
      {127, 1, 253, "", true, "", 0},
      {253, 1, 253, "/kept/anyway", false, "/kept/anyway/", 1},
      {254, 1, 253, "", false, "", 1},
      {255, 2, 255, "rel", true, "rel/", 0}};
  for (const auto& [stored, shown, saved, text, select, folder, asSame] : cases) {
    settings.ZoomLevelsMask = stored;
    OpenDialog();
    EXPECT_EQ(Combo("zoomCombo")->currentIndex(), shown) << stored;
    Edit("destinationEdit")->setText(text);
    Find<QRadioButton>(*dialog, select ? "selectRadio" : "sameFolderRadio")->setChecked(true);
    // None of these folders exists.
    EXPECT_EQ(Find<QLabel>(*dialog, "destinationWarning")->isVisible(), select && *text) << text;
    Press("okButton");
    EXPECT_EQ(Stored().ZoomLevelsMask, saved) << stored;
    EXPECT_EQ(std::pair(Stored().DstFolder, Stored().DstFolderAsSame), std::pair(folder, asSame)) << text;
  }
  OpenDialog();
  Edit("destinationEdit")->clear();
  QTest::keyClicks(Edit("destinationEdit"), QString::fromStdString(Folder()));
  EXPECT_FALSE(Find<QLabel>(*dialog, "destinationWarning")->isVisible());
}

// Typing a destination while a size is invalid checks "Select" and
// nothing else: the size's message comes on OK, not at a keystroke.
TEST_F(SettingsDialogTest, TypingADestinationChecksSelectAndLeavesAFailingSizeToOk) {
  OpenDialog();
  Edit("frameWidthEdit")->setText("10");
  Edit("previewHeightEdit")->setText("300");
  Find<QRadioButton>(*dialog, "sameFolderRadio")->setChecked(true);
  Edit("destinationEdit")->setFocus();
  QTest::keyClick(Edit("destinationEdit"), Qt::Key_Y);
  EXPECT_TRUE(prompts.messages.empty());
  EXPECT_EQ(dialog->focusWidget(), Edit("destinationEdit"));
  EXPECT_TRUE(SelectChecked());
  Press("okButton");
  EXPECT_EQ(prompts.messages, std::vector<QString>{Range("Frames width", 32, 512)});
  EXPECT_EQ(Edit("frameWidthEdit")->selectedText(), "10");
  Edit("frameWidthEdit")->setText("64");
  Press("okButton");
  EXPECT_EQ(std::tuple(Stored().FrameSizeX, Stored().MiniFrameSizeY, Stored().DstFolder),
            std::tuple(64, 300, std::string("/out/y/")));
}

}  // namespace
}  // namespace rzt2::test
