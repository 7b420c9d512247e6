// The engine's file sinks: to disk, each file replaced in one step, or nowhere (a dry run).
#include "common/app_directory.h"
#include "common/buffer_sizes.h"
#include "common/files.h"
#include "common/fixed_buffer.h"
#include "common/settings.h"
#include "update/update_engine.h"

bool ResolveInstallDestination(const char* destination, char* buffer, std::size_t bufferSize) {
  if (bufferSize == 0) return false;
  buffer[0] = '\0';
  if (destination != nullptr)
    return destination[0] != '\0' && CopyText(buffer, bufferSize, destination);
  ReadRegistryString(RegistryRoot::CurrentUser, kAppSettingsKey, kAppPathValue, buffer, bufferSize);
  return buffer[0] != '\0';
}

int DiskFileSink::WriteFileBytes(const unsigned char* data, std::size_t length,
                                 const char* destination) {
  m_lastOutcome = FileWriteOutcome::kFailed;
  char path[kPathBufferSize];
  if (!ResolveInstallDestination(destination, path, sizeof(path))) return 0;
  // The registered main executable is started right after the run: it must stay runnable.
  const bool mainExecutable = destination == nullptr;
  switch (ReplaceFileContents(path, data, length, mainExecutable)) {
    case ReplaceResult::kReplaced:
      m_lastOutcome = FileWriteOutcome::kReplaced;
      return 1;
    case ReplaceResult::kWrittenInPlace:
      m_lastOutcome = FileWriteOutcome::kWrittenInPlace;
      return 1;
    case ReplaceResult::kNotWritable:
      m_lastOutcome = FileWriteOutcome::kNotWritable;
      return 0;
    case ReplaceResult::kFailed:
      break;
  }
  return 0;
}

int DryRunFileSink::WriteFileBytes(const unsigned char* /*data*/, std::size_t length,
                                   const char* destination) {
  if (destination != nullptr && destination[0] == '\0') return 0;
  m_writes.push_back(Write{destination != nullptr ? destination : "", length});
  return 1;
}
