// Directory, removal and rename steps on POSIX: mkdir, unlink, rmdir, rename. POSIX target only.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "common/file_ops.h"
#include "common/files.h"

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
