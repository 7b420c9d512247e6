// The first-start watch against real stand-in main applications: one that holds its mark, one
// that exits at once, one that never takes it; and the probe that must never take the mark.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <chrono>
#include <thread>

#include "app/first_start_watch.h"
#include "app/launcher.h"
#include "app/started_process.h"
#include "support/main_app_lock.h"
#include "support/temp_dir.h"
#include "support/test_programs.h"

namespace {

using std::chrono::milliseconds;

class FirstStartWatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetTestEnvironment("XDG_RUNTIME_DIR", m_temp.Path());
    SetTestEnvironment("MUBAX_TEST_STARTED_FILE", m_temp.Join("started.txt"));
    SetTestEnvironment("MUBAX_TEST_STOP_FILE", m_temp.Join("stop"));
    SetTestEnvironment("MUBAX_TEST_INSTANCE_CHECKS", "1");
  }
  void TearDown() override {
    WriteWholeFile(m_temp.Join("stop"), "");
    m_started.Terminate();
  }

  StartVerdict StartAndWatch(const std::string& behaviour, milliseconds poll) {
    SetTestEnvironment("MUBAX_TEST_STANDIN", behaviour);
    EXPECT_TRUE(StartProgram(SiblingProgramPath("watched_main_app").c_str(), &m_started));
    WatchTiming timing;
    timing.period = milliseconds(2500);
    timing.steadyHold = milliseconds(400);
    timing.poll = poll;
    return WatchFirstStart(m_started, timing);
  }
  std::string Record() const {
    std::string text;
    return ReadWholeFile(m_temp.Join("started.txt"), text) ? text : "<none>";
  }

  TempDir m_temp;
  StartedProcess m_started;
};

TEST_F(FirstStartWatchTest, VerdictForEachKindOfStart) {
  struct Case {
    const char* behaviour;
    StartVerdict verdict;
    const char* record;
    milliseconds atLeast;  // how long a verdict must take
  };
  const Case cases[] = {
      {"hold unit", StartVerdict::kGood, "held unit\n", milliseconds(400)},
      {"exit unit", StartVerdict::kExited, "exited unit\n", milliseconds(0)},
      {"ignore unit", StartVerdict::kNeverHeld, "started unit\n", milliseconds(2500)},
      // Held, then gone before the steady hold: it did take its mark, and is not good.
      {"crash unit", StartVerdict::kLetGo, "crashed unit\n", milliseconds(0)},
      // Held again and again, each time too briefly: the steady hold starts over each time.
      {"flicker unit", StartVerdict::kLetGo, "flickered unit\n", milliseconds(2500)},
  };
  for (const Case& row : cases) {
    SCOPED_TRACE(row.behaviour);
    std::remove(m_temp.Join("started.txt").c_str());
    std::remove(m_temp.Join("stop").c_str());
    const auto begun = std::chrono::steady_clock::now();
    EXPECT_EQ(StartAndWatch(row.behaviour, milliseconds(20)), row.verdict);
    EXPECT_GE(std::chrono::steady_clock::now() - begun, row.atLeast);
    EXPECT_EQ(Record(), row.record);
    ASSERT_TRUE(WriteWholeFile(m_temp.Join("stop"), ""));
    m_started.Terminate();
    EXPECT_TRUE(m_started.HasExited());
  }
}

TEST_F(FirstStartWatchTest, AStartThatFailedFailsAtOnce) {
  StartedProcess never;
  never.MarkStartFailed();
  WatchTiming timing;
  timing.period = milliseconds(5000);
  const auto begun = std::chrono::steady_clock::now();
  EXPECT_EQ(WatchFirstStart(never, timing), StartVerdict::kExited);
  EXPECT_LT(std::chrono::steady_clock::now() - begun, milliseconds(1000));
}

TEST_F(FirstStartWatchTest, ASingleInstanceCheckNeverFailsWhileTheWatchProbes) {
  // The stand-in checks its mark a hundred times while the watch probes every millisecond: a
  // probe that created the mutex or took the lock would make one of those checks fail.
  SetTestEnvironment("MUBAX_TEST_INSTANCE_CHECKS", "100");
  EXPECT_EQ(StartAndWatch("hold strict", milliseconds(1)), StartVerdict::kGood);
  EXPECT_EQ(Record(), "held strict\n");
}

TEST_F(FirstStartWatchTest, TheProbeSeesTheMarkAndLeavesNone) {
  EXPECT_FALSE(IsMainApplicationHeld());
  EXPECT_FALSE(MainAppMarkExists());
  {
    MainAppLock running;
    ASSERT_TRUE(running.Held());
    EXPECT_TRUE(IsMainApplicationHeld());
    // A second holder is refused: the mark the probe saw is really held.
    MainAppLock second;
    EXPECT_FALSE(second.Held());
  }
  EXPECT_FALSE(IsMainApplicationHeld());
  EXPECT_FALSE(MainAppMarkExists());
  // Probing all the while never makes a mark appear, so the application's own check, whenever it
  // comes, finds its mark free.
  std::atomic<bool> probing{true};
  std::thread prober([&probing] {
    while (probing) IsMainApplicationHeld();
  });
  int appeared = 0;
  for (int i = 0; i < 200; ++i) {
    if (MainAppMarkExists()) ++appeared;
  }
  MainAppLock starting;
  probing = false;
  prober.join();
  EXPECT_EQ(appeared, 0);
  EXPECT_TRUE(starting.Held());
}

}  // namespace
