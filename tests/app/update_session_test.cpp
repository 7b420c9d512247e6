// The front ends' update run: the run lock between two runs, and the launch and end owed to the
// till when the engine raises. Documents come from memory; the launch is only recorded.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <stdexcept>
#include <thread>

#include "app/update_session.h"
#include "common/app_directory.h"
#include "common/files.h"
#include "common/machine_identity.h"
#include "support/http_server.h"
#include "support/memory_fetcher.h"
#include "support/temp_dir.h"
#include "support/test_programs.h"
#include "support/test_settings.h"
#include "update/engine_fixture.h"

namespace {

// Holds the run lock on a thread of its own (a mutex belongs to the thread that took it) until
// destroyed, as another updater run would.
class OtherRun {
 public:
  OtherRun() : m_thread([this] { Hold(); }) {
    while (!m_taken) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ~OtherRun() { End(); }
  void End() {
    m_release = true;
    if (m_thread.joinable()) m_thread.join();
  }
  RunLockResult Taken() const { return m_result; }

 private:
  void Hold() {
    RunLock lock;
    m_result = lock.Acquire(0);
    m_taken = true;
    while (!m_release) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  std::atomic<bool> m_taken{false};
  std::atomic<bool> m_release{false};
  std::atomic<RunLockResult> m_result{RunLockResult::kUnavailable};
  std::thread m_thread;
};

class ThrowingLogHost : public RecordingHost {
 public:
  void StartLogSession(const char* /*logPath*/) override {
    throw std::runtime_error("the log cannot be set up");
  }
};

class UpdateSessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Each test its own runtime directory: no lock file is shared with anything else.
    SetTestEnvironment("XDG_RUNTIME_DIR", m_temp.Join("runtime"));
    std::filesystem::create_directories(m_temp.Join("runtime"));
    std::filesystem::create_directories(m_temp.Join("app"));
    ResetTestSettings();
    SetTestSetting(kAppSettingsKey, kAppPathValue,
                   m_temp.Join("app") + kDirectorySeparator + "pos");
    SetTestSetting(kAppSettingsKey, kManifestUrlValue, "mem:manifest");
    SetTestSetting(kAppSettingsKey, kVersionValue, "1");
    m_fetcher.Add("mem:manifest", "<m><version>1</version></m>");
    ASSERT_TRUE(WriteWholeFile(m_temp.Join("app") + kDirectorySeparator + "logUpdate.txt", ""));
  }
  void TearDown() override { ResetTestSettings(); }

  TempDir m_temp;
  MemoryFetcher m_fetcher;
  DiskFileSink m_disk;
};

TEST_F(UpdateSessionTest, RunOnItsOwnUpdatesAndLaunchesOnce) {
  RecordingHost host;
  RunUpdateSession(host, m_disk, m_fetcher, 0);
  EXPECT_EQ(m_fetcher.fetched, std::vector<std::string>{"mem:manifest"});
  EXPECT_EQ(host.Only("launch").size(), 1u);
  EXPECT_EQ(host.events.back(), "end");
  EXPECT_EQ(host.Only("end").size(), 1u);
}

TEST_F(UpdateSessionTest, RaisingEngineStillLaunchesAndEndsExactlyOnce) {
  ThrowingLogHost host;
  RunUpdateSession(host, m_disk, m_fetcher, 0);
  EXPECT_EQ(host.events, (std::vector<std::string>{"launch", "end"}));
}

TEST_F(UpdateSessionTest, SecondRunWaitsThenSkipsTheUpdateAndLaunches) {
  for (const bool otherRunEnds : {false, true}) {
    SCOPED_TRACE(otherRunEnds ? "other run ends while waiting" : "other run outlasts the wait");
    m_fetcher.fetched.clear();
    OtherRun other;
    ASSERT_EQ(other.Taken(), RunLockResult::kHeld);
    std::thread ender;
    if (otherRunEnds) {
      ender = std::thread([&other] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        other.End();
      });
    }
    RecordingHost host;
    const auto start = std::chrono::steady_clock::now();
    RunUpdateSession(host, m_disk, m_fetcher, otherRunEnds ? 10000 : 300);
    const auto waited = std::chrono::steady_clock::now() - start;
    if (ender.joinable()) ender.join();

    EXPECT_GE(waited, std::chrono::milliseconds(otherRunEnds ? 150 : 290));
    EXPECT_LT(waited, std::chrono::milliseconds(5000));
    EXPECT_TRUE(m_fetcher.fetched.empty());
    const std::string session = host.events.front();
    EXPECT_EQ(std::vector<std::string>(host.events.begin() + 1, host.events.end()),
              (std::vector<std::string>{
                  "log ActualizandoVersion |Otra actualizaci\xF3n en curso. No se actualiza",
                  "log Actualizando() |IniAppUsuario", "launch", "end"}));
  }
}

TEST(RunLock, IsFreeAgainOnceItsHolderIsGone) {
  TempDir temp;
  SetTestEnvironment("XDG_RUNTIME_DIR", temp.Path());
  { OtherRun first; }
  RunLock second;
  EXPECT_EQ(second.Acquire(0), RunLockResult::kHeld);
}

// Notes, at the launch, how many reports the loopback server had received by then.
class LaunchWatchingHost : public RecordingHost {
 public:
  explicit LaunchWatchingHost(const TestHttpServer& server) : m_server(server) {}
  void LaunchMainApplication() override {
    reportsAtLaunch.push_back(m_server.RequestCount("/report"));
    RecordingHost::LaunchMainApplication();
  }
  std::vector<int> reportsAtLaunch;

 private:
  const TestHttpServer& m_server;
};

TEST_F(UpdateSessionTest, ReportFollowsTheLaunchAndTheWatchOncePerRun) {
  TestHttpServer server;
  server.AddStatus("/report", 204);
  SetTestSetting(kAppSettingsKey, kReportAddressValue, server.Url("/report"));
  struct Case {
    FirstStartWatchOutcome watch;
    bool engineRaises;
    const char* outcome;
  };
  const Case cases[] = {{FirstStartWatchOutcome::kNotWatched, false, "outcome=nothing-to-do"},
                        {FirstStartWatchOutcome::kReverted, false, "outcome=reverted"},
                        {FirstStartWatchOutcome::kNotWatched, true, "outcome=failed"}};
  std::string identity;
  ASSERT_TRUE(ReadMachineIdentity(identity));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.outcome);
    const int before = server.RequestCount("/report");
    LaunchWatchingHost watching(server);
    ThrowingLogHost raising;
    RecordingHost& host = c.engineRaises ? static_cast<RecordingHost&>(raising) : watching;
    const RunSummary summary = RunUpdateSession(host, m_disk, m_fetcher, 0);
    EXPECT_EQ(host.Only("launch").size(), 1u);
    EXPECT_EQ(server.RequestCount("/report"), before);  // nothing sent while the run lasts
    NetworkFetcher network;
    SendRunReportAfterLaunch(summary, c.watch, network);
    EXPECT_EQ(server.RequestCount("/report"), before + 1);
    const std::string target = server.LastRequestTarget("/report");
    EXPECT_NE(target.find(c.outcome), std::string::npos) << target;
    // The till by the hash of its identity, never the identity itself.
    // A run that raised before its summary knows no versions.
    const std::string installed = c.engineRaises ? "" : "1";
    EXPECT_EQ(target.rfind(
                  "/report?till=" + TillReportName(identity) + "&installed=" + installed + "&", 0),
              0u)
        << target;
    EXPECT_EQ(target.find(identity), std::string::npos) << target;
    if (!c.engineRaises) {
      EXPECT_EQ(watching.reportsAtLaunch, std::vector<int>{before});
    }
    EXPECT_EQ(m_fetcher.fetched.size(), c.engineRaises ? 0u : 1u);
    m_fetcher.fetched.clear();
  }
  // Without the setting nothing is sent.
  RemoveTestSettingsKey(kAppSettingsKey);
  NetworkFetcher network;
  SendRunReportAfterLaunch(RunSummary(), FirstStartWatchOutcome::kNotWatched, network);
  EXPECT_EQ(server.RequestCount("/report"), 3);
}

}  // namespace
