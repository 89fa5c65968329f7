// The settings dialog: opening from the record, the exchange order and its
// messages, the zoom and destination translations, Cancel, and the "..."
// button. Each test keeps its store in its own temporary folder.
#include "ui/settings_dialog.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "settings/converter_settings.h"
#include "ui/linux_shell_namespace.h"

namespace rzt2 {
namespace {

// Messages and folder picks answered without modal windows.
class TestSettingsDialog : public SettingsDialog {
 public:
  using SettingsDialog::SettingsDialog;

  std::vector<QString> messages;
  std::optional<std::string> pickAnswer;  // what "Change folder" returns; nothing: Cancel
  int picks = 0;
  bool useRealPicker = false;

 protected:
  void ShowMessage(const QString& text) override { messages.push_back(text); }
  std::optional<std::string> PickFolder() override {
    ++picks;
    return useRealPicker ? SettingsDialog::PickFolder() : pickAnswer;
  }
};

const QString kInteger = "Please enter an integer.";
const QString kFrameRange = "Please enter an integer between 32 and 512.";
const QString kPreviewRange = "Please enter an integer between 128 and 1024.";

class SettingsDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(QDir(dir.path()).mkpath("home/picked"));
    settings.DstFolder = "/out/";
    settings.DstFolderAsSame = 1;
  }

  TestSettingsDialog& Open() {
    dialog = std::make_unique<TestSettingsDialog>(settings, shell);
    dialog->show();
    return *dialog;
  }
  template <typename T>
  T* Find(const char* name) {
    T* widget = dialog->findChild<T*>(QLatin1String(name));
    EXPECT_NE(widget, nullptr) << name;
    return widget;
  }
  QLineEdit* Edit(const char* name) { return Find<QLineEdit>(name); }
  QComboBox* Combo(const char* name) { return Find<QComboBox>(name); }
  bool SelectChecked() { return Find<QRadioButton>("selectRadio")->isChecked(); }
  void ClickOk() { Find<QPushButton>("okButton")->click(); }
  ConverterSettings Saved() {
    ConverterSettings saved(storeFile);
    saved.LoadSettings();
    return saved;
  }
  QByteArray StoreBytes() {
    QFile file(QString::fromStdString(storeFile));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
  }

  QTemporaryDir dir;
  std::string storeFile = dir.filePath("settings.conf").toStdString();
  ConverterSettings settings{storeFile};
  LinuxShellNamespace shell{dir.filePath("home"), {}, dir.filePath("no-mounts")};
  std::unique_ptr<TestSettingsDialog> dialog;
};

TEST_F(SettingsDialogTest, OpensFromTheRecordAndStoresEveryField) {
  settings.SetEncoder({100, 200, 0, 300, 400, 3});
  settings.SrcFolder = "/src";
  settings.EnablePreview = 1;
  Open();
  QStringList shown;
  for (const char* name :
       {"frameWidthEdit", "frameHeightEdit", "previewWidthEdit", "previewHeightEdit", "destinationEdit"}) {
    shown << Edit(name)->text();
  }
  EXPECT_EQ(shown, (QStringList{"100", "200", "300", "400", "/out/"}));
  EXPECT_EQ(Combo("encoderCombo")->currentText(), "bmp");
  EXPECT_TRUE(Find<QRadioButton>("sameFolderRadio")->isChecked());

  Edit("frameWidthEdit")->setText("64");
  Edit("previewHeightEdit")->setText("1024");
  Combo("encoderCombo")->setCurrentIndex(4);
  ClickOk();
  ASSERT_EQ(dialog->result(), QDialog::Accepted);
  const ConverterSettings saved = Saved();
  EXPECT_EQ(saved.Encoder(), (EncoderParams{64, 200, 0, 300, 1024, 4}));
  EXPECT_EQ(settings.Encoder(), saved.Encoder());
  // Neither shown nor changed, but saved with the rest.
  EXPECT_EQ(saved.SrcFolder, "/src");
  EXPECT_EQ(saved.EnablePreview, 1);
}

TEST_F(SettingsDialogTest, ZoomMasksOpenAsTheirChoiceAndStoreItsMask) {
  // Stored mask, the choice shown, the mask saved.
  const std::tuple<int32_t, int, int32_t> cases[] = {{0, 0, 0},     {1, 1, 253},   {127, 1, 253},
                                                     {253, 1, 253}, {254, 1, 253}, {255, 2, 255}};
  for (const auto& [stored, shown, saved] : cases) {
    settings.ZoomLevelsMask = stored;
    Open();
    EXPECT_EQ(Combo("zoomCombo")->currentIndex(), shown) << stored;
    ClickOk();
    EXPECT_EQ(settings.ZoomLevelsMask, saved) << stored;
    EXPECT_EQ(Saved().ZoomLevelsMask, saved) << stored;
  }
}

TEST_F(SettingsDialogTest, TakingInStopsAtTheFirstFailingFieldInExchangeOrder) {
  Open();
  const QByteArray before = StoreBytes();
  Edit("frameWidthEdit")->setText("10");
  Edit("frameHeightEdit")->setText("600");
  Edit("previewWidthEdit")->setText("50");
  Edit("previewHeightEdit")->setText("12a");  // pasted: typing cannot put a letter there
  // Each OK reports one field; that field then takes the next text.
  const std::tuple<const char*, QString, const char*> steps[] = {
      {"frameHeightEdit", kFrameRange, "512"},     {"frameWidthEdit", kFrameRange, "32"},
      {"previewHeightEdit", kInteger, ""},         {"previewHeightEdit", kInteger, "99999999999"},
      {"previewHeightEdit", kPreviewRange, "128"}, {"previewWidthEdit", kPreviewRange, " 1024 "}};
  for (const auto& [field, message, next] : steps) {
    dialog->messages.clear();
    ClickOk();
    EXPECT_NE(dialog->result(), QDialog::Accepted) << field;
    EXPECT_EQ(dialog->messages, std::vector<QString>{message}) << field;
    EXPECT_EQ(dialog->focusWidget(), Edit(field)) << field;
    EXPECT_EQ(Edit(field)->selectedText(), Edit(field)->text()) << field;
    Edit(field)->setText(next);
  }
  EXPECT_EQ(settings.FrameSizeX, kFrameSizeX.defaultValue);
  EXPECT_EQ(StoreBytes(), before);
  dialog->messages.clear();
  ClickOk();
  EXPECT_TRUE(dialog->messages.empty());
  EXPECT_EQ(dialog->result(), QDialog::Accepted);
  EXPECT_EQ(Saved().Encoder(), (EncoderParams{32, 512, 255, 1024, 128, 0}));
}

TEST_F(SettingsDialogTest, StoredValuesOutOfRangeOrListShowUnchangedAndBlockOk) {
  settings.FrameSizeY = 1000;
  settings.MiniFrameSizeX = -5;
  settings.EncoderCode = 9;
  Open();
  EXPECT_EQ(Edit("frameHeightEdit")->text(), "1000");
  EXPECT_EQ(Edit("previewWidthEdit")->text(), "-5");
  EXPECT_EQ(Combo("encoderCombo")->currentIndex(), -1);
  ClickOk();
  Edit("frameHeightEdit")->setText("160");
  ClickOk();
  Edit("previewWidthEdit")->setText("640");
  ClickOk();
  EXPECT_EQ(dialog->messages,
            (std::vector<QString>{kFrameRange, kPreviewRange, "Please choose a frame format."}));
  EXPECT_EQ(dialog->focusWidget(), Combo("encoderCombo"));
  EXPECT_NE(dialog->result(), QDialog::Accepted);
  EXPECT_EQ(settings.EncoderCode, 9);
  EXPECT_TRUE(StoreBytes().isEmpty());
  Combo("encoderCombo")->setCurrentIndex(2);
  ClickOk();
  EXPECT_EQ(dialog->result(), QDialog::Accepted);
  EXPECT_EQ(Saved().Encoder(), (EncoderParams{160, 160, 255, 640, 640, 2}));
}

TEST_F(SettingsDialogTest, DestinationTranslations) {
  // The text, whether Select is checked, then the folder and flag saved.
  const std::tuple<const char*, bool, std::string, int> cases[] = {
      {"/data/maps", true, "/data/maps/", 0},
      {"/data/maps/", true, "/data/maps/", 0},
      {"", true, "", 0},
      {"/kept/anyway", false, "/kept/anyway/", 1}};
  for (const auto& [text, select, folder, asSame] : cases) {
    Open();
    Edit("destinationEdit")->setText(text);
    Find<QRadioButton>(select ? "selectRadio" : "sameFolderRadio")->setChecked(true);
    ClickOk();
    EXPECT_EQ(std::pair(Saved().DstFolder, Saved().DstFolderAsSame), std::pair(folder, asSame)) << text;
  }
}

TEST_F(SettingsDialogTest, SizesTakeOnlyTypedDigitsAndTypingADestinationChecksSelect) {
  Open();
  Edit("frameWidthEdit")->clear();
  QTest::keyClicks(Edit("frameWidthEdit"), "1a2- .3");
  EXPECT_EQ(Edit("frameWidthEdit")->text(), "123");
  QTest::keyClick(Edit("destinationEdit"), Qt::Key_X);
  EXPECT_TRUE(SelectChecked());
  EXPECT_EQ(Edit("destinationEdit")->text(), "/out/x");
  EXPECT_TRUE(dialog->messages.empty());
}

TEST_F(SettingsDialogTest, TypingInTheDestinationWhileASizeFailsRestoresTheDestination) {
  Open();
  Edit("frameWidthEdit")->setText("10");
  Edit("previewHeightEdit")->setText("300");
  QTest::keyClick(Edit("destinationEdit"), Qt::Key_X);
  EXPECT_EQ(dialog->messages, std::vector<QString>{kFrameRange});
  EXPECT_EQ(dialog->focusWidget(), Edit("frameWidthEdit"));
  EXPECT_EQ(Edit("frameWidthEdit")->selectedText(), "10");
  EXPECT_TRUE(SelectChecked());
  EXPECT_EQ(Edit("destinationEdit")->text(), "/out/");
  // The fields after the failing one show their members again.
  EXPECT_EQ(Edit("previewHeightEdit")->text(), "640");

  // The out-of-range number was kept in its member: a later failure shows it.
  Edit("frameWidthEdit")->setText("abc");
  QTest::keyClick(Edit("destinationEdit"), Qt::Key_Y);
  EXPECT_EQ(dialog->messages.back(), kInteger);
  EXPECT_EQ(Edit("frameWidthEdit")->text(), "10");
}

TEST_F(SettingsDialogTest, BrowseSetsTheDestinationOnOkOnly) {
  Open();
  const std::pair<std::optional<std::string>, QString> picks[] = {
      {std::nullopt, "/out/"}, {"/picked", "/picked"}, {"", ""}};  // Cancel, a folder, an item without a path
  for (const auto& [answer, shown] : picks) {
    dialog->pickAnswer = answer;
    Find<QPushButton>("browseButton")->click();
    EXPECT_EQ(Edit("destinationEdit")->text(), shown);
    EXPECT_EQ(SelectChecked(), answer.has_value());
  }
  // A failing size shows its message and the pick goes on.
  Edit("frameHeightEdit")->setText("");
  dialog->pickAnswer = "/again";
  Find<QPushButton>("browseButton")->click();
  EXPECT_EQ(dialog->messages, std::vector<QString>{kInteger});
  EXPECT_EQ(Edit("destinationEdit")->text(), "/again");
  EXPECT_EQ(dialog->picks, 4);

  // The real "Change folder" dialog: "Home" is selected and lists its sub-folders.
  dialog->useRealPicker = true;
  QTimer::singleShot(0, [] {
    auto* modal = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(modal, nullptr);
    auto* tree = modal->findChild<QTreeWidget*>();
    tree->setCurrentItem(tree->topLevelItem(0)->child(0));
    modal->accept();
  });
  Find<QPushButton>("browseButton")->click();
  EXPECT_EQ(Edit("destinationEdit")->text(), dir.filePath("home/picked"));
}

TEST_F(SettingsDialogTest, CancelChangesNothing) {
  ASSERT_TRUE(settings.SaveSettings());
  const QByteArray before = StoreBytes();
  const ConverterSettings original = settings;
  for (const bool escape : {false, true}) {
    Open();
    Edit("frameWidthEdit")->setText("64");
    Combo("zoomCombo")->setCurrentIndex(0);
    QTest::keyClick(Edit("destinationEdit"), Qt::Key_Z);
    if (escape) {
      QTest::keyClick(dialog.get(), Qt::Key_Escape);
    } else {
      Find<QPushButton>("cancelButton")->click();
    }
    EXPECT_EQ(dialog->result(), QDialog::Rejected);
    EXPECT_EQ(settings.Encoder(), original.Encoder());
    EXPECT_EQ(settings.DstFolder, original.DstFolder);
    EXPECT_EQ(settings.DstFolderAsSame, original.DstFolderAsSame);
    EXPECT_EQ(StoreBytes(), before);
  }
}

}  // namespace
}  // namespace rzt2
