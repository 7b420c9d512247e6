// One update run as both front ends make it: the engine's run under the updater's run lock, and
// the launch and end the till is owed should anything escape the engine.
#pragma once

#include "app/first_start_watch_session.h"
#include "app/run_lock.h"
#include "update/update_engine.h"

// Runs the update engine once for `hosts`, writing through `sink` and fetching through `fetcher`.
// The run lock is asked for when the engine asks whether it may update, waiting up to
// `lockWaitMilliseconds` for another run; it is held until this returns. Never raises: when the
// engine raises, the main application is launched (unless the run already asked for it) and the
// run is ended (unless it already was), each exactly once. With a `watch`, the engine writes
// through its sink (not `sink`) and asks it as its first-start watch, and the run lock stays held
// by it for the watch the caller runs afterwards (FirstStartWatchSession::WatchAndConclude).
// Returns what the run did (RunOutcome::kFailed when the engine raised before it said).
RunSummary RunUpdateSession(const UpdateHosts& hosts, FileSink& sink,
                            Fetcher& fetcher = DefaultFetcher(),
                            unsigned lockWaitMilliseconds = kRunLockWaitMilliseconds,
                            FirstStartWatchSession* watch = nullptr);

// After the launch and the first-start watch (`watch`): when the setting urlInforme names an http
// or https address, sends the run's report there, once, through `fetcher` (a revert replaces the
// run's outcome). Never raises; nothing is retried and nothing is logged of it.
void SendRunReportAfterLaunch(RunSummary summary, FirstStartWatchOutcome watch, Fetcher& fetcher);
