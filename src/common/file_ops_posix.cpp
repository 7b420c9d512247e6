// Reads, directory, removal and rename steps on POSIX: open, mkdir, unlink, rmdir, rename. POSIX
// target only.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <utility>

#include "common/file_ops.h"
#include "common/file_replacement.h"
#include "common/files.h"
#include "common/posix_handles.h"

struct RegularFileReader::Handle {
  UniqueFd fd;
};

RegularFileReader::RegularFileReader() : m_handle(std::make_unique<Handle>()) {}
RegularFileReader::~RegularFileReader() = default;

OpenResult RegularFileReader::Open(const char* path) {
  m_handle->fd.Reset();
  // O_NONBLOCK: opening a FIFO with no writer would wait for one; on a regular file it changes
  // nothing.
  UniqueFd fd(::open(path, O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (!fd) return errno == ENOENT ? OpenResult::kAbsent : OpenResult::kFailed;
  struct stat info {};
  if (::fstat(fd.Get(), &info) != 0) return OpenResult::kFailed;
  if (!S_ISREG(info.st_mode)) return OpenResult::kNotRegular;
  m_handle->fd = std::move(fd);
  return OpenResult::kOpened;
}

long long RegularFileReader::Read(unsigned char* buffer, std::size_t size) {
  if (!m_handle->fd) return -1;
  for (;;) {
    const ssize_t got = ::read(m_handle->fd.Get(), buffer, size);
    if (got >= 0) return got;
    if (errno != EINTR) return -1;
  }
}

bool MakeDirectory(const char* path) {
  if (::mkdir(path, 0700) == 0) return true;
  struct stat existing {};
  return errno == EEXIST && ::stat(path, &existing) == 0 && S_ISDIR(existing.st_mode);
}

bool RemoveFileAt(const char* path) { return ::unlink(path) == 0 || errno == ENOENT; }

bool RemoveEmptyDirectory(const char* path) { return ::rmdir(path) == 0 || errno == ENOENT; }

bool PathIsPresent(const char* path) {
  struct stat existing {};
  return ::stat(path, &existing) == 0;
}

bool RenameOver(const char* from, const char* to) {
  if (::rename(from, to) != 0) return false;
  std::string directory(to);
  const std::size_t separator = directory.rfind('/');
  directory.erase(separator == std::string::npos ? 0 : separator);
  FlushDirectoryEntries(directory.empty() ? "." : directory);
  return true;
}
