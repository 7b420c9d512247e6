// Regular-file opens on POSIX: O_NONBLOCK keeps a FIFO without a writer (or reader) from holding
// the open, and fstat on the descriptor checks the very object that was opened. POSIX target only.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "common/posix_handles.h"
#include "common/regular_file.h"

namespace {

constexpr mode_t kNewFileMode = 0666;  // as fopen creates files; the umask applies

int OpenFlags(RegularFileUse use) {
  constexpr int kAlways = O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
  switch (use) {
    case RegularFileUse::kRead:
      return kAlways | O_RDONLY;
    case RegularFileUse::kAppend:
      return kAlways | O_WRONLY | O_APPEND;
    case RegularFileUse::kTruncate:
      break;
  }
  return kAlways | O_WRONLY;
}

// Opens an existing file, or for writing makes a new one. O_EXCL makes the new one right there:
// a symbolic link leading nowhere is not followed to make a file wherever it points.
int OpenOrCreate(const char* path, RegularFileUse use) {
  const int fd = ::open(path, OpenFlags(use));
  if (fd >= 0 || errno != ENOENT || use == RegularFileUse::kRead) return fd;
  return ::open(path, OpenFlags(use) | O_CREAT | O_EXCL, kNewFileMode);
}

// True when the directory holds an entry of that name, though opening it found no file: a
// symbolic link that leads nowhere.
bool NameIsTaken(const char* path) {
  struct stat info {};
  return ::lstat(path, &info) == 0;
}

RegularFileOpen OpenFailure(const char* path, int error) {
  switch (error) {
    case ENOENT:
      return NameIsTaken(path) ? RegularFileOpen::kNotRegular : RegularFileOpen::kAbsent;
    case ENXIO:   // a FIFO opened for writing with nobody reading it
    case EEXIST:  // a link that leads nowhere, met by the exclusive create
      return RegularFileOpen::kNotRegular;
    default:
      return RegularFileOpen::kFailed;
  }
}

}  // namespace

RegularFileOpen OpenRegularFile(const char* path, RegularFileUse use, UniqueStdioFile& file) {
  file.Reset();
  UniqueFd fd(OpenOrCreate(path, use));
  if (!fd) return OpenFailure(path, errno);
  struct stat info {};
  if (::fstat(fd.Get(), &info) != 0) return RegularFileOpen::kFailed;
  if (!S_ISREG(info.st_mode)) return RegularFileOpen::kNotRegular;
  if (use == RegularFileUse::kTruncate && ::ftruncate(fd.Get(), 0) != 0) {
    return RegularFileOpen::kFailed;
  }
  const char* mode =
      use == RegularFileUse::kRead ? "rb" : (use == RegularFileUse::kAppend ? "ab" : "wb");
  file.Reset(::fdopen(fd.Get(), mode));
  if (!file) return RegularFileOpen::kFailed;
  fd.Release();  // the stream owns the descriptor now
  return RegularFileOpen::kOpened;
}
