// The first-start watch: the watch the engine calls while it installs, and the watch and the
// settling after the launch. Every decision is logged under the run's logging flag.
#include "app/first_start_watch_session.h"

#include <cstring>
#include <memory>

#include "app/launcher.h"
#include "common/app_directory.h"
#include "common/buffer_sizes.h"
#include "common/fixed_buffer.h"
#include "common/settings.h"
#include "log/log_text.h"
#include "update/log_texts.h"

namespace {

std::string AppDirectoryText() {
  char directory[kPathBufferSize] = {};
  return GetAppDirectory(directory, sizeof(directory)) == 1 ? directory : "";
}

std::chrono::milliseconds ReadWatchPeriod() {
  char text[kSettingTextBufferSize] = {};
  ReadRegistryString(RegistryRoot::CurrentUser, kAppSettingsKey, kStartWatchValue, text,
                     sizeof(text));
  const int seconds = ReadLeadingInt(text);
  return std::chrono::seconds(seconds > 0 ? seconds : 0);
}

// What the log says of a start that failed: only what was seen to happen.
const char* FailedStartText(StartVerdict verdict) {
  switch (verdict) {
    case StartVerdict::kExited:
      return kTextStartExited;
    case StartVerdict::kLetGo:
      return kTextStartLetGo;
    case StartVerdict::kGood:
    case StartVerdict::kNeverHeld:
      break;
  }
  return kTextStartNeverHeld;
}

}  // namespace

FirstStartWatchSession::FirstStartWatchSession(FileSink& disk, std::chrono::milliseconds steadyHold)
    : m_watch(ReadWatchPeriod()),
      m_steadyHold(steadyHold),
      m_disk(disk),
      m_log(&DroppedRunLog()),
      m_store(AppDirectoryText()) {
  if (On()) m_keeping = std::make_unique<FirstStartWatchSink>(disk, m_store);
}

void FirstStartWatchSession::Log(const char* operation, const char* text) {
  m_log->WriteLog(kLogComponent, operation, text);
}

void FirstStartWatchSession::LogOutsideText(const char* operation, const char* text) {
  m_log->WriteLog(kLogComponent, operation, ToLogEncoding(text).c_str());
}

bool FirstStartWatchSession::ConcludeEarlierWatch() {
  // A record that cannot be read cannot be concluded safely: leave it for a person to look at.
  if (!m_store.Load()) return false;
  const bool proved = m_store.Record().state == FirstStartWatchState::kCleaning;
  Log(proved ? kOpStartWatch : kOpRevert, kTextEarlierRunUnfinished);
  // An install cut short, or a start never judged, leaves a version nobody has seen start: the
  // previous one comes back. Only a revert that was already under way holds the version.
  const ConclusionResult concluded = proved ? m_store.Clean() : m_store.Revert(false);
  return concluded == ConclusionResult::kDone;
}

void FirstStartWatchSession::FinishEarlierRun(RunLog& log) {
  m_log = &log;
  // Concluded whether or not the setting is still on: the folder is the updater's own, and a
  // half-reverted version must never stay.
  if (!m_store.HasRecord()) return;
  if (!ConcludeEarlierWatch()) {
    m_blocked = true;
    Log(kOpRevert, kTextRevertUnfinished);
  }
}

bool FirstStartWatchSession::MayInstall(const char* offeredVersion) {
  // Installing over an unconcluded record would overwrite the only list of what to put back.
  if (m_blocked) return false;
  if (!On()) return true;
  char held[kSettingTextBufferSize] = {};
  ReadRegistryString(RegistryRoot::CurrentUser, kAppSettingsKey, kHeldVersionValue, held,
                     sizeof(held));
  return held[0] == '\0' || std::strcmp(held, offeredVersion) != 0;
}

void FirstStartWatchSession::BeginInstall(const char* installedVersion,
                                          const char* offeredVersion) {
  if (!On()) return;
  m_installing = true;
  // When the record cannot be started every keep fails, so nothing is written.
  m_store.Begin(installedVersion, offeredVersion);
}

void FirstStartWatchSession::EndInstall() {
  if (!m_installing) return;
  m_installing = false;
  const bool keepFailed = m_keeping != nullptr && m_keeping->KeepFailed();
  ConclusionResult concluded = ConclusionResult::kDone;
  if (!keepFailed && m_store.Record().files.empty()) {
    concluded = m_store.Clean();  // nothing was written: nothing to watch
  } else if (!keepFailed && m_store.BeginWatch()) {
    m_watchPending = true;
  } else {
    // A keep failed, or the record could not be moved on to watching: the files written so far
    // go back now, so the run ends on a whole version.
    Log(kOpRevert, kTextKeepFailed);
    concluded = m_store.Revert(false);
  }
  if (concluded != ConclusionResult::kDone) Log(kOpRevert, kTextRevertUnfinished);
}

FirstStartWatchOutcome FirstStartWatchSession::WatchAndConclude(StartedProcess& started,
                                                                unsigned relaunchWaitMilliseconds) {
  if (m_installing) EndInstall();  // a mode that raised never said it ended
  if (!m_watchPending) return FirstStartWatchOutcome::kNotWatched;
  m_watchPending = false;
  WatchTiming timing;
  timing.period = m_watch;
  timing.steadyHold = m_steadyHold;
  const StartVerdict verdict = WatchFirstStart(started, timing);
  if (verdict == StartVerdict::kGood) {
    Log(kOpStartWatch, kTextStartGood);
    if (m_store.Clean() != ConclusionResult::kDone) Log(kOpStartWatch, kTextRevertUnfinished);
    return FirstStartWatchOutcome::kKept;
  }
  // A start that never took its mark may still run: its files are about to be put back.
  started.Terminate();
  Log(kOpRevert, FailedStartText(verdict));
  const std::string offered = m_store.Record().offeredVersion;
  if (m_store.Revert(true) == ConclusionResult::kDone) {
    LogOutsideText(kOpHeldVersion, offered.c_str());
  } else {
    Log(kOpRevert, kTextRevertUnfinished);
  }
  LaunchMainApplication(relaunchWaitMilliseconds);
  return FirstStartWatchOutcome::kReverted;
}
