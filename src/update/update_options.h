// What an update engine is given once, at construction (UpdateOptions), and what each of its
// runs carries from start to end (RunContext), so neither is threaded through every call.
#pragma once

#include <chrono>
#include <string>

#include "net/fetch.h"

class FirstStartWatchHooks;
class ReleaseKeySet;

// The longest a run spends fetching, manifest and documents together, before it goes on to the
// launch whatever the server does: with the front ends' waits the main application starts well
// within two minutes.
constexpr long kRunFetchLimitSeconds = 100;

struct UpdateOptions {
  // Limits for the manifest fetch (tests shorten the time-outs). File documents use the same
  // time-outs with a size cap derived from each file's limit.
  FetchLimits limits;
  // How long RunUpdate may spend fetching.
  long runFetchLimitSeconds = kRunFetchLimitSeconds;
  // The release keys trusted; they must outlive the engine. Without keys (null) no signature is
  // fetched and only a `firma` of the digest form is checked. With keys (the programs pass
  // TrustedReleaseKeys()), RunUpdate installs only from a manifest whose signature file
  // verifies, and every file must match its digest before it is written.
  const ReleaseKeySet* keys = nullptr;
  // Who watches a release's first start (none: null): told when a mode installs, asked whether
  // the offered version is held, and asked to finish an earlier run first. Must outlive the
  // engine's runs.
  FirstStartWatchHooks* firstStartWatch = nullptr;
  // The till's machine identity (common/machine_identity.h), from which a staged rollout picks
  // its tills. Without one the till takes only releases offered to every till.
  std::string tillIdentity;
};

// One run's state. RunUpdate makes its own; a caller that runs a mode on a manifest it loaded
// passes one (`RunContext{true}` logs, `RunContext{}` does not).
struct RunContext {
  RunContext() = default;
  explicit RunContext(bool logs) : logging(logs) {}

  bool logging = false;  // the marker file was there: the run writes its log
  // The run's fetch budget: no fetch outlasts `deadline` when `hasDeadline`.
  bool hasDeadline = false;
  std::chrono::steady_clock::time_point deadline;
  // Documents named by the manifest may be local files (shares included): only when the
  // manifest was itself local (DocumentsMayBeLocal), or its signature verified with a trusted key.
  bool documentsMayBeLocal = true;
};

// Whether a manifest fetched from `manifestAddress` may name local documents by itself: only when
// it is local too.
bool DocumentsMayBeLocal(const char* manifestAddress);
