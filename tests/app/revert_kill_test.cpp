// A revert killed at each of its steps in a process of its own (ended abruptly, nothing unwound),
// then the next run's start: the previous version must be back whole every time, with the hold
// the revert was writing.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>

#include "app/first_start_watch_session.h"
#include "app/started_process.h"
#include "common/app_directory.h"
#include "common/files.h"
#include "common/settings.h"
#include "support/temp_dir.h"
#include "support/test_programs.h"
#include "support/test_settings.h"
#include "update/first_start_watch_store.h"
#include "update/update_engine.h"

namespace {

// A full disk as the replacements meet it: no byte can be written, and so no file, no record
// and (POSIX) no settings store; renames and removals need no room and still work.
StepFault FullDisk(ReplaceStep step) {
  const bool needsRoom = step == ReplaceStep::kWrite || step == ReplaceStep::kFlush ||
                         step == ReplaceStep::kWriteInPlace;
  return needsRoom ? StepFault::kOtherError : StepFault::kNone;
}

int g_stepsBeforeFull = -1;  // conclude steps before the disk fills; -1: it never does

bool FillDiskBeforeStep(ConclusionStep /*step*/) {
  if (g_stepsBeforeFull == 0) SetReplaceStepHook(FullDisk);
  if (g_stepsBeforeFull >= 0) --g_stepsBeforeFull;
  return true;
}

class RevertKillTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetTestSettings();
    std::filesystem::create_directories(m_temp.Join("app"));
    SetTestSetting(kAppSettingsKey, kAppPathValue, AppDir() + "pos.exe");
    SetTestSetting(kAppSettingsKey, kStartWatchValue, "5");
    SetTestEnvironment("MUBAX_TEST_APP_DIR", AppDir());
  }
  void TearDown() override {
    SetConclusionStepHook(nullptr);
    SetReplaceStepHook(nullptr);
    ResetTestSettings();
  }

  std::string AppDir() const { return m_temp.Join("app") + kDirectorySeparator; }
  static std::string Read(const std::string& path) {
    std::string bytes;
    return ReadWholeFile(path, bytes) ? bytes : "<missing>";
  }
  static std::string Held() {
    char held[256] = {};
    ReadRegistryString(RegistryRoot::CurrentUser, kAppSettingsKey, kHeldVersionValue, held,
                       sizeof(held));
    return held;
  }

  // Release 1.1 installed over 1.0 through the watch's own sink, left under watch.
  void InstallUnderWatch() {
    ASSERT_TRUE(WriteWholeFile(AppDir() + "uno.dll", "old uno"));
    ASSERT_TRUE(WriteWholeFile(AppDir() + "pos.exe", "old main"));
    std::remove((AppDir() + "nuevo.dat").c_str());
    FirstStartWatchSession watch(m_disk);
    FileSink& sink = watch.Sink();
    watch.BeginInstall("1.0", "1.1");
    const std::string bytes[] = {"new uno", "new main", "new file"};
    const std::string uno = AppDir() + "uno.dll";
    const std::string added = AppDir() + "nuevo.dat";
    const char* destinations[] = {uno.c_str(), nullptr, added.c_str()};
    for (int i = 0; i < 3; ++i) {
      BytesContent content(reinterpret_cast<const unsigned char*>(bytes[i].data()),
                           bytes[i].size());
      ASSERT_TRUE(sink.Write(content, destinations[i]).Installed());
    }
    watch.EndInstall();
  }

  // Runs the dying revert; true when it died (rather than finishing).
  bool RevertDyingBeforeStep(int step) {
    SetTestEnvironment("MUBAX_TEST_KILL_STEP", std::to_string(step));
    StartedProcess process;
    EXPECT_TRUE(StartProgram(SiblingProgramPath("revert_until_killed").c_str(), &process));
    for (int i = 0; i < 600 && !process.HasExited(); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_TRUE(process.HasExited());
    return PathExists(AppDir() + kWatchFolderName + kDirectorySeparator + kWatchRecordName);
  }

  TempDir m_temp;
  DiskFileSink m_disk;
};

TEST_F(RevertKillTest, EveryKilledStepIsFinishedByTheNextRun) {
  int step = 0;
  for (;; ++step) {
    SCOPED_TRACE("killed before step " + std::to_string(step));
    SetUp();
    InstallUnderWatch();
    ASSERT_EQ(Read(AppDir() + "pos.exe"), "new main");
    if (!RevertDyingBeforeStep(step)) break;  // the revert outran the kill: every step is done
    // The next run, before anything else.
    FirstStartWatchSession next(m_disk);
    next.FinishEarlierRun(DroppedRunLog());
    EXPECT_TRUE(next.MayInstall("1.2"));
    EXPECT_EQ(Read(AppDir() + "uno.dll"), "old uno");
    EXPECT_EQ(Read(AppDir() + "pos.exe"), "old main");
    EXPECT_FALSE(PathExists(AppDir() + "nuevo.dat"));
    EXPECT_FALSE(PathExists(AppDir() + kWatchFolderName));
    // Killed before the revert was marked: the start was never judged, so no hold.
    EXPECT_EQ(Held(), step == 0 ? "" : "1.1");
    EXPECT_EQ(next.MayInstall("1.1"), step == 0);
  }
  EXPECT_GT(step, 5);
  EXPECT_EQ(Read(AppDir() + "pos.exe"), "old main");
  EXPECT_EQ(Held(), "1.1");
}

}  // namespace

namespace {

// The failed start's revert meets a full disk before any one of its steps (the state changes
// included), then the till is restarted while the disk is still full, then once it has room
// again: at no point may a run install the held release, which would fill the disk again.
TEST_F(RevertKillTest, ARevertMeetingAFullDiskAtAnyStepNeverLosesTheHold) {
  int step = 0;
  for (;; ++step) {
    SCOPED_TRACE("disk full before step " + std::to_string(step));
    SetUp();
    InstallUnderWatch();
    g_stepsBeforeFull = step;
    SetConclusionStepHook(FillDiskBeforeStep);
    FirstStartWatchStore store(AppDir());
    ASSERT_TRUE(store.Load());
    const ConclusionResult first = store.Revert(true);
    SetConclusionStepHook(nullptr);
    const bool filled = g_stepsBeforeFull < 0;
    {
      FirstStartWatchSession stillFull(m_disk);
      stillFull.FinishEarlierRun(DroppedRunLog());
      EXPECT_FALSE(stillFull.MayInstall("1.1"));
    }
    SetReplaceStepHook(nullptr);
    FirstStartWatchSession roomAgain(m_disk);
    roomAgain.FinishEarlierRun(DroppedRunLog());
    EXPECT_FALSE(roomAgain.MayInstall("1.1"));
    EXPECT_TRUE(roomAgain.MayInstall("1.2"));
    EXPECT_EQ(Held(), "1.1");
    EXPECT_EQ(Read(AppDir() + "uno.dll"), "old uno");
    EXPECT_EQ(Read(AppDir() + "pos.exe"), "old main");
    EXPECT_FALSE(PathExists(AppDir() + "nuevo.dat"));
    EXPECT_FALSE(PathExists(AppDir() + kWatchFolderName));
    if (!filled) {
      EXPECT_EQ(first, ConclusionResult::kDone);
      break;
    }
  }
  EXPECT_GT(step, 5);
}

}  // namespace

namespace {

// A keep that fails for the second file: the first goes back at once, the run ends on the old
// version whole, and no watch starts for a release that is not there.
TEST_F(RevertKillTest, AKeepThatFailsPutsTheFirstFileBackAndStartsNoWatch) {
  ASSERT_TRUE(WriteWholeFile(AppDir() + "uno.dll", "old uno"));
  ASSERT_TRUE(WriteWholeFile(AppDir() + "pos.exe", "old main"));
  FirstStartWatchSession watch(m_disk);
  FileSink& sink = watch.Sink();
  watch.BeginInstall("1.0", "1.1");
  // The second copy's name is taken by a directory: that keep cannot be made.
  std::filesystem::create_directories(AppDir() + kWatchFolderName + kDirectorySeparator + "2");
  const std::string uno = AppDir() + "uno.dll";
  const std::string bytes = "new";
  const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
  BytesContent content(data, bytes.size());
  EXPECT_TRUE(sink.Write(content, uno.c_str()).Installed());
  BytesContent again(data, bytes.size());
  EXPECT_FALSE(sink.Write(again, nullptr).Installed());
  watch.EndInstall();
  EXPECT_EQ(Read(uno), "old uno");
  EXPECT_EQ(Read(AppDir() + "pos.exe"), "old main");
  StartedProcess nothingStarted;
  EXPECT_EQ(watch.WatchAndConclude(nothingStarted, 0), FirstStartWatchOutcome::kNotWatched);
  EXPECT_EQ(Held(), "");
}

// A record the next run cannot read is left exactly as it is for a person to look at; one it
// cannot conclude (a kept copy gone) stays, moved on to its revert. With the watch on nothing is
// installed over either, and the file the record names is not touched.
TEST_F(RevertKillTest, ARecordThatCannotBeSettledInstallsNothingAndStaysUntouched) {
  const std::string folder = AppDir() + kWatchFolderName + kDirectorySeparator;
  const std::string record = folder + kWatchRecordName;
  struct Row {
    const char* name;
    std::string text;
    std::string afterwards;
  };
  const std::string fileLine = "file\treplaced\t0\t1\t" + AppDir() + "uno.dll\n";
  const std::string versions = "hold\t0\noffered\t1.1\ninstalled\t1.0\n";
  const Row rows[] = {
      {"garbled", "mubax-previous 1\nstate\tsomewhere\n", "mubax-previous 1\nstate\tsomewhere\n"},
      {"unsettled: its copy is gone", "mubax-previous 1\nstate\tprobation\n" + versions + fileLine,
       "mubax-previous 1\nstate\treverting\n" + versions + fileLine},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    std::filesystem::create_directories(folder);
    ASSERT_TRUE(WriteWholeFile(AppDir() + "uno.dll", "new uno"));
    ASSERT_TRUE(WriteWholeFile(record, row.text));
    FirstStartWatchSession next(m_disk);
    next.FinishEarlierRun(DroppedRunLog());
    EXPECT_FALSE(next.MayInstall("1.2"));
    EXPECT_EQ(Read(record), row.afterwards);
    EXPECT_EQ(Read(AppDir() + "uno.dll"), "new uno");
  }
}

}  // namespace
