// The front ends' update run: a host in front of theirs that takes the run lock when the engine
// asks and remembers whether the launch and the end have happened.
#include "app/update_session.h"

#include <string>

#include "common/app_directory.h"
#include "common/buffer_sizes.h"
#include "common/machine_identity.h"
#include "common/settings.h"
#include "update/trusted_keys.h"

namespace {

RunSummary FailedRun() {
  RunSummary failed;
  failed.outcome = RunOutcome::kFailed;
  return failed;
}

// The run's host in front of the front end's: the log, the progress and the events go to the
// front end's own parts untouched.
class SessionHost : public RunHost {
 public:
  SessionHost(RunHost& host, unsigned lockWaitMilliseconds, RunLock& lock)
      : m_host(host), m_lockWait(lockWaitMilliseconds), m_lock(lock) {}

  void ReportRunOutcome(const RunSummary& summary) override {
    m_summary = summary;
    m_host.ReportRunOutcome(summary);
  }
  const RunSummary& Summary() const { return m_summary; }

  bool TakeUpdateTurn() override {
    // A lock that cannot be made at all stops nothing: updating alone is the usual case.
    const RunLockResult taken = m_lock.Acquire(m_lockWait);
    return (taken == RunLockResult::kHeld || taken == RunLockResult::kUnavailable) &&
           m_host.TakeUpdateTurn();
  }
  void LaunchMainApplication() override {
    m_launched = true;
    m_host.LaunchMainApplication();
  }
  void EndRun() override {
    m_ended = true;
    m_host.EndRun();
  }

  // What the run still owes after the engine raised.
  void Finish() {
    if (!m_launched) LaunchMainApplication();
    if (!m_ended) EndRun();
  }

 private:
  RunHost& m_host;
  unsigned m_lockWait;
  RunLock& m_lock;
  bool m_launched = false;
  bool m_ended = false;
  RunSummary m_summary = FailedRun();
};

}  // namespace

RunSummary RunUpdateSession(const UpdateHosts& hosts, FileSink& sink, Fetcher& fetcher,
                            unsigned lockWaitMilliseconds, FirstStartWatchSession* watch) {
  RunLock sessionLock;
  SessionHost session(hosts.run, lockWaitMilliseconds,
                      watch != nullptr ? watch->Lock() : sessionLock);
  try {
    UpdateOptions options;
    options.keys = &TrustedReleaseKeys();
    options.firstStartWatch = watch;
    std::string identity;
    if (ReadMachineIdentity(identity)) options.tillIdentity = identity;
    UpdateEngine engine(UpdateHosts(session, hosts.progress, hosts.log, hosts.events),
                        watch != nullptr ? watch->Sink() : sink, fetcher, options);
    engine.RunUpdate();
  } catch (...) {
    // Whatever went wrong, the till must get its application and the window must close.
  }
  try {
    session.Finish();
  } catch (...) {
    // The host's own launch or end failed: nothing is left that could do better.
  }
  return session.Summary();
}

void SendRunReportAfterLaunch(RunSummary summary, FirstStartWatchOutcome watch, Fetcher& fetcher) {
  try {
    char base[kSettingTextBufferSize] = {};
    if (ReadRegistryString(RegistryRoot::CurrentUser, kAppSettingsKey, kReportAddressValue, base,
                           sizeof(base)) <= 1) {
      return;
    }
    if (watch == FirstStartWatchOutcome::kReverted) summary.outcome = RunOutcome::kReverted;
    std::string identity;
    ReadMachineIdentity(identity);
    SendReport(fetcher, FormatReportAddress(base, summary, TillReportName(identity)));
  } catch (...) {
    // A report is worth less than anything the till does next: out of memory, it is dropped.
  }
}
