// What one run did, as the engine reports it to its host, and the report a till sends back to the
// publisher after the launch: one GET whose query a plain static server keeps in its access log.
// Portable.
#pragma once

#include <string>

#include "net/fetch.h"
#include "update/release_signature.h"

// The setting naming where reports go (beside "urlact"); absent or empty: no report is sent.
extern const char kReportAddressValue[];  // "urlInforme"

// A report costs the till one short attempt: no retry, so a fleet never storms a server that is
// down, and the launch it follows is never held.
constexpr long kReportConnectTimeoutSeconds = 3;
constexpr long kReportTotalTimeoutSeconds = 5;
// The answer's body is not read for anything; a small cap ends a server that sends a large one.
constexpr std::size_t kReportAnswerMaxBytes = 4096;

enum class RunOutcome {
  kNothingToDo,   // the manifest offers the installed version, or nothing
  kInstalled,     // a mode ran and every file it attempted was written
  kFailedFiles,   // a mode ran and some files were not written (RunSummary::failedFiles)
  kDeferred,      // the fetch budget ended before the release was staged: continued next run
  kNotInRollout,  // the manifest's share of tills leaves this one out for now
  kRefused,       // a signed release was refused (RunSummary::refusal says why)
  kHeld,          // the offered version is held after it failed to start here
  kReverted,      // installed, then put back after a failed first start (and held)
  kNoManifest,    // the manifest could not be fetched or read
  kBusy,          // another updater run was installing: this one did not update
  kFailed,        // the run raised before it could say (memory exhausted, a host failure)
};

// The report's word for an outcome ("installed", "not-in-rollout" ...).
const char* DescribeRunOutcome(RunOutcome outcome);

struct RunSummary {
  RunOutcome outcome = RunOutcome::kNothingToDo;
  SignatureCheck refusal = SignatureCheck::kValid;  // with kRefused
  int failedFiles = 0;                              // files a mode attempted and did not write
  std::string installedVersion;                     // as the settings hold it
  std::string offeredVersion;                       // empty when no manifest offered one
};

// The till as reports name it: 32 hexadecimal digits of a SHA-256 over a fixed label and the
// machine identity, never the identity itself (nor the rollout's hash of it). Empty without an
// identity or when hashing failed.
std::string TillReportName(const std::string& identity);

// `base` with the report's query added ("?" or "&" as `base` already has a query): till,
// installed, offered, outcome, and reason / failed when they apply, each value percent-encoded.
std::string FormatReportAddress(const std::string& base, const RunSummary& summary,
                                const std::string& tillName);

// Sends the report: one GET to `address` through `fetcher` under the report's limits (http or
// https only, no redirect, no local file). Returns how the one attempt went; nothing is retried.
FetchStatus SendReport(Fetcher& fetcher, const std::string& address);
