// Reading a local document on POSIX: regular files only, opened without blocking so a FIFO or a
// device named by a manifest can neither hold the run nor feed it endless bytes.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <chrono>
#include <new>

#include "common/posix_handles.h"
#include "net/fetch_backend.h"

namespace {

constexpr std::size_t kReadChunkBytes = std::size_t{64} * 1024;

FetchStatus ReadAll(int fd, std::size_t size, const FetchLimits& limits, std::vector<char>& body) {
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::seconds(limits.totalTimeoutSeconds);
  body.resize(size);
  std::size_t filled = 0;
  for (;;) {
    if (filled == body.size()) {
      // The file may have grown since it was measured: read on, within the cap.
      if (body.size() >= limits.maxBytes) {
        char probe = 0;
        const ssize_t more = ::read(fd, &probe, 1);
        if (more == 0) return FetchStatus::kOk;
        return more < 0 ? FetchStatus::kFileUnreadable : FetchStatus::kTooLarge;
      }
      body.resize(std::min(limits.maxBytes, body.size() + kReadChunkBytes));
    }
    const ssize_t got = ::read(fd, body.data() + filled, body.size() - filled);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return FetchStatus::kFileUnreadable;
    if (got == 0) break;
    filled += static_cast<std::size_t>(got);
    if (std::chrono::steady_clock::now() > deadline) return FetchStatus::kDeadlineExceeded;
  }
  body.resize(filled);
  return FetchStatus::kOk;
}

}  // namespace

FetchStatus FetchLocalFile(const char* path, const FetchLimits& limits, std::vector<char>& body) {
  body.clear();
  UniqueFd file(::open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!file) return FetchStatus::kFileUnreadable;
  struct stat status = {};
  if (::fstat(file.Get(), &status) != 0) return FetchStatus::kFileUnreadable;
  if (!S_ISREG(status.st_mode)) return FetchStatus::kNotRegularFile;
  if (static_cast<unsigned long long>(status.st_size) > limits.maxBytes) {
    return FetchStatus::kTooLarge;
  }
  FetchStatus result;
  try {
    result = ReadAll(file.Get(), static_cast<std::size_t>(status.st_size), limits, body);
  } catch (const std::bad_alloc&) {
    result = FetchStatus::kOutOfMemory;
  }
  if (result != FetchStatus::kOk) std::vector<char>().swap(body);
  return result;
}
