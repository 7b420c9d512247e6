// Whole-file reads through stdio, the same on both targets.
#include <cstdio>

#include "common/file_ops.h"
#include "common/stdio_file.h"

namespace {
constexpr std::size_t kReadChunkBytes = std::size_t{64} * 1024;
}  // namespace

bool ReadFileBytes(const char* path, std::string& bytes) {
  bytes.clear();
  UniqueStdioFile file(std::fopen(path, "rb"));
  if (!file) return false;
  std::string chunk(kReadChunkBytes, '\0');
  for (;;) {
    const std::size_t got = std::fread(&chunk[0], 1, chunk.size(), file.Get());
    bytes.append(chunk, 0, got);
    if (got < chunk.size()) break;
  }
  if (std::ferror(file.Get()) != 0) {
    bytes.clear();
    return false;
  }
  return true;
}
