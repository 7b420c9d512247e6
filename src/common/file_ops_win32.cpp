// Directory, removal and rename steps on Windows: CreateDirectoryA, DeleteFileA,
// RemoveDirectoryA, MoveFileExA.
// Windows target only.
#include <windows.h>

#include "common/file_ops.h"

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
