// Staged releases: every file document of a release is downloaded into a folder of the updater's
// own before anything of the release is installed, and a download the run's fetch budget cut is
// taken up by the next run where it stopped. Portable.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "net/fetch.h"

// The staging folder's name inside the application directory, and its record's inside it.
extern const char kStageFolderName[];  // ".mubax-staging"
extern const char kStageRecordName[];  // "record.txt"

// Longest validator kept: a server's ETag beyond it (or one with control characters, which could
// not be sent back in a header) counts as none.
constexpr std::size_t kLongestValidator = 200;
// A download flushes what it has and records its length every few seconds on a slow line, and
// every few MiB on a fast one, so a killed run loses little of it and a fast one does not spend
// its time flushing.
constexpr std::chrono::seconds kStageCheckpointInterval{2};
constexpr std::uint64_t kStageCheckpointBytes = std::uint64_t{8} << 20;
// Attempts at one document in one run; each after the first only when the one before it brought
// bytes (a connection that dropped), so a dead server costs one attempt.
constexpr int kMaxStageAttempts = 8;

// One document of the release, as the install will ask for it.
struct StagedDocument {
  std::string address;
  FetchLimits limits;                      // the largest cap and time-out the install asks with
  std::string validator;                   // recorded: what the bytes held came with
  std::uint64_t durable = 0;               // recorded: bytes known to be on the disk
  bool complete = false;                   // recorded: the whole document is staged
  FetchStatus failure = FetchStatus::kOk;  // this run only: why it could not be staged
};

struct StageRecord {
  std::string release;  // the release's identity: the SHA-256 of its manifest's bytes, in hex
  std::vector<StagedDocument> documents;  // in the order the install asks for them
};

// The record as text: a header, the release, then one tab-separated line per document.
std::string FormatStageRecord(const StageRecord& record);
// Reads a record written by FormatStageRecord; false (record unspecified) when the text is not
// one.
bool ParseStageRecord(const std::string& text, StageRecord& record);

// The release's identity for the stage: the hexadecimal SHA-256 of the manifest's bytes, so a
// manifest changed in any way is another release. Empty when it cannot be computed.
std::string ReleaseIdentity(const std::vector<char>& manifestBytes);

enum class StageOutcome {
  kStaged,       // every document is staged or failed for good: the release may be installed
  kDeferred,     // the run's fetch budget ended first: what was staged stays for the next run
  kUnavailable,  // the folder or its record could not be written: nothing is staged
};

// Shortens a fetch's total time-out to what is left before `deadline` (whole seconds, rounded
// up); false when nothing is left. The one rule of the run's fetch budget, for the manifest and
// the stage alike.
bool FitBudget(FetchLimits& limits, std::chrono::steady_clock::time_point deadline);

// Test seam: called before each document's fetch attempt with the document's number (from 1);
// false ends the run's budget there, as the clock would.
using StageAttemptHook = bool (*)(int documentNumber);
void SetStageAttemptHook(StageAttemptHook hook);

// One application directory's staging folder. Every change to the record is written in one step
// after the bytes it counts are flushed, so a run killed at any moment leaves a folder the next
// run resumes from or drops.
class ReleaseStage : private Fetcher {
 public:
  // `appDirectory` ends with its separator, as GetAppDirectory gives it.
  explicit ReleaseStage(const std::string& appDirectory);

  const std::string& Folder() const { return m_folder; }  // with its trailing separator
  // Told how many of the release's documents are staged (or failed for good) as Stage goes:
  // once when it starts, then after each document.
  void OnProgress(std::function<void(int staged, int documents)> progress) {
    m_progress = std::move(progress);
  }
  // Removes whatever is staged, of any release.
  void Drop();
  // Stages `documents` of the release `release` through `network`, taking up what an earlier
  // run staged of the same release and dropping what it staged of another. Fetches stop when
  // the clock reaches `deadline`.
  StageOutcome Stage(const std::string& release, std::vector<StagedDocument> documents,
                     Fetcher& network, std::chrono::steady_clock::time_point deadline);
  // Drops what is staged of `address` (its part and its record), so the next Stage fetches it
  // again.
  void Forget(const std::string& address);
  // After kStaged: serves each staged document from the disk and each failed one with the
  // status it failed with, so the install sees what a fetch would have given. No network.
  Fetcher& Staged() { return *this; }

 private:
  FetchStatus Fetch(const char* address, const FetchLimits& limits,
                    std::vector<char>& body) override;
  FetchStatus FetchInto(const char* address, const FetchLimits& limits,
                        ByteReceiver& receiver) override;
  // Adopts what the record on disk holds of `release`; drops anything else staged.
  bool Adopt(const std::string& release, std::vector<StagedDocument>& documents);
  bool SaveRecord();
  // Fetches document `index` until it is complete, fails for good, or the budget ends (false).
  bool StageDocument(std::size_t index, Fetcher& network,
                     std::chrono::steady_clock::time_point deadline);
  std::string PartPath(std::size_t index) const;
  const StagedDocument* Find(const char* address) const;

  std::string m_folder;
  StageRecord m_record;
  std::function<void(int, int)> m_progress;
  NetworkFetcher m_local;  // reads the staged parts, which are local files
};
