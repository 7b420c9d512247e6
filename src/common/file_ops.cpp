// Whole-file reads through the platform's RegularFileReader, the same on both targets.
#include <vector>

#include "common/file_ops.h"

namespace {
constexpr std::size_t kReadChunkBytes = std::size_t{64} * 1024;
}  // namespace

bool ReadFileBytes(const char* path, std::string& bytes) {
  bytes.clear();
  RegularFileReader file;
  if (file.Open(path) != OpenResult::kOpened) return false;
  std::vector<unsigned char> chunk(kReadChunkBytes);
  for (;;) {
    const long long got = file.Read(chunk.data(), chunk.size());
    if (got == 0) return true;
    if (got < 0) {
      bytes.clear();
      return false;
    }
    bytes.append(reinterpret_cast<const char*>(chunk.data()), static_cast<std::size_t>(got));
  }
}
