// What the update engine needs from whoever runs it, in small parts each given on its own: the
// run's host (turn, outcome, launch, end), the progress, the log and the typed events. The window
// and the console implement them on their targets, tests with recorders.
#pragma once

#include <cstdint>

#include "update/run_report.h"
#include "update/update_events.h"

// The run itself: whether it may update, how it ended, the launch and the end. A host that
// decorates another (the session's run lock) decorates all of it, so nothing is left unforwarded.
class RunHost {
 public:
  virtual ~RunHost() = default;
  // Asked once per run, after the logging decision and before the manifest is fetched: true when
  // this run may update. A host that can meet other updater runs waits (bounded) while one is
  // updating and then answers false; the run then skips the update and goes on to the launch.
  virtual bool TakeUpdateTurn() = 0;
  // Once per run, after everything else and right before the launch: what the run did, all of it
  // in one event, for the report a till sends back after the launch.
  virtual void ReportRunOutcome(const RunSummary& summary) = 0;
  // Starts the main application unless it is already running.
  virtual void LaunchMainApplication() = 0;
  // Ends the run (closes the window).
  virtual void EndRun() = 0;
};

// Whoever shows progress.
class ProgressSink {
 public:
  virtual ~ProgressSink() = default;
  // Progress range 0..upper: exactly what a progress bar's range message carries, the upper
  // bound cut to its low 16 bits.
  virtual void SetProgressRange(std::uint16_t upper) = 0;
  virtual void SetProgressPos(int position) = 0;
  // While a release is downloaded, before anything of it is installed: `staged` of its
  // `documents` are on the disk. The install's own range and positions follow it.
  virtual void ShowDownloadProgress(int staged, int documents) = 0;
};

// The run's diagnostic log.
class RunLog {
 public:
  virtual ~RunLog() = default;
  // Points the log at `logPath` and draws a fresh session identifier, before the run's first line.
  virtual void StartLogSession(const char* logPath) = 0;
  // One log line (component, operation, text), as LogFile::Write takes it.
  virtual void WriteLog(const char* component, const char* operation, const char* text) = 0;
};

// A log that drops every line, for runs that do not log.
RunLog& DroppedRunLog();

// The parts the engine is given; each may be a different object, and each must outlive it.
struct UpdateHosts {
  UpdateHosts(RunHost& runHost, ProgressSink& progressSink, RunLog& runLog,
              UpdateEvents& updateEvents = IgnoredUpdateEvents())
      : run(runHost), progress(progressSink), log(runLog), events(updateEvents) {}
  // One object that is all four parts (a recorder, the silent host).
  template <typename AllParts>
  UpdateHosts(AllParts& all)  // NOLINT(google-explicit-constructor): a whole host is its parts
      : run(all), progress(all), log(all), events(all) {}

  RunHost& run;
  ProgressSink& progress;
  RunLog& log;
  UpdateEvents& events;
};

// A host that shows, logs and launches nothing: for runs whose only audience is their typed
// events (the release checker, the signed-release check, the benchmark). Override what is heard.
class SilentUpdateHost : public RunHost, public ProgressSink, public RunLog, public UpdateEvents {
 public:
  bool TakeUpdateTurn() override { return true; }
  void ReportRunOutcome(const RunSummary& /*summary*/) override {}
  void LaunchMainApplication() override {}
  void EndRun() override {}
  void SetProgressRange(std::uint16_t /*upper*/) override {}
  void SetProgressPos(int /*position*/) override {}
  void ShowDownloadProgress(int /*staged*/, int /*documents*/) override {}
  void StartLogSession(const char* /*logPath*/) override {}
  void WriteLog(const char* /*component*/, const char* /*operation*/,
                const char* /*text*/) override {}
};
