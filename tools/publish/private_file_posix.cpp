// Private key files on POSIX: created with O_EXCL and mode 0600 in one step, so the key is never
// readable by others, not even for a moment.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/posix_handles.h"
#include "publish/private_file.h"

namespace {
constexpr mode_t kOwnerOnly = 0600;
}  // namespace

std::string WriteNewPrivateFile(const std::string& path, const std::string& text) {
  UniqueFd fd(open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kOwnerOnly));
  if (!fd) return "cannot create " + path + ": " + std::strerror(errno);
  std::size_t written = 0;
  while (written < text.size()) {
    const ssize_t got = write(fd.Get(), text.data() + written, text.size() - written);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0 || fsync(fd.Get()) != 0) {
      std::string error = "cannot write " + path + ": " + std::strerror(errno);
      fd.Reset();
      unlink(path.c_str());
      return error;
    }
    written += static_cast<std::size_t>(got);
  }
  return std::string();
}
