// Files beside the executable on POSIX: the executable is found through /proc/self/exe, which
// names the file that was started even when it was reached through a link.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "common/beside_executable.h"
#include "common/posix_handles.h"

namespace {

constexpr std::size_t kExecutablePathBufferSize = 4096;

BesideExecutable ReadWhole(int fd, std::size_t maxBytes, std::string& text) {
  struct stat status {};
  if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) ||
      static_cast<std::size_t>(status.st_size) > maxBytes) {
    return BesideExecutable::kUnreadable;
  }
  std::vector<char> buffer(maxBytes + 1);
  std::size_t total = 0;
  for (;;) {
    const ssize_t got = read(fd, buffer.data() + total, buffer.size() - total);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return BesideExecutable::kUnreadable;
    if (got == 0) break;
    total += static_cast<std::size_t>(got);
    if (total > maxBytes) return BesideExecutable::kUnreadable;
  }
  text.assign(buffer.data(), total);
  return BesideExecutable::kRead;
}

// True when the directory holds an entry of that name: a symbolic link that leads nowhere is
// there (someone put it there), even though opening it finds no file.
bool NameIsTaken(const std::string& path) {
  struct stat status {};
  return lstat(path.c_str(), &status) == 0;
}

}  // namespace

BesideExecutable ReadFileBesideExecutable(const char* name, std::size_t maxBytes,
                                          std::string& text) {
  text.clear();
  std::vector<char> path(kExecutablePathBufferSize);
  const ssize_t length = readlink("/proc/self/exe", path.data(), path.size());
  // Without its own path the program cannot tell whether a key file is there: it fails closed.
  if (length <= 0 || static_cast<std::size_t>(length) >= path.size()) {
    return BesideExecutable::kUnreadable;
  }
  std::string file(path.data(), static_cast<std::size_t>(length));
  file.erase(file.rfind('/') + 1);
  file += name;
  const UniqueFd fd(open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (!fd)
    return errno == ENOENT && !NameIsTaken(file) ? BesideExecutable::kAbsent
                                                 : BesideExecutable::kUnreadable;
  const BesideExecutable result = ReadWhole(fd.Get(), maxBytes, text);
  if (result != BesideExecutable::kRead) text.clear();
  return result;
}
