// Shared pieces of the engine tests: a host that records what the engine asks of it, sinks that
// fail on demand, and builders for manifests and file documents served over loopback.
#pragma once

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "common/app_directory.h"
#include "support/http_server.h"
#include "support/temp_dir.h"
#include "support/test_settings.h"
#include "update/update_engine.h"

// Records every call in order as one text: "log <operation>|<text>", "range <n>", "pos <n>",
// "session <path>", "launch", "end".
class RecordingHost : public RunHost, public ProgressSink, public RunLog, public UpdateEvents {
 public:
  bool TakeUpdateTurn() override { return true; }
  void StartLogSession(const char* logPath) override {
    events.push_back(std::string("session ") + logPath);
  }
  void WriteLog(const char* component, const char* operation, const char* text) override {
    EXPECT_STREQ(component, "MubaxVardeno");
    events.push_back(std::string("log ") + operation + "|" + text);
  }
  void SetProgressRange(std::uint16_t upper) override {
    events.push_back("range " + std::to_string(upper));
  }
  void SetProgressPos(int position) override {
    events.push_back("pos " + std::to_string(position));
  }
  // Kept apart from `events`, whose sequences are the install's own.
  void ShowDownloadProgress(int staged, int documents) override {
    downloads.push_back(std::to_string(staged) + "/" + std::to_string(documents));
  }
  void LaunchMainApplication() override { events.push_back("launch"); }
  void EndRun() override { events.push_back("end"); }
  // Typed reports go to `reports`, apart from `events`: "<stage> <n> <address> problem" for a
  // file with a problem, then "<stage> <n> <address> -> <dest> = <r>" for every file.
  void FileFinished(const FileOutcome& file) override {
    if (file.problem != InstallProblem::kNone) {
      reports.push_back(Describe(file) + " problem");
      problems.push_back(file.problem);
    }
    reports.push_back(Describe(file) + " -> " + ShownDestination(file) + " = " +
                      std::to_string(file.result));
  }
  void ReportRunOutcome(const RunSummary& summary) override { outcomes.push_back(summary); }

  // Only the events starting with `prefix`, in order.
  std::vector<std::string> Only(const std::string& prefix) const {
    std::vector<std::string> selected;
    for (const std::string& event : events) {
      if (event.compare(0, prefix.size(), prefix) == 0) selected.push_back(event);
    }
    return selected;
  }
  // The operations of the log lines, in order.
  std::vector<std::string> LogOperations() const {
    std::vector<std::string> operations;
    for (const std::string& event : Only("log ")) {
      operations.push_back(event.substr(4, event.find('|') - 4));
    }
    return operations;
  }

  std::vector<std::string> events;
  std::vector<std::string> reports;
  std::vector<std::string> downloads;    // "<staged>/<documents>" while a release is downloaded
  std::vector<RunSummary> outcomes;      // ReportRunOutcome's, apart from `events`
  std::vector<InstallProblem> problems;  // FileFinished's, when a file had one

 private:
  static std::string Describe(const FileOutcome& item) {
    return std::string(FileStageName(item.stage)) + " " + std::to_string(item.number) + " " +
           item.address;
  }
};

// Writes to disk like the product and keeps its last write, but raises on the given call
// (1-based; 0 never) once the content is made, as a failing installation would.
class RecordingDiskSink : public FileSink {
 public:
  explicit RecordingDiskSink(int failingCall = 0) : m_failingCall(failingCall) {}
  FileWrite Write(ContentProducer& content, const char* destination) override {
    if (++m_calls == m_failingCall) {
      std::string bytes;
      GatherContent(content, bytes);
      throw std::runtime_error("injected install failure");
    }
    lastWrite = m_disk.Write(content, destination);
    return lastWrite;
  }
  void FinishWrites() override { m_disk.FinishWrites(); }

  FileWrite lastWrite;

 private:
  int m_failingCall;
  int m_calls = 0;
  DiskFileSink m_disk;
};

// The result line the engine logs after an installation attempt, spelt out independently.
inline std::string Line(const std::string& address, const std::string& destination, int result) {
  return "URL Act [" + address + "] Fich Dest [" + destination + "] " + std::to_string(result);
}

// Uppercase hexadecimal text of `bytes`.
std::string EncodeHex(const std::string& bytes);
// A file document carrying `bytes`.
std::string FileDocument(const std::string& bytes);
// `count` bytes of a repeating, position-dependent pattern (so shifted or cut copies differ).
std::string PatternBytes(std::size_t count, unsigned seed = 7);

// A loopback server, a temporary application directory and an empty settings store, with the
// main application registered at <dir>/app/pos.exe.
class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Serves `bytes` as a file document at `path` and returns its address.
  std::string ServeFile(const std::string& path, const std::string& bytes);
  // Serves `xml` at "/manifest.xml" and registers it as the manifest address.
  void ServeManifest(const std::string& xml);
  // Loads `xml` as the run's manifest would be (by address).
  void LoadManifest(XmlDocument& manifest, const std::string& xml);

  std::string AppDir() const;  // with its trailing separator
  std::string AppFile(const std::string& name) const { return AppDir() + name; }
  std::string MainExecutable() const { return AppFile("pos.exe"); }
  std::string ReadFile(const std::string& path) const;

  TempDir m_temp;
  TestHttpServer m_server;
  RecordingHost m_host;
  RecordingDiskSink m_disk;
};
