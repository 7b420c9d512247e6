// What the two replacement back ends share: the names of their temporary files and the step hook
// tests use to inject faults.
#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "common/file_replacement.h"
#include "common/files.h"

const char kTemporaryNameMarker[] = ".mubax-new.";

namespace {

// A file name holds at most 255 bytes on the file systems the updater writes to; the name part
// of a temporary name is cut so that the marker and the unique suffix always fit.
constexpr std::size_t kLongestFileName = 255;
constexpr std::size_t kMarkerLength = sizeof(kTemporaryNameMarker) - 1;
constexpr std::size_t kLongestNameInTemporaryName =
    kLongestFileName - 1 - kMarkerLength - kTemporaryNameSuffixLength;

}  // namespace

std::size_t LongestNameInTemporaryName(std::size_t directoryLength, std::size_t longestPath) {
  const std::size_t fixed = directoryLength + 1 + kMarkerLength + kTemporaryNameSuffixLength;
  if (longestPath <= fixed) return 0;
  return std::min(kLongestNameInTemporaryName, longestPath - fixed);
}

std::string TemporaryNamePrefix(const char* fileName, std::size_t longestName) {
  const std::size_t kept = std::min(longestName, kLongestNameInTemporaryName);
  const std::string name(fileName, strnlen(fileName, kept));
  return "." + name + kTemporaryNameMarker;
}

bool IsTemporaryNameOf(const char* entryName, const char* fileName, std::size_t longestName) {
  const std::string prefix = TemporaryNamePrefix(fileName, longestName);
  return std::strlen(entryName) == prefix.size() + kTemporaryNameSuffixLength &&
         std::strncmp(entryName, prefix.c_str(), prefix.size()) == 0;
}

namespace {

ReplaceStepHook g_stepHook = nullptr;

class GatheringWriter : public ContentWriter {
 public:
  explicit GatheringWriter(std::string& bytes) : m_bytes(bytes) {}
  bool Write(const unsigned char* data, std::size_t length) override {
    try {
      m_bytes.append(reinterpret_cast<const char*>(data), length);
      return true;
    } catch (const std::bad_alloc&) {
      m_failed = true;
      return false;
    }
  }
  bool Failed() const { return m_failed; }

 private:
  std::string& m_bytes;
  bool m_failed = false;
};

}  // namespace

void ReplacementBatch::Finish() {
  for (const std::string& directory : m_unflushed) FlushDirectoryEntries(directory);
  m_unflushed.clear();
}

std::vector<std::string>* ReplacementBatch::StaleTemporaries(const std::string& directory) {
  const auto found = m_searched.find(directory);
  return found != m_searched.end() ? &found->second : nullptr;
}

void ReplacementBatch::RecordSearch(const std::string& directory,
                                    std::vector<std::string> temporaries) {
  m_searched[directory] = std::move(temporaries);
}

bool GatherContent(ContentProducer& content, std::string& bytes) {
  bytes.clear();
  GatheringWriter writer(bytes);
  const bool produced = content.Produce(writer);
  return produced && !writer.Failed();
}

ReplaceResult ReplaceFileContents(const char* destination, const unsigned char* data,
                                  std::size_t length, bool executable) {
  if (data == nullptr && length > 0) return ReplaceResult::kFailed;
  BytesContent content(data, length);
  return ReplaceFileContents(destination, content, executable);
}

void SetReplaceStepHook(ReplaceStepHook hook) { g_stepHook = hook; }

StepFault CheckReplaceStep(ReplaceStep step) {
  return g_stepHook != nullptr ? g_stepHook(step) : StepFault::kNone;
}
