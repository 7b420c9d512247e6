// GrowingFile on POSIX: a descriptor opened without following a final link or blocking on a
// pipe, checked to be a regular file before it is cut or written. POSIX target only.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "common/growing_file.h"
#include "common/posix_handles.h"

struct GrowingFile::Impl {
  UniqueFd fd;
};

GrowingFile::GrowingFile() = default;
GrowingFile::~GrowingFile() = default;

bool GrowingFile::Open(const char* path, std::uint64_t keepBytes) {
  Close();
  auto impl = std::make_unique<Impl>();
  impl->fd.Reset(::open(path, O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644));
  if (impl->fd.Get() < 0) return false;
  struct stat status = {};
  if (::fstat(impl->fd.Get(), &status) != 0 || !S_ISREG(status.st_mode)) return false;
  std::uint64_t size = static_cast<std::uint64_t>(status.st_size);
  if (size > keepBytes) {
    if (::ftruncate(impl->fd.Get(), static_cast<off_t>(keepBytes)) != 0) return false;
    size = keepBytes;
  }
  if (::lseek(impl->fd.Get(), static_cast<off_t>(size), SEEK_SET) < 0) return false;
  m_impl = std::move(impl);
  m_size = size;
  return true;
}

bool GrowingFile::Append(const void* data, std::size_t length) {
  if (!m_impl) return false;
  const auto* bytes = static_cast<const unsigned char*>(data);
  while (length > 0) {
    const ssize_t written = ::write(m_impl->fd.Get(), bytes, length);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    bytes += written;
    length -= static_cast<std::size_t>(written);
    m_size += static_cast<std::uint64_t>(written);
  }
  return true;
}

bool GrowingFile::Empty() {
  if (!m_impl || ::ftruncate(m_impl->fd.Get(), 0) != 0 ||
      ::lseek(m_impl->fd.Get(), 0, SEEK_SET) < 0) {
    return false;
  }
  m_size = 0;
  return true;
}

bool GrowingFile::Flush() { return m_impl && ::fsync(m_impl->fd.Get()) == 0; }

void GrowingFile::Close() {
  m_impl.reset();
  m_size = 0;
}
