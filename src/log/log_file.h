// The updater's diagnostic trace: one line per entry, stamped with local time and a session
// identifier, appended to a text file that is opened and closed for every entry. Lines end with
// the bytes CR CR LF on every target, so a log has the same bytes wherever it was written.
#pragma once

#include <cstdint>

#include "common/buffer_sizes.h"

using LogResult = std::int32_t;  // an HRESULT's value on every target
constexpr LogResult kLogOk = 0;
constexpr LogResult kLogFailed = static_cast<LogResult>(0x80004005u);  // E_FAIL

class LogFile {
 public:
  // Clears the error text, then configures level, size limit and path (Configure).
  LogFile();
  virtual ~LogFile();
  LogFile(const LogFile&) = delete;
  LogFile& operator=(const LogFile&) = delete;

  // Level from "NivelLog" under "Software\\MubAX"; size limit and default path from section "Log"
  // of "LogXml.ini" in the Windows directory (keys "TamFichLog", "PathFichLog"). When the Windows
  // directory cannot be read and no "PathFichLog" is set, the path stays empty until SetPath.
  void Configure();

  // Points the log at `path` and returns true. A null `path` keeps the current one, and so does a
  // path longer than 519 bytes, which is refused rather than cut; both return false.
  bool SetPath(const char* path);

  // Draws a new session identifier "id-" + six digits (0..32767), seeded from the time in seconds.
  void NewSessionId();

  // Writes one entry. kLogOk when handled (written, or dropped by level), kLogFailed when the log
  // has failed in this call or an earlier one; a failure latches for the object's life. A file
  // that cannot be opened sets "Error en la apertura del archivo Log.", a write or close that
  // fails "Error en la escritura del archivo Log.".
  LogResult Write(const char* component, const char* operation, const char* text);

  // For diagnostics and tests.
  const char* GetPath() const { return m_path; }
  const char* GetSessionId() const { return m_sessionId; }
  const char* GetErrorText() const { return m_errorText; }
  std::int32_t GetLevel() const { return m_level; }
  std::int32_t GetMaxSizeKB() const { return m_maxSizeKB; }

 private:
  void MakeTimestamp(char* buffer, unsigned bufferSize) const;
  bool WriteEntry(const char* component, const char* operation, const char* text,
                  const char* timestamp);
  std::uint32_t GetFileSizeKB() const;

  char m_errorText[kLogTextBufferSize];
  std::int32_t m_maxSizeKB = 0;
  std::int32_t m_level = 0;
  bool m_enabled = true;
  char m_sessionId[kLogTextBufferSize];
  char m_path[kLogPathBufferSize];
};
