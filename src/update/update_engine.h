// The update engine: one update run, the two update modes and the installation of one file.
// It knows nothing of windows or consoles; it talks to an UpdateHost and writes through a FileSink.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

#include "update/release_signature.h"
#include "update/release_guard.h"
#include "update/release_stage.h"
#include "update/update_host.h"
#include "net/fetch.h"

class XmlDocument;
class XmlNode;
class FileContentStream;
class PatchOffers;
struct PatchOffer;
enum class DigestVerdict;

// Address used when the settings name none: the build's update server and a fixed path.
extern const char kDefaultManifestAddress[];

enum class UpdateMode { kNone, kApplication, kTransparent };

// The longest a run spends fetching, manifest and documents together, before it goes on to the
// launch whatever the server does: with the front ends' waits the main application starts well
// within two minutes.
constexpr long kRunFetchLimitSeconds = 100;
// The slowest line a file document's own deadline allows for, on top of the manifest's.
constexpr std::size_t kSlowestLineBytesPerSecond = std::size_t{16} * 1024;

class UpdateEngine {
 public:
  // `fetcher` (default: DefaultFetcher()) serves the manifest and every file document; it must
  // outlive the engine.
  UpdateEngine(UpdateHost& host, FileSink& sink, Fetcher& fetcher = DefaultFetcher());

  // The whole run: decides on logging, loads the manifest, picks a mode, then launches the main
  // application and ends the run, whatever happened before.
  void RunUpdate();

  // Runs the mode a loaded manifest calls for against `installedVersion` (none when the offered
  // version is empty or equal); returns the mode that ran.
  UpdateMode UpdateFromManifest(const XmlDocument& manifest, const char* installedVersion,
                                bool loggingFlag);

  // Installs an application manifest: the numbered components, then the main executable.
  void UpdateApplicationMode(const char* installedVersion, const char* offeredVersion,
                             const XmlDocument& manifest, bool loggingFlag);
  // Installs a library manifest: the additional files, the ActiveX file, the library file.
  void UpdateTransparentMode(const char* installedVersion, const char* offeredVersion,
                             const XmlDocument& manifest, bool loggingFlag);

  // Fetches the file document at `address`, decodes its text and hands the bytes to the sink.
  // Returns 1 when the file was written, 0 otherwise. `destination` null means the registered
  // main executable. Memory that runs out for the file's document gives 0, logged as such.
  // `patch`: the file's patch offer, noted while a release's documents are listed, so the stage
  // may fetch the patch instead (delta_fetcher.h); the install itself is the same either way.
  int InstallFile(const char* address, const char* destination, int maxSize, const char* signature,
                  bool loggingFlag, const PatchOffer* patch = nullptr);

  // Limits for the manifest fetch (tests shorten the time-outs). File documents use the same
  // time-outs with a size cap derived from each file's limit.
  void SetFetchLimits(const FetchLimits& limits) { m_limits = limits; }
  // How long RunUpdate may spend fetching (kRunFetchLimitSeconds unless a test shortens it).
  void SetRunFetchLimit(long seconds) { m_runLimitSeconds = seconds; }
  // The release keys this engine trusts; `keys` must outlive the engine. Without keys (the
  // default) no signature is fetched and only a `firma` of the digest form is checked. With keys
  // (the programs pass TrustedReleaseKeys()), RunUpdate installs only from a manifest whose
  // signature file verifies, and every file must match its digest before it is written.
  void SetReleaseKeys(const ReleaseKeySet& keys) { m_keys = &keys; }
  // With keys: runs the mode the manifest calls for without writing anything and checks every
  // file against its digest. True when no file lacks or mismatches its digest, so the release
  // may be installed; false (logged and reported) otherwise. True at once without keys.
  bool CheckReleaseFiles(const XmlDocument& manifest, const char* installedVersion,
                         bool loggingFlag);
  // Files refused so far because they lack or mismatch their digest.
  int DigestRefusals() const { return m_digestRefusals; }
  // With keys: the addresses of the documents whose files lack or mismatch their digest, from a
  // run of the mode that writes nothing; nothing is logged or reported.
  std::vector<std::string> FindDigestRefusals(const XmlDocument& manifest,
                                              const char* installedVersion);
  // Documents named by a manifest fetched from `manifestAddress` may be local files (shares
  // included) only when the manifest was itself local, or (set by the signed load) when its
  // signature verified with a trusted key. RunUpdate sets this from the address it loads.
  void SetManifestOrigin(const char* manifestAddress);
  // Who guards a release's first start (none by default): told when a mode installs, asked
  // whether the offered version is held, and asked to finish an earlier run first. Must outlive
  // the engine's runs.
  void SetReleaseGuard(ReleaseGuard* guard) { m_guard = guard; }
  // The till's machine identity (common/machine_identity.h), from which a staged rollout picks
  // its tills. Without one (the default) the till takes only releases offered to every till.
  void SetTillIdentity(const std::string& identity) { m_tillIdentity = identity; }

 private:
  // One log line of the program's own texts.
  void Log(bool loggingFlag, const char* operation, const char* text);
  // The file the next problem and result reports concern.
  void BeginFile(FileStage stage, int number, const char* destination);
  // One log line whose text came from outside (settings, a manifest): it is converted into the
  // log's encoding here, the one place where such texts reach the log.
  void LogOutsideText(bool loggingFlag, const char* operation, const char* outsideText);
  void BeginMode(const char* modeText, const char* installedVersion, const char* offeredVersion,
                 bool loggingFlag);
  void LogResult(bool loggingFlag, const char* address, int result);
  // The update proper: the manifest address from the settings, the manifest, the mode.
  void UpdateFromSettings(const char* appDirectory, bool loggingFlag);
  // Fetches the manifest's bytes and loads the document from them; `release` receives the
  // release's identity (see ReleaseIdentity).
  bool LoadManifest(XmlDocument& manifest, const char* address, bool loggingFlag,
                    std::string& release);
  // With keys: checks the signature of the manifest's `bytes` before they are loaded. False
  // (logged and reported) when it was refused.
  bool CheckManifestSignature(const char* address, const FetchLimits& limits,
                              const std::vector<char>& bytes, bool loggingFlag);
  // Two phases: every document of the release is staged in the application directory's staging
  // folder, then the mode installs from the staged documents. A release the run's fetch budget
  // cut is deferred: nothing of it installed, what was staged kept for the next run.
  void InstallRelease(const XmlDocument& manifest, const char* installedVersion,
                      const std::string& release, const char* appDirectory, bool loggingFlag);
  // The mode the manifest calls for, or kNone when no mode would run (offered version empty,
  // equal to the installed one, or held back by the guard).
  UpdateMode OfferedMode(const XmlDocument& manifest, const char* installedVersion,
                         char* offeredVersion, std::size_t offeredSize) const;
  // False when the manifest rolls the offered version out to a share of the tills that leaves
  // this one out (logged); true without the element.
  bool InRollout(const XmlDocument& manifest, const char* offeredVersion, bool loggingFlag);
  // Stages the release's documents from the mirrors and the publisher. With keys and mirrors, a
  // document a mirror served that fails its digest is fetched again from the next source.
  StageOutcome StageRelease(ReleaseStage& stage, const XmlDocument& manifest,
                            const char* installedVersion, const std::string& release);
  // The documents the mode would fetch, in order, each once, with the largest limits asked;
  // the patches offered for them into `offers` when given.
  std::vector<StagedDocument> ListDocuments(const XmlDocument& manifest,
                                            const char* installedVersion,
                                            PatchOffers* offers = nullptr);
  // Reports a file's digest verdict; false (refused, logged) unless its bytes may be written.
  bool ReportDigest(DigestVerdict verdict, const char* address, bool loggingFlag);
  // Reports why a streamed file document was refused (memory that ran out for it included);
  // true when it was not.
  bool ReportContent(const FileContentStream& file, const char* address, bool loggingFlag);
  // Shortens `limits` to what is left of the run's fetching time; false when nothing is left.
  bool FitRunDeadline(FetchLimits& limits) const;
  void Refuse(const char* address, const char* reason);
  // Reports what the sink's last write says beyond its result: why it refused, or that it wrote
  // in place (then also logged, when logging).
  void ReportWrite(const char* address, int written, bool loggingFlag);
  void InstallComponents(const XmlDocument& manifest, const char* appDirectory,
                         bool appDirectoryKnown, int defaultSize, int& count, bool loggingFlag);
  void InstallMainExecutable(const XmlDocument& manifest, int defaultSize, bool loggingFlag);
  int InstallFileEntry(const XmlNode& entry, FileStage stage, int number, bool loggingFlag);
  // Runs `mode` for an offered version that differs from the installed one, unless the guard
  // holds it back.
  UpdateMode RunMode(UpdateMode mode, const char* installedVersion, const char* offeredVersion,
                     const XmlDocument& manifest, bool loggingFlag);

  UpdateHost& m_host;
  FileSink& m_sink;
  Fetcher* m_fetcher;
  const ReleaseKeySet* m_keys;
  ReleaseGuard* m_guard = nullptr;
  PatchOffers* m_patchOffers = nullptr;  // set while a release's documents are listed
  FetchLimits m_limits;
  std::string m_tillIdentity;
  RunSummary m_summary;   // this run's, reported before the launch
  InstallItem m_current;  // address unused: each report names its own
  bool m_documentsMayBeLocal = true;
  int m_digestRefusals = 0;
  std::vector<std::string> m_digestRefused;  // their addresses, in order
  std::vector<std::string> m_mirrors;        // the setting espejos, in order
  std::string m_publisherBase;               // where the manifest's documents are published
  long m_runLimitSeconds = kRunFetchLimitSeconds;
  bool m_hasRunDeadline = false;
  std::chrono::steady_clock::time_point m_runDeadline;
};

// Writes installed files to disk, each replaced in one step (the old file stays whole on failure).
// An installed file is one replaced or, when its directory takes no new file, written in place;
// both return 1 and LastWriteOutcome tells them apart.
class DiskFileSink : public FileSink {
 public:
  int WriteFileBytes(const unsigned char* data, std::size_t length,
                     const char* destination) override;
  int WriteFileFrom(ContentProducer& content, const char* destination) override;
  void FinishWrites() override { m_batch.Finish(); }
  FileWriteOutcome LastWriteOutcome() const override { return m_lastOutcome; }

 private:
  FileWriteOutcome m_lastOutcome = FileWriteOutcome::kUnreported;
  ReplacementBatch m_batch;
};

// Writes nothing: records what would be written, for checking a release before it goes live.
// A null destination (the registered main executable) counts as writable; an empty one does not.
class DryRunFileSink : public FileSink {
 public:
  struct Write {
    std::string destination;  // empty for the registered main executable
    std::size_t length;
  };
  int WriteFileBytes(const unsigned char* data, std::size_t length,
                     const char* destination) override;
  // Makes the content without keeping it: only its length is recorded.
  int WriteFileFrom(ContentProducer& content, const char* destination) override;
  const std::vector<Write>& Writes() const { return m_writes; }

 private:
  std::vector<Write> m_writes;
};

// Where a file goes: `destination` when given, else the registered main executable's path.
// Returns false, leaving `buffer` empty, when there is no usable path (never a made-up one).
bool ResolveInstallDestination(const char* destination, char* buffer, std::size_t bufferSize);

// A progress position or range bound past a count (count + extra), formed without overflowing
// int: a manifest's count can be any 32-bit number.
int PositionAfter(int count, int extra);

// Bytes a file document may take for a file of `maxSize` limit: generous room around the text.
std::size_t FileDocumentFetchCap(int maxSize);
// Seconds a file document's fetch may take: `baseSeconds` plus its cap at the slowest line.
long FileDocumentTimeout(int maxSize, long baseSeconds);
