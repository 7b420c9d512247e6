// Directory and removal steps on POSIX: mkdir, unlink, rmdir. POSIX target only.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "common/file_ops.h"

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
