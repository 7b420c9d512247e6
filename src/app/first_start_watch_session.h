// The opt-in first-start watch of a release (setting vigilarArranque): keeps the previous
// version while a run installs, watches the first start after the launch, and either drops the
// kept copies or puts the previous version back, holds the offered version and starts the old
// one. With the setting off it keeps nothing and watches nothing.
#pragma once

#include <chrono>
#include <memory>

#include "app/first_start_watch.h"
#include "app/run_lock.h"
#include "app/started_process.h"
#include "update/first_start_watch_store.h"
#include "update/first_start_watch_hooks.h"
#include "update/update_host.h"

enum class FirstStartWatchOutcome {
  kNotWatched,  // off, or nothing was installed
  kKept,        // the new release started well; the kept copies are gone
  kReverted,    // the previous version is back and the offered version held
};

class FirstStartWatchSession : public FirstStartWatchHooks {
 public:
  // Reads vigilarArranque and the application directory now; writes go to `disk` (which must
  // outlive this), kept first when the setting is on. `steadyHold`: how long the mark must stay
  // held for a good start (tests pass less).
  explicit FirstStartWatchSession(FileSink& disk,
                                  std::chrono::milliseconds steadyHold = kSteadyHold);

  bool On() const { return m_watch.count() > 0; }
  // The sink the engine must write through: the disk itself when off, else a keeping sink in
  // front of it.
  FileSink& Sink() { return m_keeping ? static_cast<FileSink&>(*m_keeping) : m_disk; }
  // The run lock of the session: held from the run through the watch and the revert, so no other
  // updater installs over a release under watch.
  RunLock& Lock() { return m_lock; }

  // FirstStartWatchHooks. Nothing is logged before FinishEarlierRun names the run's log.
  void FinishEarlierRun(RunLog& log) override;
  bool MayInstall(const char* offeredVersion) override;
  void BeginInstall(const char* installedVersion, const char* offeredVersion) override;
  void EndInstall() override;

  // After the launch, with the window closed: watches the first start of what the run
  // installed, then keeps it or reverts (ending `started` first when it still runs), holds the
  // offered version and starts the previous one after `relaunchWaitMilliseconds`.
  FirstStartWatchOutcome WatchAndConclude(StartedProcess& started,
                                          unsigned relaunchWaitMilliseconds);

 private:
  void Log(const char* operation, const char* text);
  void LogOutsideText(const char* operation, const char* text);
  // Concludes an interrupted run's record (revert, or clean-up when it had proved good).
  bool ConcludeEarlierWatch();

  std::chrono::milliseconds m_watch{0};
  std::chrono::milliseconds m_steadyHold;
  FileSink& m_disk;
  RunLog* m_log;
  bool m_blocked = false;  // an earlier record could not be concluded: install nothing
  bool m_installing = false;
  bool m_watchPending = false;
  FirstStartWatchStore m_store;
  std::unique_ptr<FirstStartWatchSink> m_keeping;
  RunLock m_lock;
};
