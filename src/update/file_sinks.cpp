// The engine's file sinks: to disk, each file replaced in one step, or nowhere (a dry run).
#include <string>

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

int FileSink::WriteFileFrom(ContentProducer& content, const char* destination) {
  std::string bytes;
  if (!GatherContent(content, bytes)) return 0;
  return WriteFileBytes(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(),
                        destination);
}

int DiskFileSink::WriteFileBytes(const unsigned char* data, std::size_t length,
                                 const char* destination) {
  if (data == nullptr && length > 0) {
    m_lastOutcome = FileWriteOutcome::kFailed;
    return 0;
  }
  BytesContent content(data, length);
  return WriteFileFrom(content, destination);
}

int DiskFileSink::WriteFileFrom(ContentProducer& content, const char* destination) {
  m_lastOutcome = FileWriteOutcome::kFailed;
  char path[kPathBufferSize];
  if (!ResolveInstallDestination(destination, path, sizeof(path))) return 0;
  // The registered main executable is started right after the run: it must stay runnable.
  const bool mainExecutable = destination == nullptr;
  switch (ReplaceFileContents(path, content, mainExecutable, &m_batch)) {
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

namespace {

// Counts what a dry run's content would have written.
class CountingWriter : public ContentWriter {
 public:
  bool Write(const unsigned char* /*data*/, std::size_t length) override {
    m_length += length;
    return true;
  }
  std::size_t Length() const { return m_length; }

 private:
  std::size_t m_length = 0;
};

}  // namespace

int DryRunFileSink::WriteFileFrom(ContentProducer& content, const char* destination) {
  if (destination != nullptr && destination[0] == '\0') return 0;
  CountingWriter counter;
  if (!content.Produce(counter)) return 0;
  m_writes.push_back(Write{destination != nullptr ? destination : "", counter.Length()});
  return 1;
}

int DryRunFileSink::WriteFileBytes(const unsigned char* /*data*/, std::size_t length,
                                   const char* destination) {
  if (destination != nullptr && destination[0] == '\0') return 0;
  m_writes.push_back(Write{destination != nullptr ? destination : "", length});
  return 1;
}
