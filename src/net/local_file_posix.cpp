// Reading a local document on POSIX: regular files only, opened without blocking so a FIFO or a
// device named by a manifest can neither hold the run nor feed it endless bytes.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <chrono>
#include <new>
#include <vector>

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

// Hands the file to `receiver` chunk by chunk, within the cap and the deadline.
FetchStatus StreamAll(int fd, const FetchLimits& limits, ByteReceiver& receiver) {
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::seconds(limits.totalTimeoutSeconds);
  std::vector<char> chunk(kReadChunkBytes);
  std::size_t total = 0;
  for (;;) {
    const ssize_t got = ::read(fd, chunk.data(), chunk.size());
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return FetchStatus::kFileUnreadable;
    if (got == 0) return FetchStatus::kOk;
    const auto length = static_cast<std::size_t>(got);
    if (length > limits.maxBytes - total) return FetchStatus::kTooLarge;
    total += length;
    if (!receiver.Receive(chunk.data(), length)) return FetchStatus::kOutOfMemory;
    if (std::chrono::steady_clock::now() > deadline) return FetchStatus::kDeadlineExceeded;
  }
}

// Opens a local document for reading: a regular file within the cap, or why not.
FetchStatus OpenDocument(const char* path, const FetchLimits& limits, UniqueFd& file,
                         std::size_t& size) {
  file.Reset(::open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!file) return FetchStatus::kFileUnreadable;
  struct stat status = {};
  if (::fstat(file.Get(), &status) != 0) return FetchStatus::kFileUnreadable;
  if (!S_ISREG(status.st_mode)) return FetchStatus::kNotRegularFile;
  if (static_cast<unsigned long long>(status.st_size) > limits.maxBytes) {
    return FetchStatus::kTooLarge;
  }
  size = static_cast<std::size_t>(status.st_size);
  return FetchStatus::kOk;
}

}  // namespace

FetchStatus FetchLocalFileInto(const char* path, const FetchLimits& limits,
                               ByteReceiver& receiver) {
  UniqueFd file;
  std::size_t size = 0;
  const FetchStatus opened = OpenDocument(path, limits, file, size);
  if (opened != FetchStatus::kOk) return opened;
  try {
    return StreamAll(file.Get(), limits, receiver);
  } catch (const std::bad_alloc&) {
    return FetchStatus::kOutOfMemory;
  }
}

FetchStatus FetchLocalFile(const char* path, const FetchLimits& limits, std::vector<char>& body) {
  body.clear();
  UniqueFd file;
  std::size_t size = 0;
  const FetchStatus opened = OpenDocument(path, limits, file, size);
  if (opened != FetchStatus::kOk) return opened;
  FetchStatus result;
  try {
    result = ReadAll(file.Get(), size, limits, body);
  } catch (const std::bad_alloc&) {
    result = FetchStatus::kOutOfMemory;
  }
  if (result != FetchStatus::kOk) std::vector<char>().swap(body);
  return result;
}
