// What the update engine asks of whoever watches a release's first start: finishing what an
// earlier run left, refusing a held version, and being told when installing begins and ends.
// The engine runs without one (the release tool, the fuzz target); the front ends give it one.
#pragma once

class RunLog;

class FirstStartWatchHooks {
 public:
  virtual ~FirstStartWatchHooks() = default;

  // Called once the run may update, before the manifest is fetched: finishes a revert or a
  // clean-up an earlier run could not finish (power lost), so every run starts from a whole
  // version. `log` is where the watch's lines go from now on, through the watch after the
  // launch: the run's log, or one that drops every line when the run does not log.
  virtual void FinishEarlierRun(RunLog& log) = 0;

  // False when `offeredVersion` is held back after a failed start: the engine then runs no mode
  // and logs the held version.
  virtual bool MayInstall(const char* offeredVersion) = 0;

  // Around the one mode a run installs: everything written in between belongs to this release.
  virtual void BeginInstall(const char* installedVersion, const char* offeredVersion) = 0;
  virtual void EndInstall() = 0;
};
