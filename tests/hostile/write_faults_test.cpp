// Write faults met by real batch jobs through the real file system: a full
// disk (a small private tmpfs), a file-size limit, a read-only folder, a
// backup name too long. Each failed file is reported, the job goes on, and
// every earlier output and backup stays byte for byte as it was. Also the
// new file's mode.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <iostream>
#include <map>

#include "base/memory_budget.h"
#include "hostile/hostile_support.h"
#include "jobs/job_runner.h"
#include "raster/codecs/image_formats.h"
#include "support/test_support.h"

namespace rzt2 {
namespace {

namespace fs = std::filesystem;
using Files = std::map<std::string, std::vector<uint8_t>>;

std::vector<uint8_t> Text(const std::string& text) { return {text.begin(), text.end()}; }

void Picture(const fs::path& path, int32_t width, int32_t height) {
  ASSERT_EQ(test::SavePicture(path, "image/png", width, height), Status::Ok);
}

class WriteFaultTest : public testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(src_);
    fs::create_directories(out_);
    Picture(src_ / "a.png", 300, 200);
    Picture(src_ / "b.png", 240, 180);
  }

  // Earlier outputs and one backup, as a user's folder has them.
  static void PutEarlierFiles(const fs::path& folder) {
    for (const auto& [name, bytes] : kEarlier) test::WriteFileBytes(folder / name, bytes);
  }
  // The earlier files that are no longer byte for byte what they were.
  static std::string Changed(const fs::path& folder) {
    std::string changed;
    for (const auto& [name, bytes] : kEarlier) {
      if (test::ReadFileBytes(folder / name) != bytes) changed += name + " ";
    }
    return changed;
  }

  // Runs a job on the sources into folder and tells its counts and messages.
  std::string Run(JobKind kind, const std::vector<std::string>& sources, const fs::path& folder,
                  test::RecordingHost* observer = nullptr) {
    JobRequest request;
    request.kind = kind;
    request.exportFormat = 3;  // bmp
    for (const std::string& name : sources) request.names.push_back((src_ / name).string());
    request.placement = {false, folder.string() + "/"};
    SourceLoader loader;
    test::RecordingHost own;
    test::RecordingHost& host = observer != nullptr ? *observer : own;
    const JobResult result = RunJob(request, loader, host);
    std::string text =
        std::to_string(result.files) + " files, " + std::to_string(result.failed) + " failed\n";
    for (const std::string& error : host.errors) text += error + "\n";
    return text;
  }

  // A failed output as rzt2 prints it, with its cause.
  std::string SavingError(const fs::path& folder, const std::string& name, const std::string& cause) {
    return "Error while creating/saving file " + folder.string() + "/" + name + "! (" + cause + ")\n";
  }

  static inline const Files kEarlier = {{"a.rzt2", Text("earlier a map")},
                                        {"a.rzt2.bak", Text("backup of a")},
                                        {"b.rzt2", Text("earlier b map")},
                                        {"a.bmp", Text("earlier a export")}};
  test::TempDir dir_;
  const fs::path src_ = dir_ / "src";
  const fs::path out_ = dir_ / "out";
};

// Over the memory budget, pixels go to the temporary folder; when it is full
// the file fails to load and the earlier outputs stay as they were.
TEST_F(WriteFaultTest, AFullTemporaryFolderFailsPicturesKeptOnDisk) {
  PutEarlierFiles(out_);
  const fs::path temporary = dir_ / "tmp";
  fs::create_directories(temporary);
  const std::string report = test::RunInChild([&] {
    if (std::string why = test::MountPrivateTmpfs(temporary, 64 << 10); !why.empty())
      return test::kSkip + why;
    test::FillUp(temporary, "filler");
    ::setenv("TMPDIR", temporary.c_str(), 1);
    MemoryBudget::Process().SetLimit(0);
    return Run(JobKind::Convert, {"a.png"}, out_) + "changed: " + Changed(out_) + "\n";
  });
  if (report.starts_with(test::kSkip)) GTEST_SKIP() << report;
  EXPECT_EQ(report, "1 files, 1 failed\nError loading file " + (src_ / "a.png").string() +
                        "! (disk full)\nchanged: \n");
  EXPECT_EQ(test::Listing(out_), "a.bmp a.rzt2 a.rzt2.bak b.rzt2");
}

// Each fault is set up in a child, where a conversion and an export then
// fail on a.png; tiny.png fits under the file-size limit.
TEST_F(WriteFaultTest, EachFailedFileIsReportedAndEarlierFilesStayAsTheyWere) {
  Picture(src_ / "tiny.png", 2, 2);
  const struct {
    const char* cause;
    std::function<std::string()> setUp;  // "" or why it could not
    std::vector<std::string> sources;
    std::string left;
    std::string afterwards;  // once the fault is gone: the files, then the backups
  } faults[] = {
      {"disk full",
       [&] {
         if (std::string why = test::MountPrivateTmpfs(out_, 4 << 20); !why.empty()) return why;
         PutEarlierFiles(out_);
         test::FillUp(out_, "filler");
         return std::string();
       },
       {"a.png"},
       "a.bmp a.rzt2 a.rzt2.bak b.rzt2 filler",
       "a.bmp a.bmp.bak a.rzt2 a.rzt2.bak b.rzt2 b.rzt2.bak kept"},
      {"read-only file system",
       [&] { return test::MountPrivateTmpfs(out_, 1 << 20, true, PutEarlierFiles); },
       {"a.png"},
       "a.bmp a.rzt2 a.rzt2.bak b.rzt2",
       ""},
      {"over the file size limit",
       [&] {
         PutEarlierFiles(out_);
         std::signal(SIGXFSZ, SIG_IGN);  // as both main()s do
         const rlimit limit{32 << 10, 32 << 10};
         return ::setrlimit(RLIMIT_FSIZE, &limit) == 0 ? "" : "setrlimit";
       },
       {"a.png", "tiny.png"},
       "a.bmp a.rzt2 a.rzt2.bak b.rzt2 tiny.bmp tiny.rzt2",
       ""},
  };
  for (const auto& fault : faults) {
    SCOPED_TRACE(fault.cause);
    const std::string report = test::RunInChild([&] {
      if (std::string why = fault.setUp(); !why.empty()) return test::kSkip + why;
      std::string text =
          Run(JobKind::Convert, fault.sources, out_) + Run(JobKind::Export, fault.sources, out_);
      text += "left: " + test::Listing(out_) + "\nchanged: " + Changed(out_) + "\n";
      if (fault.afterwards.empty()) return text;
      // With room again, the same jobs succeed; the older backup of a stays.
      fs::remove(out_ / "filler");
      Run(JobKind::Convert, {"a.png", "b.png"}, out_);
      Run(JobKind::Export, {"a.png"}, out_);
      const bool kept = test::ReadFileBytes(out_ / "a.rzt2.bak") == kEarlier.at("a.rzt2.bak") &&
                        test::ReadFileBytes(out_ / "b.rzt2.bak") == kEarlier.at("b.rzt2");
      return text + test::Listing(out_) + (kept ? " kept" : " lost");
    });
    if (report.starts_with(test::kSkip)) {
      std::cout << report << "\n";
      continue;
    }
    const std::string counts = std::to_string(fault.sources.size()) + " files, 1 failed\n";
    std::string expected = counts + SavingError(out_, "a.rzt2", fault.cause);
    expected += counts + SavingError(out_, "a.bmp", fault.cause);
    expected += "left: " + fault.left + "\nchanged: \n" + fault.afterwards;
    EXPECT_EQ(report, expected);
  }
}

// With ".bak" a 251-byte name still fits the file system's 255 bytes; a
// 252-byte one no longer does, and the earlier map is kept as it was.
TEST_F(WriteFaultTest, AnEarlierMapIsKeptWhenItsBackupNameCannotBeMade) {
  for (const size_t length : {251u, 252u}) {
    SCOPED_TRACE(length);
    const std::string stem(length - 5, 'm');
    Picture(src_ / (stem + ".png"), 40, 30);
    test::WriteFileBytes(out_ / (stem + ".rzt2"), Text("earlier"));
    const bool fits = length == 251;
    EXPECT_EQ(Run(JobKind::Convert, {stem + ".png"}, out_),
              fits ? "1 files, 0 failed\n"
                   : "1 files, 1 failed\n" +
                         SavingError(out_, stem + ".rzt2", "no backup of the earlier file could be made"));
    EXPECT_EQ(test::ReadFileBytes(out_ / (stem + (fits ? ".rzt2.bak" : ".rzt2"))), Text("earlier"));
  }
  const std::string m246(246, 'm');  // no temporary file is left
  EXPECT_EQ(test::Listing(out_), m246 + ".rzt2 " + m246 + ".rzt2.bak " + m246 + "m.rzt2");
}

TEST_F(WriteFaultTest, TheNewFileTakesOnlyAnEarlierRegularFilesPermissions) {
  test::WriteFileBytes(dir_ / "program", Text("#!/bin/sh\n"));
  ::chmod((dir_ / "program").c_str(), 04755);
  const auto regular = [&](mode_t mode) {
    return [&, mode] {
      test::WriteFileBytes(out_ / "a.rzt2", Text("earlier"));
      ::chmod((out_ / "a.rzt2").c_str(), mode);
    };
  };
  const auto symlink = [&](const fs::path& to) {
    return [&, to] { fs::create_symlink(to, out_ / "a.rzt2"); };
  };
  const std::tuple<const char*, std::function<void()>, mode_t> cases[] = {
      {"no earlier file", [] {}, 0600},
      {"setuid", regular(04755), 0755},
      {"read-only", regular(0444), 0644},  // writable for its owner, as it had to be to be overwritten
      {"symlink to a setuid file", symlink(dir_ / "program"), 0600},
  };
  const mode_t umask = ::umask(077);
  for (const auto& [what, earlier, expected] : cases) {
    SCOPED_TRACE(what);
    fs::remove(out_ / "a.rzt2");
    fs::remove(out_ / "a.rzt2.bak");
    earlier();
    EXPECT_EQ(Run(JobKind::Convert, {"a.png"}, out_), "1 files, 0 failed\n");
    struct stat info {};
    ASSERT_EQ(::lstat((out_ / "a.rzt2").c_str(), &info), 0);
    EXPECT_TRUE(S_ISREG(info.st_mode));
    EXPECT_EQ(info.st_mode & 07777, expected);
  }
  ::umask(umask);
  EXPECT_EQ(fs::status(dir_ / "program").permissions(), fs::perms(04755));
}

}  // namespace
}  // namespace rzt2
