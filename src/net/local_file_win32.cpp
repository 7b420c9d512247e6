// Reading a local document on Windows: files on disk only (GetFileType), so a pipe, a console or
// a device named by a manifest can neither hold the run nor feed it endless bytes. The bytes are
// handed on chunk by chunk, so a large file document never has to be held whole.
#include <windows.h>

#include <algorithm>
#include <new>
#include <vector>

#include "common/win32_handles.h"
#include "net/collecting_receiver.h"
#include "net/fetch_backend.h"

namespace {

constexpr DWORD kReadChunkBytes = 64 * 1024;

// Opens a local document for reading: a file on disk within the cap, or why not.
FetchStatus OpenDocument(const char* path, const FetchLimits& limits, UniqueFileHandle& file,
                         ULONGLONG& size) {
  file.Reset(::CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return FetchStatus::kFileUnreadable;
  BY_HANDLE_FILE_INFORMATION information = {};
  if (::GetFileType(file.Get()) != FILE_TYPE_DISK ||
      !::GetFileInformationByHandle(file.Get(), &information) ||
      (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return FetchStatus::kNotRegularFile;
  }
  size = (static_cast<ULONGLONG>(information.nFileSizeHigh) << 32) | information.nFileSizeLow;
  return size > limits.maxBytes ? FetchStatus::kTooLarge : FetchStatus::kOk;
}

// Hands the file to `receiver` chunk by chunk, within the cap (the file may have grown since it
// was measured) and the deadline.
FetchStatus StreamAll(HANDLE file, const FetchLimits& limits, ByteReceiver& receiver) {
  const ULONGLONG deadline =
      GetTickCount64() + static_cast<ULONGLONG>(limits.totalTimeoutSeconds) * 1000u;
  std::vector<char> chunk(kReadChunkBytes);
  std::size_t total = 0;
  for (;;) {
    DWORD got = 0;
    if (!::ReadFile(file, chunk.data(), kReadChunkBytes, &got, nullptr)) {
      return FetchStatus::kFileUnreadable;
    }
    if (got == 0) return FetchStatus::kOk;
    if (got > limits.maxBytes - std::min(total, limits.maxBytes)) return FetchStatus::kTooLarge;
    total += got;
    if (!receiver.Receive(chunk.data(), got)) return FetchStatus::kOutOfMemory;
    if (GetTickCount64() > deadline) return FetchStatus::kDeadlineExceeded;
  }
}

// Opens and streams the file; `collector`, when the receiver keeps the whole file, is told its
// size first.
FetchStatus ReadDocument(const char* path, const FetchLimits& limits, ByteReceiver& receiver,
                         CollectingReceiver* collector) {
  UniqueFileHandle file;
  ULONGLONG size = 0;
  const FetchStatus opened = OpenDocument(path, limits, file, size);
  if (opened != FetchStatus::kOk) return opened;
  try {
    if (collector != nullptr) collector->Expect(static_cast<std::size_t>(size));
    return StreamAll(file.Get(), limits, receiver);
  } catch (const std::bad_alloc&) {
    return FetchStatus::kOutOfMemory;
  }
}

}  // namespace

FetchStatus FetchLocalFile(const char* path, const FetchLimits& limits, std::vector<char>& body) {
  body.clear();
  CollectingReceiver collector(body);
  const FetchStatus result = ReadDocument(path, limits, collector, &collector);
  if (result != FetchStatus::kOk) std::vector<char>().swap(body);
  return result;
}

FetchStatus FetchLocalFileInto(const char* path, const FetchLimits& limits,
                               ByteReceiver& receiver) {
  return ReadDocument(path, limits, receiver, nullptr);
}
