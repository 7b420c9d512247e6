// What the two replacement back ends share: the names of their temporary files and the step hook
// tests use to inject faults.
#include <cstring>
#include <string>

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

std::string TemporaryNamePrefix(const char* fileName) {
  const std::string name(fileName, strnlen(fileName, kLongestNameInTemporaryName));
  return "." + name + kTemporaryNameMarker;
}

bool IsTemporaryNameOf(const char* entryName, const char* fileName) {
  const std::string prefix = TemporaryNamePrefix(fileName);
  return std::strlen(entryName) == prefix.size() + kTemporaryNameSuffixLength &&
         std::strncmp(entryName, prefix.c_str(), prefix.size()) == 0;
}

namespace {
ReplaceStepHook g_stepHook = nullptr;
}  // namespace

void SetReplaceStepHook(ReplaceStepHook hook) { g_stepHook = hook; }

StepFault CheckReplaceStep(ReplaceStep step) {
  return g_stepHook != nullptr ? g_stepHook(step) : StepFault::kNone;
}
