// The engine's log lines for one run, and what both modes share: their start, their positions.
#include "update/engine_log.h"

#include <cstdint>

#include "log/log_text.h"
#include "update/log_texts.h"

void EngineLog::Line(const char* operation, const char* text) const {
  if (m_run.logging) m_log.WriteLog(kLogComponent, operation, text);
}

void EngineLog::OutsideText(const char* operation, const char* outsideText) const {
  if (!m_run.logging) return;
  m_log.WriteLog(kLogComponent, operation, ToLogEncoding(outsideText).c_str());
}

int PositionAfter(int count, int extra) {
  return static_cast<int>(static_cast<std::uint32_t>(count) + static_cast<std::uint32_t>(extra));
}

void BeginMode(const EngineLog& log, ProgressSink& progress, const char* modeText,
               const char* installedVersion, const char* offeredVersion) {
  // Both modes announce themselves under the same operation and start from the range 0..1.
  log.Line(kOpModeStart, modeText);
  progress.SetProgressRange(1);
  log.OutsideText(kOpInstalledVersion, installedVersion);
  log.OutsideText(kOpOfferedVersion, offeredVersion);
}
