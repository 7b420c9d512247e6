// The updater's diagnostic trace: configuration, session identifiers and the line formats.
// Portable: settings, the Windows directory and file sizes come from the common services.
#include "log/log_file.h"

#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <random>
#include <string>

#include "common/files.h"
#include "common/fixed_buffer.h"
#include "common/regular_file.h"
#include "common/settings.h"
#include "common/stdio_file.h"

namespace {

constexpr char kLevelKey[] = "Software\\MubAX";
constexpr char kLevelValue[] = "NivelLog";
constexpr char kConfigFileName[] = "LogXml.ini";
constexpr char kConfigSection[] = "Log";
constexpr char kMaxSizeKey[] = "TamFichLog";
constexpr char kMaxSizeDefault[] = "5120";
constexpr char kPathKey[] = "PathFichLog";
constexpr char kDefaultLogName[] = "AxMubaxPinPadWS.log";

constexpr char kOpenFailedText[] = "Error en la apertura del archivo Log.";
constexpr char kWriteFailedText[] = "Error en la escritura del archivo Log.";

constexpr std::int32_t kNormalLevel = 0;
constexpr std::int32_t kDebugLevel = 9;

// Room reserved for the CRs added before LFs: a guess of one in 16 bytes, and the line's end.
constexpr std::size_t kBytesPerAddedCr = 16;
constexpr std::size_t kLineEndRoom = 2;
// Session identifiers are drawn below this: "id-000000" to "id-032767".
constexpr unsigned kSessionIdCount = 32768u;
// "dd/mm/yyyy - hh:mm:ss" and its terminator.
constexpr std::size_t kTimestampBufferSize = 22;
// Bytes to kilobytes.
constexpr unsigned kKilobyteShift = 10;

const char* OrEmpty(const char* text) { return text != nullptr ? text : ""; }

// Formats a line of any length: the callers' texts are unbounded, and a cut entry would hide the
// very detail it was written for. False on a format error.
#if defined(__GNUC__)
__attribute__((format(printf, 2, 3)))
#endif
bool FormatLine(std::string& line, const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  va_list measuring;
  va_copy(measuring, arguments);
  const int needed = std::vsnprintf(nullptr, 0, format, measuring);
  va_end(measuring);
  bool ok = needed >= 0;
  if (ok) {
    line.assign(static_cast<std::size_t>(needed) + 1, '\0');
    ok = std::vsnprintf(&line[0], line.size(), format, arguments) == needed;
    line.resize(static_cast<std::size_t>(needed));
  }
  va_end(arguments);
  return ok;
}

// The log's bytes are those a Windows text-mode stream stores: every LF becomes CR LF, so the
// formats' own "\r\n" ends up as CR CR LF. Doing it here keeps the file identical on every target.
std::string ToTextModeBytes(const std::string& line) {
  std::string bytes;
  bytes.reserve(line.size() + line.size() / kBytesPerAddedCr + kLineEndRoom);
  for (const char c : line) {
    if (c == '\n') bytes += '\r';
    bytes += c;
  }
  return bytes;
}

}  // namespace

LogFile::LogFile() {
  m_errorText[0] = '\0';
  m_sessionId[0] = '\0';
  m_path[0] = '\0';
  Configure();
}

LogFile::~LogFile() = default;

void LogFile::Configure() {
  char configPath[kFullPathBufferSize] = {};
  const bool haveDirectory = GetWindowsDirectoryPath(configPath, sizeof(configPath)) != 0 &&
                             AppendText(configPath, sizeof(configPath), kDirectorySeparator) &&
                             AppendText(configPath, sizeof(configPath), kConfigFileName);
  if (!haveDirectory) CopyText(configPath, kConfigFileName);

  m_enabled = true;
  m_level = kNormalLevel;
  char levelText[kLogSettingBufferSize] = {};
  if (ReadRegistryString(RegistryRoot::CurrentUser, kLevelKey, kLevelValue, levelText,
                         sizeof(levelText)) > 0) {
    m_level = ReadLeadingInt(levelText);
    m_enabled = m_level >= 0;
  }

  char sizeText[kLogSettingBufferSize] = {};
  ReadIniString(kConfigSection, kMaxSizeKey, kMaxSizeDefault, sizeText, sizeof(sizeText),
                configPath);
  m_maxSizeKB = ReadLeadingInt(sizeText);

  char pathText[kLogSettingBufferSize] = {};
  ReadIniString(kConfigSection, kPathKey, "", pathText, sizeof(pathText), configPath);
  if (pathText[0] != '\0') {
    CopyText(m_path, pathText);
    return;
  }
  // Without a Windows directory there is no default log: the path stays empty, so entries fail
  // rather than landing in whatever the working directory happens to be.
  char directory[kLogSettingBufferSize] = {};
  char defaultPath[sizeof(m_path)] = {};
  if (GetWindowsDirectoryPath(directory, sizeof(directory)) != 0 &&
      FormatText(defaultPath, sizeof(defaultPath), "%s%s%s", directory, kDirectorySeparator,
                 kDefaultLogName)) {
    CopyText(m_path, defaultPath);
  }
}

bool LogFile::SetPath(const char* path) { return CopyText(m_path, path); }

void LogFile::NewSessionId() {
  // Seeded from whole seconds on every call, so calls within one second agree on the identifier.
  std::minstd_rand generator(static_cast<std::minstd_rand::result_type>(std::time(nullptr)));
  const int number = static_cast<int>(generator() % kSessionIdCount);
  FormatText(m_sessionId, sizeof(m_sessionId), "id-%06d", number);
}

LogResult LogFile::Write(const char* component, const char* operation, const char* text) {
  if (m_errorText[0] != '\0') return kLogFailed;
  char timestamp[kTimestampBufferSize];
  MakeTimestamp(timestamp, sizeof(timestamp));
  return WriteEntry(component, operation, text, timestamp) ? kLogOk : kLogFailed;
}

void LogFile::MakeTimestamp(char* buffer, unsigned bufferSize) const {
  const std::time_t now = std::time(nullptr);
  const std::tm* local = std::localtime(&now);
  // strftime leaves the buffer undefined when it fails; an empty stamp is better than garbage.
  if (local == nullptr || std::strftime(buffer, bufferSize, "%d/%m/%Y - %H:%M:%S", local) == 0) {
    buffer[0] = '\0';
  }
}

bool LogFile::WriteEntry(const char* component, const char* operation, const char* text,
                         const char* timestamp) {
  if (!m_enabled) return true;

  std::string line;
  bool formatted = true;
  if (m_level == kNormalLevel) {
    formatted = FormatLine(line, "[%s] %s - %s.%s %s \r\n", timestamp, m_sessionId,
                           OrEmpty(component), OrEmpty(operation), OrEmpty(text));
  } else if (m_level == kDebugLevel) {
    formatted = FormatLine(line, "[%s] [%s] - %s.%s Debug [%s]\r\n", timestamp, m_sessionId,
                           OrEmpty(component), OrEmpty(operation), OrEmpty(text));
  }

  if (!formatted) {
    CopyText(m_errorText, kWriteFailedText);
    return false;
  }

  // The limit is compared unsigned: a negative limit is never reached.
  const RegularFileUse use = GetFileSizeKB() >= static_cast<std::uint32_t>(m_maxSizeKB)
                                 ? RegularFileUse::kTruncate
                                 : RegularFileUse::kAppend;
  // A FIFO or device as the log would hold the run (and its lock) until someone reads it.
  UniqueStdioFile file;
  if (OpenRegularFile(m_path, use, file) != RegularFileOpen::kOpened) {
    CopyText(m_errorText, kOpenFailedText);
    return false;
  }

  bool written = true;
  if (!line.empty()) {
    const std::string bytes = ToTextModeBytes(line);
    written = std::fwrite(bytes.data(), 1, bytes.size(), file.Get()) == bytes.size();
  }
  // A close can be where a buffered write first fails (a full disk), so it counts too.
  written = std::fclose(file.Release()) == 0 && written;
  if (!written) {
    CopyText(m_errorText, kWriteFailedText);
    return false;
  }
  return true;
}

std::uint32_t LogFile::GetFileSizeKB() const {
  const std::int64_t size = GetFileSizeBytes(m_path);
  if (size < 0) return 0;
  // Only the low 32 bits of the size count, as the size query of the Windows build reports them.
  return static_cast<std::uint32_t>(static_cast<std::uint64_t>(size)) >> kKilobyteShift;
}
