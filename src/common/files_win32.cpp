// File-system services on the Win32 API: search, full-path resolution, size, atomic replacement.
// Windows target only.
#include "common/files.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "common/fixed_buffer.h"
#include "common/win32_handles.h"

const char kDirectorySeparator[] = "\\";

namespace {

// The longest path the Win32 file functions accept, in characters.
constexpr std::size_t kLongestPath = 32767;

struct FindHandleTraits {
  using Handle = HANDLE;
  static Handle Invalid() { return INVALID_HANDLE_VALUE; }
  static void Close(Handle handle) { FindClose(handle); }
};
using UniqueFindHandle = UniqueHandle<FindHandleTraits>;

// Deletes the temporary file of a replacement unless the replacement went through.
class TemporaryFile {
 public:
  explicit TemporaryFile(std::string path) : m_path(std::move(path)) {}
  ~TemporaryFile() {
    if (!m_path.empty()) DeleteFileA(m_path.c_str());
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  const char* Path() const { return m_path.c_str(); }
  void Keep() { m_path.clear(); }

 private:
  std::string m_path;
};

// Removes the temporary files a killed run left while writing `fileName` in `directory` (which
// ends with a separator).
void RemoveStaleTemporaryFiles(const std::string& directory, const char* fileName) {
  const std::string pattern = directory + TemporaryNamePrefix(fileName) + "*";
  WIN32_FIND_DATAA found = {};
  UniqueFindHandle search(FindFirstFileA(pattern.c_str(), &found));
  if (!search) return;
  do {
    // The search also matches short 8.3 names; only the exact long name counts.
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
        IsTemporaryNameOf(found.cFileName, fileName)) {
      DeleteFileA((directory + found.cFileName).c_str());
    }
  } while (FindNextFileA(search.Get(), &found));
}

// Creates a new, empty temporary file for a replacement of `fileName` in `directory`, named
// with a fresh suffix; `path` receives its name.
UniqueFileHandle CreateTemporaryFile(const std::string& directory, const char* fileName,
                                     std::string& path) {
  static const char kSuffixCharacters[] = "0123456789abcdefghijklmnopqrstuvwxyz";
  constexpr unsigned kAttempts = 100;
  static unsigned counter = 0;
  const std::string prefix = directory + TemporaryNamePrefix(fileName);
  for (unsigned attempt = 0; attempt < kAttempts; ++attempt) {
    unsigned long long seed = GetTickCount64() ^ (static_cast<unsigned long long>(
                                                      GetCurrentProcessId()) << 20) ^
                              (++counter * 0x9E3779B97F4A7C15ull);
    path = prefix;
    for (std::size_t i = 0; i < kTemporaryNameSuffixLength; ++i, seed /= 36) {
      path += kSuffixCharacters[seed % 36];
    }
    UniqueFileHandle file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file || GetLastError() != ERROR_FILE_EXISTS) return file;
  }
  return UniqueFileHandle();
}

bool WriteAll(HANDLE file, const unsigned char* data, std::size_t length) {
  // WriteFile takes a 32-bit count; large data goes in slices.
  constexpr std::size_t kSlice = 1u << 20;
  while (length > 0) {
    const DWORD request = static_cast<DWORD>(std::min(length, kSlice));
    DWORD written = 0;
    if (!WriteFile(file, data, request, &written, nullptr) || written == 0) return false;
    data += written;
    length -= written;
  }
  return true;
}

}  // namespace

bool FileExists(char* name, std::size_t nameSize, bool replaceWithFound) {
  if (name == nullptr) return false;
  WIN32_FIND_DATAA found = {};
  UniqueFindHandle search(FindFirstFileA(name, &found));
  if (!search) return false;
  if (replaceWithFound) CopyText(name, nameSize, found.cFileName);
  return true;
}

std::size_t GetFullPath(const char* path, char* buffer, std::size_t bufferSize,
                        std::size_t* fileNameOffset) {
  if (path == nullptr || *path == '\0' || buffer == nullptr || bufferSize == 0) return 0;
  try {
    // Resolve into a private buffer so the caller's is untouched when the result is refused.
    std::vector<char> full(std::min<std::size_t>(bufferSize, kLongestPath + 1));
    char* filePart = nullptr;
    const DWORD length =
        GetFullPathNameA(path, static_cast<DWORD>(full.size()), full.data(), &filePart);
    if (length == 0 || length >= full.size()) return 0;
    if (!CopyText(buffer, bufferSize, full.data())) return 0;
    if (fileNameOffset != nullptr) {
      *fileNameOffset = filePart != nullptr ? static_cast<std::size_t>(filePart - full.data())
                                            : static_cast<std::size_t>(length);
    }
    return length;
  } catch (...) {
    return 0;
  }
}

std::int64_t GetFileSizeBytes(const char* path) {
  if (path == nullptr) return -1;
  UniqueFileHandle file(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return -1;
  LARGE_INTEGER size = {};
  if (!GetFileSizeEx(file.Get(), &size)) return -1;
  return size.QuadPart;
}

bool ReplaceFileContents(const char* destination, const unsigned char* data, std::size_t length,
                         bool /*executable: Windows runs any file by its name*/) {
  if (destination == nullptr || *destination == '\0') return false;
  if (data == nullptr && length > 0) return false;
  try {
    // The temporary file must live on the destination's volume, or the final move would be a
    // copy that can fail half-way.
    char full[MAX_PATH] = {};
    std::size_t nameOffset = 0;
    if (GetFullPath(destination, full, sizeof full, &nameOffset) == 0) return false;
    if (full[nameOffset] == '\0') return false;  // names a directory, not a file
    std::string directory(full, nameOffset);

    RemoveStaleTemporaryFiles(directory, full + nameOffset);
    std::string temporaryName;
    UniqueFileHandle file = CreateTemporaryFile(directory, full + nameOffset, temporaryName);
    if (!file) return false;
    TemporaryFile temporary(temporaryName);
    if (!WriteAll(file.Get(), data, length)) return false;
    if (!FlushFileBuffers(file.Get())) return false;
    // A failed close can mean unwritten data; it must not be renamed into place.
    if (!CloseHandle(file.Release())) return false;

    if (!MoveFileExA(temporary.Path(), full, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      return false;
    }
    temporary.Keep();
    return true;
  } catch (...) {
    return false;
  }
}
