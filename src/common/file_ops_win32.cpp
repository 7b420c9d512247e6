// Reads, directory, removal and rename steps on Windows: CreateFileA, CreateDirectoryA,
// DeleteFileA, RemoveDirectoryA, MoveFileExA. Windows target only.
#include <windows.h>

#include <utility>

#include "common/file_ops.h"
#include "common/win32_handles.h"

struct RegularFileReader::Handle {
  UniqueFileHandle file;
};

RegularFileReader::RegularFileReader() : m_handle(std::make_unique<Handle>()) {}
RegularFileReader::~RegularFileReader() = default;

OpenResult RegularFileReader::Open(const char* path) {
  m_handle->file.Reset();
  // A directory cannot be opened as a file at all; it is told apart before the open.
  const DWORD attributes = ::GetFileAttributesA(path);
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return OpenResult::kNotRegular;
  }
  UniqueFileHandle file(::CreateFileA(path, GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    const DWORD error = ::GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? OpenResult::kAbsent
                                                                          : OpenResult::kFailed;
  }
  // Pipes, consoles and devices ("NUL", "COM1") open like files but are not on a disk.
  if (::GetFileType(file.Get()) != FILE_TYPE_DISK) return OpenResult::kNotRegular;
  m_handle->file = std::move(file);
  return OpenResult::kOpened;
}

long long RegularFileReader::Read(unsigned char* buffer, std::size_t size) {
  if (!m_handle->file) return -1;
  const DWORD wanted =
      size > static_cast<std::size_t>(MAXDWORD) ? MAXDWORD : static_cast<DWORD>(size);
  DWORD got = 0;
  if (!::ReadFile(m_handle->file.Get(), buffer, wanted, &got, nullptr)) return -1;
  return static_cast<long long>(got);
}

bool MakeDirectory(const char* path) {
  if (::CreateDirectoryA(path, nullptr)) return true;
  const DWORD error = ::GetLastError();
  const DWORD attributes = ::GetFileAttributesA(path);
  return error == ERROR_ALREADY_EXISTS && attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool RemoveFileAt(const char* path) {
  if (::DeleteFileA(path)) return true;
  const DWORD error = ::GetLastError();
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

bool RemoveEmptyDirectory(const char* path) {
  if (::RemoveDirectoryA(path)) return true;
  const DWORD error = ::GetLastError();
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

bool PathIsPresent(const char* path) {
  return ::GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

bool RenameOver(const char* from, const char* to) {
  // Written through, as the replacements are: durable when the call returns.
  return ::MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}
