// The engine's log lines for one run: written to the run's log when the run logs, dropped
// otherwise, so no part of the engine tests the logging decision itself.
#pragma once

#include "update/update_host.h"
#include "update/update_options.h"

class EngineLog {
 public:
  // `log` and `run` must outlive this.
  EngineLog(RunLog& log, const RunContext& run) : m_log(log), m_run(run) {}

  bool On() const { return m_run.logging; }
  // One line of the program's own texts.
  void Line(const char* operation, const char* text) const;
  // One line whose text came from outside (settings, a manifest): it is converted into the log's
  // encoding here, the one place where such texts reach the log.
  void OutsideText(const char* operation, const char* outsideText) const;
  // The log itself when the run logs, else one that drops every line.
  RunLog& Gated() const { return m_run.logging ? m_log : DroppedRunLog(); }

 private:
  RunLog& m_log;
  const RunContext& m_run;
};

// A progress position or range bound past a count (count + extra), formed without overflowing
// int: a manifest's count can be any 32-bit number.
int PositionAfter(int count, int extra);

// How both modes start: their line, the range 0..1, the installed and the offered version.
void BeginMode(const EngineLog& log, ProgressSink& progress, const char* modeText,
               const char* installedVersion, const char* offeredVersion);
