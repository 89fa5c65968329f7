// A main window on a private source folder and a private settings file,
// with its questions answered by the test and its jobs observed.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/main_dialog.h"
#include "settings/converter_settings.h"
#include "support/test_support.h"
#include "ui/file_list.h"
#include "ui/user_prompts.h"

namespace rzt2::test {

// Answers like a user would, and remembers what was asked.
class FakePrompts final : public UserPrompts {
 public:
  std::vector<QString> messages;   // "caption [icon] text"
  std::vector<QString> questions;  // "caption: text"
  std::vector<QString> exportMessages;
  bool answerYes = true;
  std::optional<int> exportAnswer = 0;
  std::function<void()> whileShown;  // runs while a message would be on screen

  void ShowMessage(QWidget*, const QString& text, const QString& caption, MessageIcon icon) override {
    const char* icons[] = {"info", "question", "error"};
    messages.push_back(caption + " [" + icons[static_cast<int>(icon)] + "] " + text);
    if (whileShown) whileShown();
  }
  bool AskYesNo(QWidget*, const QString& text, const QString& caption) override {
    questions.push_back(caption + ": " + text);
    return answerYes;
  }
  std::optional<int> AskExportFormat(QWidget*, const QString& message) override {
    exportMessages.push_back(message);
    return exportAnswer;
  }
};

class MainWindowTest : public ::testing::Test {
 protected:
  std::string Folder() const { return dir.Path().string(); }
  std::string StoreFile() const { return (config.Path() / "rzt2tool.conf").string(); }
  // The settings as the store holds them now.
  ConverterSettings Stored() const {
    ConverterSettings stored(StoreFile());
    stored.LoadSettings();
    return stored;
  }

  // Stores the settings (source folder: the test's folder unless changed),
  // then opens the window on them, shown and active.
  MainDialog& Open(const std::function<void(ConverterSettings&)>& adjust = {}) {
    ConverterSettings settings(StoreFile());
    settings.SrcFolder = Folder();
    if (adjust) adjust(settings);
    EXPECT_TRUE(settings.SaveSettings());
    window_ = std::make_unique<MainDialog>(StoreFile(), &prompts, shell);
    window_->show();
    QApplication::setActiveWindow(window_.get());
    EXPECT_TRUE(QTest::qWaitForWindowActive(window_.get()));
    return *window_;
  }
  MainDialog& Window() { return *window_; }
  FileList& List() { return *window_->List(); }

  std::vector<std::string> Names() {
    std::vector<std::string> names;
    for (int i = 0; i < List().Count(); ++i) names.push_back(List().ItemName(i));
    return names;
  }
  int IndexOf(const std::string& name) {
    for (int i = 0; i < List().Count(); ++i) {
      if (List().ItemName(i) == name) return i;
    }
    return -1;
  }
  void Focus(const std::string& name) { List().SetFocusedIndex(IndexOf(name)); }
  void Select(const std::vector<std::string>& names) {
    List().clearSelection();
    for (const std::string& name : names) List().topLevelItem(IndexOf(name))->setSelected(true);
  }
  // A map-like picture file in the test's folder; mime picks the format.
  void Picture(const std::string& name, int32_t width, int32_t height, const char* mime = "image/png",
               uint32_t seed = 1) {
    ASSERT_EQ(SavePicture(dir / name, mime, width, height, seed), Status::Ok);
  }

  TempDir dir;
  TempDir config;
  FakePrompts prompts;
  ShellNamespace* shell = nullptr;  // null: this machine's folders

 private:
  CurrentFolder restore_{std::filesystem::current_path()};  // the window changes folders
  std::unique_ptr<MainDialog> window_;
};

}  // namespace rzt2::test
