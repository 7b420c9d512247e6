// What the update engine needs from whoever runs it: a log, a progress bar, the launcher and a
// way to end the run. The window implements it on Windows, the console front end on Linux, and
// tests implement it with recorders.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/files.h"
#include "update/release_signature.h"
#include "update/run_report.h"

// The part of a release a file belongs to.
enum class FileStage {
  kComponent,       // numbered component of an application release
  kMainExecutable,  // the registered main executable
  kAdditionalFile,  // numbered additional file of a library release
  kActiveXFile,
  kLibraryFile,
};

// One file the engine attempts. Texts are as the engine holds them (the ANSI code page on
// Windows, UTF-8 on POSIX) and live only for the call they are passed to.
struct InstallItem {
  FileStage stage = FileStage::kMainExecutable;
  int number = 0;  // N of component N or additional file N; 0 otherwise
  const char* address = "";
  const char* destination = "";  // kMainExecutableDestinationText for the main executable
};

class UpdateHost {
 public:
  virtual ~UpdateHost() = default;

  // Points the log at `logPath` and draws a fresh session identifier, before the run's first line.
  virtual void StartLogSession(const char* logPath) = 0;
  // One log line (component, operation, text), as LogFile::Write takes it.
  virtual void WriteLog(const char* component, const char* operation, const char* text) = 0;

  // Progress range 0..upper: exactly what a progress bar's range message carries, the upper
  // bound cut to its low 16 bits.
  virtual void SetProgressRange(std::uint16_t upper) = 0;
  virtual void SetProgressPos(int position) = 0;
  // While a release is downloaded, before anything of it is installed: `staged` of its
  // `documents` are on the disk. A front end may show it on its bar; the install's own range and
  // positions follow it.
  virtual void ShowDownloadProgress(int /*staged*/, int /*documents*/) {}

  // Asked once per run, after the logging decision and before the manifest is fetched: true when
  // this run may update. A host that can meet other updater runs waits (bounded) while one is
  // updating and then answers false; the run then skips the update and goes on to the launch.
  virtual bool TakeUpdateTurn() { return true; }

  // Starts the main application unless it is already running.
  virtual void LaunchMainApplication() = 0;
  // Ends the run (closes the window).
  virtual void EndRun() = 0;

  // What happened to each file, in types, for tools such as the release checker; the window and
  // the console ignore them. Every attempted file reports one result; a problem is reported
  // before the result of the file it concerns.
  virtual void ReportInstallProblem(const InstallItem& /*item*/, const char* /*reason*/) {}
  virtual void ReportInstallResult(const InstallItem& /*item*/, int /*result*/) {}
  // A signed-release build refused the manifest (no mode runs); never called without keys.
  virtual void ReportManifestRefused(SignatureCheck /*reason*/) {}
  // The run's fetch budget ended before every document of the release was staged: nothing of it
  // was installed, and the next run takes the download up where it stopped.
  virtual void ReportReleaseDeferred() {}
  // Once per run, after everything else and right before the launch: what the run did, all of it
  // in one event, for the report a till sends back after the launch.
  virtual void ReportRunOutcome(const RunSummary& /*summary*/) {}
};

// How the last write of a sink went, beyond its 1 or 0, for the log and the diagnostics.
enum class FileWriteOutcome {
  kUnreported,      // the sink does not say
  kReplaced,        // the file was replaced in one step
  kWrittenInPlace,  // written into the existing file, not in one step (its directory takes no
                    // new file): installed, but a crash meanwhile could have torn it
  kNotWritable,     // refused: the destination may not be opened for writing
  kFailed,          // any other failure
};

// A host that shows, logs and launches nothing: for runs whose only audience is their typed
// reports (the release checker, the signed-release check, the benchmark). Override what is heard.
class SilentUpdateHost : public UpdateHost {
 public:
  void StartLogSession(const char* /*logPath*/) override {}
  void WriteLog(const char* /*component*/, const char* /*operation*/,
                const char* /*text*/) override {}
  void SetProgressRange(std::uint16_t /*upper*/) override {}
  void SetProgressPos(int /*position*/) override {}
  void LaunchMainApplication() override {}
  void EndRun() override {}
};

// Where the installer's decoded bytes go: to disk, or nowhere in a dry run.
class FileSink {
 public:
  virtual ~FileSink() = default;
  // How the last WriteFileBytes call went.
  virtual FileWriteOutcome LastWriteOutcome() const { return FileWriteOutcome::kUnreported; }
  // Writes `length` bytes to `destination`, or over the registered main executable when
  // `destination` is null. Returns 1 when the whole file is in place, 0 otherwise.
  virtual int WriteFileBytes(const unsigned char* data, std::size_t length,
                             const char* destination) = 0;
  // As WriteFileBytes, for content made as it is written (see ContentProducer); the sink may
  // decide not to make it at all, and writes nothing the producer does not call complete. This
  // default gathers the content in memory for WriteFileBytes; sinks that can, stream it.
  virtual int WriteFileFrom(ContentProducer& content, const char* destination);
  // After the last file of a run: whatever the sink deferred (flushing directory entries) is
  // done before the main application starts.
  virtual void FinishWrites() {}
};
