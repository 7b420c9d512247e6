// Installing one file of a run and reporting it: its document streamed through the XML reader and
// the hexadecimal decoder into the sink, one FileFinished per file, one result line in the log.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "net/fetch.h"
#include "update/engine_log.h"
#include "update/file_sink.h"
#include "update/run_report.h"
#include "update/update_events.h"
#include "update/update_host.h"
#include "update/update_options.h"

class FileContentStream;
class PatchOffers;
class XmlNode;

// The slowest line a file document's own deadline allows for, on top of the manifest's.
constexpr std::size_t kSlowestLineBytesPerSecond = std::size_t{16} * 1024;

// Bytes a file document may take for a file of `maxSize` limit: generous room around the text.
std::size_t FileDocumentFetchCap(int maxSize);
// Seconds a file document's fetch may take: `baseSeconds` plus its cap at the slowest line.
long FileDocumentTimeout(int maxSize, long baseSeconds);

// Where a run's installer writes, fetches and tells; everything must outlive the installer.
struct InstallerParts {
  EngineLog log;
  UpdateEvents& events;
  FileSink& sink;
  Fetcher& fetcher;
  const ReleaseKeySet& keys;
  const FetchLimits& limits;  // the manifest's: each document gets its time-outs, its own cap
  const RunContext& run;
  RunSummary& summary;                      // counts the files that failed
  std::vector<std::string>& digestRefused;  // addresses refused for their digest, in order
  // Null but while a release's documents are listed: where each file's patch offer is noted,
  // so the stage may fetch the patch instead (delta_fetcher.h).
  PatchOffers* patchOffers = nullptr;
};

class FileInstaller {
 public:
  explicit FileInstaller(const InstallerParts& parts) : m_parts(parts) {}

  // The file the next outcome concerns; `destination` empty for the main executable. `patch`:
  // the patch its manifest offers for it, if any; the install itself is the same either way.
  void BeginFile(FileStage stage, int number, const char* destination,
                 const PatchOffer& patch = PatchOffer());
  // Notes why the current file is not installed (or not in one step).
  void Refuse(InstallProblem problem);
  // Ends the current file: its one event, its result line.
  void Finish(const char* address, int result);
  // Installs a file entry of a library release (tamfichero, urldescarga, destFichero, firma) as
  // file `number` of `stage`, start to finish; returns its result.
  int InstallEntry(const XmlNode& entry, FileStage stage, int number);
  // Fetches the file document at `address`, decodes its text and hands the bytes to the sink.
  // Returns 1 when the file was written, 0 otherwise. `destination` null means the registered
  // main executable. Memory that runs out for the file's document gives 0, logged as such.
  int InstallDocument(const char* address, const char* destination, int maxSize,
                      const char* signature);

 private:
  // Reports a file's digest verdict; false (refused, logged) unless its bytes may be written.
  bool ReportDigest(DigestVerdict verdict, const char* address);
  // Reports why a streamed file document was refused (memory that ran out for it included);
  // true when it was not.
  bool ReportContent(const FileContentStream& file, const char* address);
  // Notes how the sink's write went: why it refused, or that it wrote in place (then also
  // logged, when logging).
  void ReportWrite(const FileWrite& write);
  // Shortens `limits` to what is left of the run's fetching time; false when nothing is left.
  bool FitRunDeadline(FetchLimits& limits) const;

  InstallerParts m_parts;
  FileOutcome m_file;  // the file being installed
};

// What a mode is given: the run's installer, the progress and the log; all outlive the mode.
struct ModeParts {
  FileInstaller& installer;
  ProgressSink& progress;
  EngineLog log;
};
