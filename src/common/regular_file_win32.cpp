// Regular-file opens on Windows: CreateFileA never waits on what it opens, a directory does not
// open without backup semantics, and GetFileType tells a disk file from a device or pipe. The
// handle then becomes a CRT descriptor and a stdio stream. Windows target only.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdint>

#include "common/regular_file.h"
#include "common/win32_handles.h"

namespace {

struct Access {
  DWORD rights;
  DWORD disposition;
  int crtFlags;
  const char* mode;
};

Access AccessFor(RegularFileUse use) {
  switch (use) {
    case RegularFileUse::kRead:
      return {GENERIC_READ, OPEN_EXISTING, _O_RDONLY | _O_BINARY, "rb"};
    case RegularFileUse::kAppend:
      return {FILE_APPEND_DATA, OPEN_ALWAYS, _O_APPEND | _O_BINARY, "ab"};
    case RegularFileUse::kTruncate:
      break;
  }
  return {GENERIC_WRITE, OPEN_ALWAYS, _O_BINARY, "wb"};
}

}  // namespace

RegularFileOpen OpenRegularFile(const char* path, RegularFileUse use, UniqueStdioFile& file) {
  file.Reset();
  const Access access = AccessFor(use);
  UniqueFileHandle handle(CreateFileA(path, access.rights, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr, access.disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!handle) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
      return use == RegularFileUse::kRead ? RegularFileOpen::kAbsent : RegularFileOpen::kFailed;
    }
    return RegularFileOpen::kFailed;
  }
  if (GetFileType(handle.Get()) != FILE_TYPE_DISK) return RegularFileOpen::kNotRegular;
  if (use == RegularFileUse::kTruncate && !SetEndOfFile(handle.Get())) {
    return RegularFileOpen::kFailed;
  }
  const int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(handle.Get()), access.crtFlags);
  if (descriptor == -1) return RegularFileOpen::kFailed;
  handle.Release();  // the descriptor owns the handle now
  file.Reset(_fdopen(descriptor, access.mode));
  if (!file) {
    _close(descriptor);
    return RegularFileOpen::kFailed;
  }
  return RegularFileOpen::kOpened;
}
