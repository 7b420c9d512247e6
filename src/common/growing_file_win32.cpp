// GrowingFile on Windows: one file handle, checked to be a disk file before it is cut or
// written. Windows target only.
#include <windows.h>

#include "common/growing_file.h"
#include "common/win32_handles.h"

struct GrowingFile::Impl {
  UniqueFileHandle file;
};

namespace {

bool MoveTo(HANDLE file, std::uint64_t offset) {
  LARGE_INTEGER position;
  position.QuadPart = static_cast<LONGLONG>(offset);
  return SetFilePointerEx(file, position, nullptr, FILE_BEGIN) != FALSE;
}

}  // namespace

GrowingFile::GrowingFile() = default;
GrowingFile::~GrowingFile() = default;

bool GrowingFile::Open(const char* path, std::uint64_t keepBytes) {
  Close();
  auto impl = std::make_unique<Impl>();
  impl->file.Reset(CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                               OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!impl->file) return false;
  LARGE_INTEGER size;
  if (GetFileType(impl->file.Get()) != FILE_TYPE_DISK || !GetFileSizeEx(impl->file.Get(), &size)) {
    return false;
  }
  std::uint64_t length = static_cast<std::uint64_t>(size.QuadPart);
  if (length > keepBytes) {
    if (!MoveTo(impl->file.Get(), keepBytes) || !SetEndOfFile(impl->file.Get())) return false;
    length = keepBytes;
  }
  if (!MoveTo(impl->file.Get(), length)) return false;
  m_impl = std::move(impl);
  m_size = length;
  return true;
}

bool GrowingFile::Append(const void* data, std::size_t length) {
  if (!m_impl) return false;
  const auto* bytes = static_cast<const unsigned char*>(data);
  constexpr std::size_t kLargestWrite = 1u << 30;  // WriteFile takes a 32-bit count
  while (length > 0) {
    const DWORD part = static_cast<DWORD>(length < kLargestWrite ? length : kLargestWrite);
    DWORD written = 0;
    if (!WriteFile(m_impl->file.Get(), bytes, part, &written, nullptr) || written == 0) {
      return false;
    }
    bytes += written;
    length -= written;
    m_size += written;
  }
  return true;
}

bool GrowingFile::Empty() {
  if (!m_impl || !MoveTo(m_impl->file.Get(), 0) || !SetEndOfFile(m_impl->file.Get())) return false;
  m_size = 0;
  return true;
}

bool GrowingFile::Flush() { return m_impl && FlushFileBuffers(m_impl->file.Get()) != FALSE; }

void GrowingFile::Close() {
  m_impl.reset();
  m_size = 0;
}
