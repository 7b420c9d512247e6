// The first-start probation: the guard the engine calls while it installs, and the watch and the
// settling after the launch. Every decision is logged under the run's logging flag.
#include "app/release_probation.h"

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

std::chrono::milliseconds ReadProbation() {
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

ReleaseProbation::ReleaseProbation(FileSink& disk, std::chrono::milliseconds steadyHold)
    : m_probation(ReadProbation()),
      m_steadyHold(steadyHold),
      m_disk(disk),
      m_log(&DroppedRunLog()),
      m_store(AppDirectoryText()) {
  if (On()) m_keeping = std::make_unique<KeepingFileSink>(disk, m_store);
}

void ReleaseProbation::Log(const char* operation, const char* text) {
  m_log->WriteLog(kLogComponent, operation, text);
}

void ReleaseProbation::LogOutsideText(const char* operation, const char* text) {
  m_log->WriteLog(kLogComponent, operation, ToLogEncoding(text).c_str());
}

bool ReleaseProbation::SettleEarlierRecord() {
  // A record that cannot be read cannot be settled safely: leave it for a person to look at.
  if (!m_store.Load()) return false;
  const bool proved = m_store.Record().state == KeepState::kCleaning;
  Log(proved ? kOpStartWatch : kOpRevert, kTextEarlierRunUnfinished);
  // An install cut short, or a start never judged, leaves a version nobody has seen start: the
  // previous one comes back. Only a revert that was already under way holds the version.
  const SettleResult settled = proved ? m_store.Clean() : m_store.Revert(false);
  return settled == SettleResult::kDone;
}

void ReleaseProbation::FinishEarlierRun(RunLog& log) {
  m_log = &log;
  // Settled whether or not the setting is still on: the folder is the updater's own, and a
  // half-reverted version must never stay.
  if (!m_store.HasRecord()) return;
  if (!SettleEarlierRecord()) {
    m_blocked = true;
    Log(kOpRevert, kTextRevertUnfinished);
  }
}

bool ReleaseProbation::MayInstall(const char* offeredVersion) {
  // Installing over an unsettled record would overwrite the only list of what to put back.
  if (m_blocked) return false;
  if (!On()) return true;
  char held[kSettingTextBufferSize] = {};
  ReadRegistryString(RegistryRoot::CurrentUser, kAppSettingsKey, kHeldVersionValue, held,
                     sizeof(held));
  return held[0] == '\0' || std::strcmp(held, offeredVersion) != 0;
}

void ReleaseProbation::BeginInstall(const char* installedVersion, const char* offeredVersion) {
  if (!On()) return;
  m_installing = true;
  // When the record cannot be started every keep fails, so nothing is written.
  m_store.Begin(installedVersion, offeredVersion);
}

void ReleaseProbation::EndInstall() {
  if (!m_installing) return;
  m_installing = false;
  const bool keepFailed = m_keeping != nullptr && m_keeping->KeepFailed();
  SettleResult settled = SettleResult::kDone;
  if (!keepFailed && m_store.Record().files.empty()) {
    settled = m_store.Clean();  // nothing was written: nothing to watch
  } else if (!keepFailed && m_store.BeginProbation()) {
    m_watchPending = true;
  } else {
    // A keep failed, or the record could not be moved on to probation: the files written so far
    // go back now, so the run ends on a whole version.
    Log(kOpRevert, kTextKeepFailed);
    settled = m_store.Revert(false);
  }
  if (settled != SettleResult::kDone) Log(kOpRevert, kTextRevertUnfinished);
}

ProbationOutcome ReleaseProbation::WatchAndSettle(StartedProcess& started,
                                                  unsigned relaunchWaitMilliseconds) {
  if (m_installing) EndInstall();  // a mode that raised never said it ended
  if (!m_watchPending) return ProbationOutcome::kNotWatched;
  m_watchPending = false;
  WatchTiming timing;
  timing.probation = m_probation;
  timing.steadyHold = m_steadyHold;
  const StartVerdict verdict = WatchFirstStart(started, timing);
  if (verdict == StartVerdict::kGood) {
    Log(kOpStartWatch, kTextStartGood);
    if (m_store.Clean() != SettleResult::kDone) Log(kOpStartWatch, kTextRevertUnfinished);
    return ProbationOutcome::kKept;
  }
  // A start that never took its mark may still run: its files are about to be put back.
  started.Terminate();
  Log(kOpRevert, FailedStartText(verdict));
  const std::string offered = m_store.Record().offeredVersion;
  if (m_store.Revert(true) == SettleResult::kDone) {
    LogOutsideText(kOpHeldVersion, offered.c_str());
  } else {
    Log(kOpRevert, kTextRevertUnfinished);
  }
  LaunchMainApplication(relaunchWaitMilliseconds);
  return ProbationOutcome::kReverted;
}
