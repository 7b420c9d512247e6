// The watch folder of a first-start watch on real files: what a run keeps, a keep that fails, a
// destination that is no file, and a revert or clean-up cut at each of its steps and then
// finished by the next run, which must end on a whole version.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <string>
#include <utility>
#include <vector>

#include "common/app_directory.h"
#include "common/files.h"
#include "common/settings.h"
#include "support/disk_conditions.h"
#include "support/temp_dir.h"
#include "support/test_settings.h"
#include "update/first_start_watch_store.h"
#include "update/update_engine.h"

namespace {

int g_stepsLeft = -1;  // steps allowed before the simulated power cut; -1: no cut

bool CutPowerAfterSteps(ConclusionStep /*step*/) {
  if (g_stepsLeft == 0) return false;
  if (g_stepsLeft > 0) --g_stepsLeft;
  return true;
}

std::string HeldVersion() {
  char held[256] = {};
  ReadRegistryString(RegistryRoot::CurrentUser, kAppSettingsKey, kHeldVersionValue, held,
                     sizeof(held));
  return held;
}

class FirstStartWatchStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetTestSettings();
    std::filesystem::create_directories(m_temp.Join("app"));
    SetTestSetting(kAppSettingsKey, kAppPathValue, Main());
    ASSERT_TRUE(WriteWholeFile(Uno(), "old uno"));
    ASSERT_TRUE(WriteWholeFile(Main(), "old main"));
  }
  void TearDown() override {
    SetConclusionStepHook(nullptr);
    SetReplaceStepHook(nullptr);
    ResetTestSettings();
  }

  std::string AppDir() const { return m_temp.Join("app") + kDirectorySeparator; }
  std::string Uno() const { return AppDir() + "uno.dll"; }
  std::string Main() const { return AppDir() + "pos.exe"; }
  std::string Added() const { return AppDir() + "nuevo.dat"; }
  std::string Folder() const { return AppDir() + kWatchFolderName; }
  static std::string Read(const std::string& path) {
    std::string bytes;
    return ReadWholeFile(path, bytes) ? bytes : "<missing>";
  }
  static FileWrite WriteFile(FirstStartWatchSink& sink, const char* destination,
                             const std::string& bytes) {
    BytesContent content(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    return sink.Write(content, destination);
  }
  static int Write(FirstStartWatchSink& sink, const char* destination, const std::string& bytes) {
    return WriteFile(sink, destination, bytes).Installed() ? 1 : 0;
  }

  // A run of release 1.1 over 1.0: a component replaced, the main executable replaced, a file
  // added; left under watch.
  void InstallRelease() {
    FirstStartWatchStore store(AppDir());
    ASSERT_TRUE(store.Begin("1.0", "1.1"));
    FirstStartWatchSink sink(m_disk, store);
    EXPECT_EQ(Write(sink, Uno().c_str(), "new uno"), 1);
    EXPECT_EQ(Write(sink, nullptr, "new main"), 1);
    EXPECT_EQ(Write(sink, Added().c_str(), "new file"), 1);
    ASSERT_TRUE(store.BeginWatch());
  }
  void ExpectOldVersion() const {
    EXPECT_EQ(Read(Uno()), "old uno");
    EXPECT_EQ(Read(Main()), "old main");
    EXPECT_FALSE(PathExists(Added()));
    EXPECT_FALSE(PathExists(Folder()));
  }
  void ExpectNewVersion() const {
    EXPECT_EQ(Read(Uno()), "new uno");
    EXPECT_EQ(Read(Main()), "new main");
    EXPECT_EQ(Read(Added()), "new file");
    EXPECT_FALSE(PathExists(Folder()));
  }
  // What the next run does with a record it finds (FirstStartWatchSession::FinishEarlierRun).
  // A fresh install of the release, then `conclude` run on it with the power cut before step `cut`;
  // `first` is what that run returned. False when the record could not be loaded.
  bool CutPowerAt(int cut, ConclusionResult (*conclude)(FirstStartWatchStore&),
                  ConclusionResult& first) {
    SetUp();
    InstallRelease();
    g_stepsLeft = cut;
    SetConclusionStepHook(CutPowerAfterSteps);
    FirstStartWatchStore store(AppDir());
    const bool loaded = store.Load();
    if (loaded) first = conclude(store);
    SetConclusionStepHook(nullptr);
    return loaded;
  }

  void NextRunConcludes() {
    FirstStartWatchStore next(AppDir());
    ASSERT_TRUE(next.HasRecord());
    ASSERT_TRUE(next.Load());
    const ConclusionResult concluded =
        next.Record().state == FirstStartWatchState::kCleaning ? next.Clean() : next.Revert(false);
    EXPECT_EQ(concluded, ConclusionResult::kDone);
  }

  TempDir m_temp;
  DiskFileSink m_disk;
};

TEST_F(FirstStartWatchStoreTest, KeepsEveryReplacedFileAndRecordsNewOnesBeforeWriting) {
  InstallRelease();
  FirstStartWatchStore store(AppDir());
  ASSERT_TRUE(store.Load());
  const FirstStartWatchRecord& record = store.Record();
  EXPECT_EQ(record.state, FirstStartWatchState::kWatching);
  EXPECT_EQ(record.offeredVersion, "1.1");
  EXPECT_EQ(record.installedVersion, "1.0");
  ASSERT_EQ(record.files.size(), 3u);
  EXPECT_TRUE(record.files[0].replaced);
  EXPECT_EQ(Read(store.Folder() + record.files[0].keptName), "old uno");
  EXPECT_TRUE(record.files[1].executable);
  EXPECT_EQ(Read(store.Folder() + record.files[1].keptName), "old main");
  EXPECT_FALSE(record.files[2].replaced);
  EXPECT_EQ(record.files[2].destination, Added());
}

TEST_F(FirstStartWatchStoreTest, AKeepThatFailsStopsThatFileAndEveryLaterOneAndTheRevertRestores) {
  FirstStartWatchStore store(AppDir());
  ASSERT_TRUE(store.Begin("1.0", "1.1"));
  // The second copy's name is taken by a directory: that keep cannot be made.
  std::filesystem::create_directories(store.Folder() + "2");
  FirstStartWatchSink sink(m_disk, store);
  EXPECT_EQ(Write(sink, Uno().c_str(), "new uno"), 1);
  EXPECT_EQ(Write(sink, nullptr, "new main"), 0);
  EXPECT_EQ(Write(sink, Added().c_str(), "new file"), 0);
  EXPECT_TRUE(sink.KeepFailed());
  EXPECT_EQ(Read(Main()), "old main");
  EXPECT_FALSE(PathExists(Added()));
  EXPECT_EQ(Read(Uno()), "new uno");
  EXPECT_EQ(store.Revert(false), ConclusionResult::kDone);
  EXPECT_EQ(Read(Uno()), "old uno");
  EXPECT_EQ(HeldVersion(), "");
}

int g_replacementsBeforeFailure = -1;  // replacements that succeed before one fails; -1: none

StepFault FailOneReplacement(ReplaceStep step) {
  if (step != ReplaceStep::kCreateTemporary) return StepFault::kNone;
  return g_replacementsBeforeFailure-- == 0 ? StepFault::kOtherError : StepFault::kNone;
}

// The copy is made but the record that lists it cannot be saved: the keep fails, so the
// destination is not written, and nothing after it either.
TEST_F(FirstStartWatchStoreTest, ARecordThatCannotBeSavedAfterTheCopyRefusesTheWrite) {
  FirstStartWatchStore store(AppDir());
  ASSERT_TRUE(store.Begin("1.0", "1.1"));
  FirstStartWatchSink sink(m_disk, store);
  g_replacementsBeforeFailure = 1;  // the copy of uno.dll goes, its record does not
  SetReplaceStepHook(FailOneReplacement);
  const FileWrite refused = WriteFile(sink, Uno().c_str(), "new uno");
  EXPECT_FALSE(refused.Installed());
  SetReplaceStepHook(nullptr);
  EXPECT_TRUE(sink.KeepFailed());
  EXPECT_EQ(refused.outcome, ReplaceResult::kFailed);
  EXPECT_EQ(Read(Uno()), "old uno");
  EXPECT_EQ(Write(sink, Added().c_str(), "new file"), 0);
  EXPECT_FALSE(PathExists(Added()));
  ASSERT_TRUE(store.Load());
  EXPECT_TRUE(store.Record().files.empty());
}

// What the engine streams goes through the sink's write: the old bytes are kept before the producer
// runs, so no byte of the new file reaches the disk before the copy does.
TEST_F(FirstStartWatchStoreTest, StreamedWritesKeepTheOldFileBeforeProducingTheNew) {
  class CheckingContent : public ContentProducer {
   public:
    explicit CheckingContent(std::string appDir) : m_appDir(std::move(appDir)) {}
    bool Produce(ContentWriter& out) override {
      FirstStartWatchStore onDisk(m_appDir);
      keptFirst = onDisk.Load() && onDisk.Record().files.size() == 1 &&
                  Read(onDisk.Folder() + onDisk.Record().files[0].keptName) == "old uno";
      const std::string bytes = "streamed uno";
      return out.Write(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    }
    bool keptFirst = false;

   private:
    std::string m_appDir;
  };
  FirstStartWatchStore store(AppDir());
  ASSERT_TRUE(store.Begin("1.0", "1.1"));
  FirstStartWatchSink sink(m_disk, store);
  CheckingContent content(AppDir());
  EXPECT_TRUE(sink.Write(content, Uno().c_str()).Installed());
  EXPECT_TRUE(content.keptFirst);
  EXPECT_EQ(Read(Uno()), "streamed uno");
  EXPECT_EQ(store.Revert(false), ConclusionResult::kDone);
  EXPECT_EQ(Read(Uno()), "old uno");
}

TEST_F(FirstStartWatchStoreTest, KeepsAndPutsBackFilesOfEverySizeWhole) {
  // Around the size of the pieces a copy is made in (64 KiB), where one could lose or repeat
  // bytes.
  const std::size_t sizes[] = {0, 1, 65535, 65536, 65537, 3 * 65536 + 7};
  std::vector<std::string> paths;
  std::vector<std::string> olds;
  for (const std::size_t size : sizes) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 31 + size) % 251);
    paths.push_back(AppDir() + "size" + std::to_string(size) + ".bin");
    olds.push_back(bytes);
    ASSERT_TRUE(WriteWholeFile(paths.back(), bytes));
  }
  FirstStartWatchStore store(AppDir());
  ASSERT_TRUE(store.Begin("1.0", "1.1"));
  FirstStartWatchSink sink(m_disk, store);
  for (const std::string& path : paths) EXPECT_EQ(Write(sink, path.c_str(), "new"), 1);
  ASSERT_EQ(store.Record().files.size(), paths.size());
  for (std::size_t i = 0; i < paths.size(); ++i) {
    EXPECT_TRUE(Read(store.Folder() + store.Record().files[i].keptName) == olds[i]) << sizes[i];
  }
  EXPECT_EQ(store.Revert(false), ConclusionResult::kDone);
  for (std::size_t i = 0; i < paths.size(); ++i) {
    EXPECT_TRUE(Read(paths[i]) == olds[i]) << sizes[i];
  }
}

// Something other than a file where a file is to go (a directory; on POSIX also a FIFO without a
// writer, which an open would wait on, and endless /dev/zero) is refused as the disk refuses it
// without the watch: result 0 for it alone, nothing read, kept or recorded, and the run goes on.
TEST_F(FirstStartWatchStoreTest, ADestinationThatIsNoFileIsRefusedAloneAndTheRunGoesOn) {
  constexpr auto kTimeLimit = std::chrono::seconds(20);
  for (const std::string& path : MakeNonRegularFiles(m_temp.Path())) {
    SCOPED_TRACE(path);
    std::filesystem::remove(Added());
    FirstStartWatchStore store(AppDir());
    ASSERT_TRUE(store.Begin("1.0", "1.1"));
    FirstStartWatchSink sink(m_disk, store);
    auto written =
        std::async(std::launch::async, [&] { return WriteFile(sink, path.c_str(), "x"); });
    if (written.wait_for(kTimeLimit) != std::future_status::ready) {
      ADD_FAILURE() << "the keep still waits after " << kTimeLimit.count() << " s";
      ReleaseWaitingReader(path);
    }
    const FileWrite refused = written.get();
    EXPECT_FALSE(refused.Installed());
    EXPECT_EQ(refused.outcome, ReplaceResult::kFailed);
    EXPECT_FALSE(sink.KeepFailed());
    EXPECT_EQ(Write(sink, Added().c_str(), "new file"), 1);
    EXPECT_EQ(store.Record().files.size(), 1u);
    if (!store.Record().files.empty()) {
      EXPECT_EQ(store.Record().files.back().destination, Added());
    }
    EXPECT_EQ(store.Revert(false), ConclusionResult::kDone);
    EXPECT_FALSE(PathExists(Added()));
    EXPECT_FALSE(PathExists(Folder()));
  }
}

TEST_F(FirstStartWatchStoreTest, RevertCutAtEachStepIsFinishedByTheNextRun) {
  for (int cut = 0;; ++cut) {
    SCOPED_TRACE("power cut before step " + std::to_string(cut));
    ConclusionResult first = ConclusionResult::kFailed;
    ASSERT_TRUE(CutPowerAt(
        cut, [](FirstStartWatchStore& store) { return store.Revert(true); }, first));
    if (first == ConclusionResult::kDone) {
      ExpectOldVersion();
      EXPECT_EQ(HeldVersion(), "1.1");
      EXPECT_GT(cut, 5);  // every step ran: the table covered them all
      break;
    }
    ASSERT_EQ(first, ConclusionResult::kInterrupted);
    NextRunConcludes();
    ExpectOldVersion();
    // Once the revert was under way its hold survives the cut; before, the next run only
    // restores (the start was never judged) and the version is offered again.
    EXPECT_EQ(HeldVersion(), cut == 0 ? "" : "1.1");
  }
}

TEST_F(FirstStartWatchStoreTest, CleanUpCutAtEachStepLeavesAWholeVersion) {
  for (int cut = 0;; ++cut) {
    SCOPED_TRACE("power cut before step " + std::to_string(cut));
    ConclusionResult first = ConclusionResult::kFailed;
    ASSERT_TRUE(CutPowerAt(
        cut, [](FirstStartWatchStore& store) { return store.Clean(); }, first));
    if (first == ConclusionResult::kDone) {
      ExpectNewVersion();
      break;
    }
    NextRunConcludes();
    // Cut before the good start was recorded: the release was never seen start, so it goes.
    if (cut == 0) {
      ExpectOldVersion();
    } else {
      ExpectNewVersion();
    }
    EXPECT_EQ(HeldVersion(), "");
  }
}

TEST(FirstStartWatchRecord, ReadsBackWhatItWritesAndRefusesDamagedText) {
  FirstStartWatchRecord record;
  record.state = FirstStartWatchState::kReverting;
  record.holdOffered = true;
  record.offeredVersion = "2.0 beta";
  record.installedVersion = "";
  record.files.push_back(KeptFile{true, true, "1", "/opt/pos/pos with space"});
  record.files.push_back(KeptFile{false, false, "", "/opt/pos/new.dat"});
  FirstStartWatchRecord read;
  ASSERT_TRUE(ParseWatchRecord(FormatWatchRecord(record), read));
  EXPECT_EQ(FormatWatchRecord(read), FormatWatchRecord(record));
  EXPECT_EQ(read.files[0].destination, "/opt/pos/pos with space");

  const std::string good = FormatWatchRecord(record);
  const std::string damaged[] = {
      "",
      good.substr(good.find('\n') + 1),                               // no header
      "mubax-previous 1\noffered\t1\n",                               // no state
      "mubax-previous 1\nstate\tsomewhere\n",                         // unknown state
      "mubax-previous 1\nstate\tkeeping\nfile\treplaced\t0\t\t/x\n",  // replaced, no copy
      "mubax-previous 1\nstate\tkeeping\nfile\tnew\t0\t\n",           // cut short
  };
  for (const std::string& text : damaged) {
    EXPECT_FALSE(ParseWatchRecord(text, read)) << text;
  }
}

}  // namespace
