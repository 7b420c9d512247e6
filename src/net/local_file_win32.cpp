// Reading a local document on Windows: files on disk only (GetFileType), so a pipe, a console or
// a device named by a manifest can neither hold the run nor feed it endless bytes.
#include <windows.h>

#include <algorithm>
#include <new>

#include "common/win32_handles.h"
#include "net/fetch_backend.h"

namespace {

constexpr DWORD kReadChunkBytes = 64 * 1024;

FetchStatus ReadAll(HANDLE file, const FetchLimits& limits, std::vector<char>& body) {
  const ULONGLONG deadline =
      GetTickCount64() + static_cast<ULONGLONG>(limits.totalTimeoutSeconds) * 1000u;
  char chunk[kReadChunkBytes];
  for (;;) {
    DWORD got = 0;
    if (!::ReadFile(file, chunk, sizeof chunk, &got, nullptr)) return FetchStatus::kFileUnreadable;
    if (got == 0) return FetchStatus::kOk;
    if (got > limits.maxBytes - std::min(body.size(), limits.maxBytes)) {
      return FetchStatus::kTooLarge;
    }
    body.insert(body.end(), chunk, chunk + got);
    if (GetTickCount64() > deadline) return FetchStatus::kDeadlineExceeded;
  }
}

}  // namespace

FetchStatus FetchLocalFile(const char* path, const FetchLimits& limits, std::vector<char>& body) {
  body.clear();
  UniqueFileHandle file(::CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return FetchStatus::kFileUnreadable;
  BY_HANDLE_FILE_INFORMATION information = {};
  if (::GetFileType(file.Get()) != FILE_TYPE_DISK ||
      !::GetFileInformationByHandle(file.Get(), &information) ||
      (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return FetchStatus::kNotRegularFile;
  }
  const ULONGLONG size =
      (static_cast<ULONGLONG>(information.nFileSizeHigh) << 32) | information.nFileSizeLow;
  if (size > limits.maxBytes) return FetchStatus::kTooLarge;
  FetchStatus result;
  try {
    body.reserve(static_cast<std::size_t>(size));
    result = ReadAll(file.Get(), limits, body);
  } catch (const std::bad_alloc&) {
    result = FetchStatus::kOutOfMemory;
  }
  if (result != FetchStatus::kOk) std::vector<char>().swap(body);
  return result;
}

// Local documents on Windows are read whole: the DOM they go to holds them whole anyway.
FetchStatus FetchLocalFileInto(const char* path, const FetchLimits& limits,
                               ByteReceiver& receiver) {
  std::vector<char> body;
  const FetchStatus fetched = FetchLocalFile(path, limits, body);
  return HandOver(fetched, body, receiver);
}
