// What the engine tells of its decisions, in types, one event per outcome: each file with all of
// its outcome, each decision on a manifest. Tools and tests listen; the front ends do not.
#pragma once

#include <cstddef>

#include "common/files.h"
#include "net/fetch.h"
#include "update/file_digest.h"
#include "update/file_stage.h"
#include "update/install_problem.h"
#include "update/patch_offer.h"
#include "update/release_signature.h"

enum class UpdateMode { kNone, kApplication, kTransparent };

// What happened to one file the engine attempted. Texts are as the engine holds them (the ANSI
// code page on Windows, UTF-8 on POSIX) and live only for the call they are passed to.
struct FileOutcome {
  FileStage stage = FileStage::kMainExecutable;
  int number = 0;  // N of component N or additional file N; 0 otherwise
  const char* address = "";
  const char* destination = "";  // empty for the registered main executable
  InstallProblem problem = InstallProblem::kNone;
  FetchStatus fetch = FetchStatus::kOk;              // with kFetchFailed: how
  DigestVerdict digest = DigestVerdict::kUnchecked;  // the file's digest check, when it came to it
  ReplaceResult write = ReplaceResult::kFailed;      // the write, when one was tried
  std::size_t bytes = 0;                             // bytes written (or a dry run would write)
  int result = 0;                                    // 1 installed, 0 not
  PatchOffer patch;  // the patch its manifest offers for it (delta releases); empty when none
};

// The destination as the log's result line shows it: the main executable's is a fixed text.
const char* ShownDestination(const FileOutcome& file);
// The reason to show for `file`'s problem: the fetch failure's own text for kFetchFailed.
const char* DescribeFileProblem(const FileOutcome& file);

// One decision on a loaded manifest: the mode that runs (kNone: none), or its refusal.
struct ManifestDecision {
  UpdateMode mode = UpdateMode::kNone;
  SignatureCheck refusal = SignatureCheck::kValid;  // anything else: refused, no mode runs
};

// Listeners hear only what they override.
class UpdateEvents {
 public:
  virtual ~UpdateEvents() = default;
  // Once per attempted file, after its last step.
  virtual void FileFinished(const FileOutcome& /*file*/) {}
  // Once per manifest a mode could run from, before any of its files; and when a signed-release
  // build refuses a manifest (never without keys).
  virtual void ManifestDecided(const ManifestDecision& /*decision*/) {}
  // The run's fetch budget ended before every document of the release was staged: nothing of it
  // was installed, and the next run takes the download up where it stopped.
  virtual void ReleaseDeferred() {}
};

// A listener that hears nothing, for hosts without one.
UpdateEvents& IgnoredUpdateEvents();
