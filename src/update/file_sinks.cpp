// The engine's file sinks: to disk, each file replaced in one step, or nowhere (a dry run).
#include "update/file_sinks.h"

#include "common/app_directory.h"
#include "common/buffer_sizes.h"
#include "common/fixed_buffer.h"
#include "common/settings.h"

bool ResolveInstallDestination(const char* destination, char* buffer, std::size_t bufferSize) {
  if (bufferSize == 0) return false;
  buffer[0] = '\0';
  if (destination != nullptr)
    return destination[0] != '\0' && CopyText(buffer, bufferSize, destination);
  ReadRegistryString(RegistryRoot::CurrentUser, kAppSettingsKey, kAppPathValue, buffer, bufferSize);
  return buffer[0] != '\0';
}

namespace {

// Passes content on to `out` (none: nowhere), counting its bytes.
class CountedContent : public ContentProducer, private ContentWriter {
 public:
  explicit CountedContent(ContentProducer& content) : m_content(content) {}
  bool Produce(ContentWriter& out) override {
    m_out = &out;
    return m_content.Produce(*this);
  }
  // Makes the content and drops it.
  bool ProduceNowhere() { return m_content.Produce(*this); }
  std::size_t Bytes() const { return m_bytes; }

 private:
  bool Write(const unsigned char* data, std::size_t length) override {
    m_bytes += length;
    return m_out == nullptr || m_out->Write(data, length);
  }

  ContentProducer& m_content;
  ContentWriter* m_out = nullptr;
  std::size_t m_bytes = 0;
};

}  // namespace

FileWrite DiskFileSink::Write(ContentProducer& content, const char* destination) {
  FileWrite write;
  char path[kPathBufferSize];
  if (!ResolveInstallDestination(destination, path, sizeof(path))) return write;
  // The registered main executable is started right after the run: it must stay runnable.
  const bool mainExecutable = destination == nullptr;
  CountedContent counted(content);
  write.outcome = ReplaceFileContents(path, counted, mainExecutable, &m_batch);
  write.bytes = counted.Bytes();
  return write;
}

FileWrite DryRunFileSink::Write(ContentProducer& content, const char* destination) {
  FileWrite write;
  if (destination != nullptr && destination[0] == '\0') return write;
  CountedContent counted(content);
  if (!counted.ProduceNowhere()) return write;
  write.outcome = ReplaceResult::kReplaced;
  write.bytes = counted.Bytes();
  return write;
}
