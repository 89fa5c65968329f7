// The settings dialog: opening from the record, the exchange order and its
// messages, the zoom and destination translations, Cancel, and the "..."
// button. Each test keeps its store in its own temporary folder.
#include "ui/settings_dialog.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

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

TEST_F(SettingsDialogTest, TabOrderFollowsTheLayout) {
  Open();
  const QStringList tabOrder = {"zoomCombo",         "destinationEdit", "browseButton",
                                "frameWidthEdit",    "frameHeightEdit", "previewWidthEdit",
                                "previewHeightEdit", "encoderCombo",    "okButton",
                                "cancelButton",      "sameFolderRadio", "selectRadio"};
  QStringList chain;
  QWidget* widget = Find<QWidget>("zoomCombo");
  do {
    if (widget->focusPolicy() & Qt::TabFocus && widget->isEnabled()) chain << widget->objectName();
    widget = widget->nextInFocusChain();
  } while (widget != Find<QWidget>("zoomCombo"));
  chain.removeAll(QString());
  EXPECT_EQ(chain, tabOrder);
}

TEST_F(SettingsDialogTest, OpensFromTheRecordAndStoresEveryField) {
  settings.FrameSizeX = 100;
  settings.FrameSizeY = 200;
  settings.MiniFrameSizeX = 300;
  settings.MiniFrameSizeY = 400;
  settings.EncoderCode = 3;
  settings.SrcFolder = "/src";
  settings.EnablePreview = 1;
  Open();
  EXPECT_EQ(Edit("frameWidthEdit")->text(), "100");
  EXPECT_EQ(Edit("frameHeightEdit")->text(), "200");
  EXPECT_EQ(Edit("previewWidthEdit")->text(), "300");
  EXPECT_EQ(Edit("previewHeightEdit")->text(), "400");
  EXPECT_EQ(Combo("encoderCombo")->currentText(), "bmp");
  EXPECT_EQ(Edit("destinationEdit")->text(), "/out/");
  EXPECT_TRUE(Find<QRadioButton>("sameFolderRadio")->isChecked());

  Edit("frameWidthEdit")->setText("64");
  Edit("previewHeightEdit")->setText("1024");
  Combo("encoderCombo")->setCurrentIndex(4);
  ClickOk();
  ASSERT_EQ(dialog->result(), QDialog::Accepted);
  const ConverterSettings saved = Saved();
  EXPECT_EQ(saved.FrameSizeX, 64);
  EXPECT_EQ(saved.FrameSizeY, 200);
  EXPECT_EQ(saved.MiniFrameSizeX, 300);
  EXPECT_EQ(saved.MiniFrameSizeY, 1024);
  EXPECT_EQ(saved.EncoderCode, 4);
  EXPECT_EQ(settings.Encoder(), saved.Encoder());
  // Neither shown nor changed, but saved with the rest.
  EXPECT_EQ(saved.SrcFolder, "/src");
  EXPECT_EQ(saved.EnablePreview, 1);
}

TEST_F(SettingsDialogTest, ZoomMasksOpenAsTheirChoiceAndStoreItsMask) {
  const struct {
    int32_t stored;
    int shown;
    int32_t saved;
  } cases[] = {{0, 0, 0}, {1, 1, 253}, {127, 1, 253}, {253, 1, 253}, {254, 1, 253}, {255, 2, 255}};
  for (const auto& c : cases) {
    settings.ZoomLevelsMask = c.stored;
    Open();
    EXPECT_EQ(Combo("zoomCombo")->currentIndex(), c.shown) << c.stored;
    ClickOk();
    EXPECT_EQ(settings.ZoomLevelsMask, c.saved) << c.stored;
    EXPECT_EQ(Saved().ZoomLevelsMask, c.saved) << c.stored;
  }
}

TEST_F(SettingsDialogTest, TakingInStopsAtTheFirstFailingFieldInExchangeOrder) {
  Open();
  const QByteArray before = StoreBytes();
  Edit("frameWidthEdit")->setText("10");
  Edit("frameHeightEdit")->setText("600");
  Edit("previewWidthEdit")->setText("50");
  Edit("previewHeightEdit")->setText("12a");  // pasted: typing cannot put a letter there
  const auto okReports = [&](const char* field, const QString& message) {
    dialog->messages.clear();
    ClickOk();
    EXPECT_NE(dialog->result(), QDialog::Accepted) << field;
    EXPECT_EQ(dialog->messages, std::vector<QString>{message}) << field;
    EXPECT_EQ(dialog->focusWidget(), Edit(field)) << field;
    EXPECT_EQ(Edit(field)->selectedText(), Edit(field)->text()) << field;
  };
  okReports("frameHeightEdit", kFrameRange);
  Edit("frameHeightEdit")->setText("512");
  okReports("frameWidthEdit", kFrameRange);
  Edit("frameWidthEdit")->setText("32");
  okReports("previewHeightEdit", kInteger);
  Edit("previewHeightEdit")->setText("");
  okReports("previewHeightEdit", kInteger);
  Edit("previewHeightEdit")->setText("99999999999");
  okReports("previewHeightEdit", kPreviewRange);
  Edit("previewHeightEdit")->setText("128");
  okReports("previewWidthEdit", kPreviewRange);
  EXPECT_EQ(settings.FrameSizeX, kFrameSizeX.defaultValue);
  EXPECT_EQ(StoreBytes(), before);

  Edit("previewWidthEdit")->setText(" 1024 ");
  dialog->messages.clear();
  ClickOk();
  EXPECT_TRUE(dialog->messages.empty());
  EXPECT_EQ(dialog->result(), QDialog::Accepted);
  EXPECT_EQ(Saved().Encoder(), (EncoderParams{32, 512, 255, 1024, 128, 0}));
}

TEST_F(SettingsDialogTest, StoredOutOfRangeValuesShowUnchangedAndBlockOk) {
  settings.FrameSizeY = 1000;
  settings.MiniFrameSizeX = -5;
  Open();
  EXPECT_EQ(Edit("frameHeightEdit")->text(), "1000");
  EXPECT_EQ(Edit("previewWidthEdit")->text(), "-5");
  ClickOk();
  EXPECT_EQ(dialog->messages, std::vector<QString>{kFrameRange});
  Edit("frameHeightEdit")->setText("160");
  ClickOk();
  EXPECT_EQ(dialog->messages.back(), kPreviewRange);
  EXPECT_NE(dialog->result(), QDialog::Accepted);
  EXPECT_EQ(settings.MiniFrameSizeX, -5);
  EXPECT_TRUE(StoreBytes().isEmpty());
}

TEST_F(SettingsDialogTest, StoredFormatOutsideTheListMustBeChosenBeforeOk) {
  settings.EncoderCode = 9;
  Open();
  EXPECT_EQ(Combo("encoderCombo")->currentIndex(), -1);
  ClickOk();
  EXPECT_EQ(dialog->messages, std::vector<QString>{"Please choose a frame format."});
  EXPECT_EQ(dialog->focusWidget(), Combo("encoderCombo"));
  EXPECT_EQ(settings.EncoderCode, 9);
  Combo("encoderCombo")->setCurrentIndex(2);
  ClickOk();
  EXPECT_EQ(dialog->result(), QDialog::Accepted);
  EXPECT_EQ(Saved().EncoderCode, 2);
}

TEST_F(SettingsDialogTest, SizeFieldsTakeOnlyTypedDigits) {
  Open();
  QLineEdit* edit = Edit("frameWidthEdit");
  edit->clear();
  QTest::keyClicks(edit, "1a2- .3");
  EXPECT_EQ(edit->text(), "123");
}

TEST_F(SettingsDialogTest, DestinationTranslations) {
  const struct {
    const char* text;
    bool select;
    const char* savedFolder;
    int savedAsSame;
  } cases[] = {{"/data/maps", true, "/data/maps/", 0},
               {"/data/maps/", true, "/data/maps/", 0},
               {"", true, "", 0},
               {"/kept/anyway", false, "/kept/anyway/", 1}};
  for (const auto& c : cases) {
    Open();
    Edit("destinationEdit")->setText(c.text);
    Find<QRadioButton>(c.select ? "selectRadio" : "sameFolderRadio")->setChecked(true);
    ClickOk();
    const ConverterSettings saved = Saved();
    EXPECT_EQ(saved.DstFolder, c.savedFolder) << c.text;
    EXPECT_EQ(saved.DstFolderAsSame, c.savedAsSame) << c.text;
  }
}

TEST_F(SettingsDialogTest, TypingInTheDestinationChecksSelect) {
  Open();
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
  dialog->pickAnswer = std::nullopt;
  Find<QPushButton>("browseButton")->click();
  EXPECT_EQ(Edit("destinationEdit")->text(), "/out/");
  EXPECT_FALSE(SelectChecked());

  dialog->pickAnswer = "/picked";
  Find<QPushButton>("browseButton")->click();
  EXPECT_EQ(Edit("destinationEdit")->text(), "/picked");
  EXPECT_TRUE(SelectChecked());

  dialog->pickAnswer = "";  // an item without a path
  Find<QPushButton>("browseButton")->click();
  EXPECT_EQ(Edit("destinationEdit")->text(), "");
  EXPECT_TRUE(SelectChecked());

  // A failing size shows its message and the pick goes on.
  Edit("frameHeightEdit")->setText("");
  dialog->pickAnswer = "/again";
  Find<QPushButton>("browseButton")->click();
  EXPECT_EQ(dialog->messages, std::vector<QString>{kInteger});
  EXPECT_EQ(Edit("destinationEdit")->text(), "/again");
  EXPECT_EQ(dialog->picks, 4);
}

TEST_F(SettingsDialogTest, BrowseRunsTheChangeFolderDialog) {
  Open();
  dialog->useRealPicker = true;
  QTreeWidget* seenTree = nullptr;
  QTimer::singleShot(0, [&] {
    auto* modal = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(modal, nullptr);
    seenTree = modal->findChild<QTreeWidget*>();
    // The first item, "Home", is selected and lists its sub-folders.
    seenTree->setCurrentItem(seenTree->topLevelItem(0)->child(0));
    modal->accept();
  });
  Find<QPushButton>("browseButton")->click();
  ASSERT_NE(seenTree, nullptr);
  EXPECT_EQ(Edit("destinationEdit")->text(), dir.filePath("home/picked"));
  EXPECT_TRUE(SelectChecked());
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
