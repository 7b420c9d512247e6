// File-system services on the Win32 API: search, full-path resolution, size, and atomic replacement
// that keeps the old file's links, attributes and access control list. Windows target only.
#include "common/file_replacement.h"
#include "common/files.h"

#include <windows.h>

#include <aclapi.h>

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
  void Remove() {
    DeleteFileA(m_path.c_str());
    m_path.clear();
  }

 private:
  std::string m_path;
};

// The longest path the ANSI file functions take (without its terminator).
constexpr std::size_t kLongestAnsiPath = MAX_PATH - 1;

// Removes the temporary files a killed run left while writing `fileName` in `directory` (which
// ends with a separator).
void RemoveStaleTemporaryFiles(const std::string& directory, const char* fileName) {
  const std::size_t longestName = LongestNameInTemporaryName(directory.size(), kLongestAnsiPath);
  const std::string pattern = directory + TemporaryNamePrefix(fileName, longestName) + "*";
  WIN32_FIND_DATAA found = {};
  UniqueFindHandle search(FindFirstFileA(pattern.c_str(), &found));
  if (!search) return;
  do {
    // The search also matches short 8.3 names; only the exact long name counts.
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
        IsTemporaryNameOf(found.cFileName, fileName, longestName)) {
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
  // The ANSI file functions take paths of fewer than MAX_PATH bytes: a long destination's
  // temporary name keeps less of its name, never failing where the destination itself fits.
  const std::string prefix =
      directory +
      TemporaryNamePrefix(fileName, LongestNameInTemporaryName(directory.size(), kLongestAnsiPath));
  for (unsigned attempt = 0; attempt < kAttempts; ++attempt) {
    unsigned long long seed = GetTickCount64() ^
                              (static_cast<unsigned long long>(GetCurrentProcessId()) << 20) ^
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

// Fails the way the step hook asks, setting the last error as the call would have.
bool StepFails(ReplaceStep step) {
  const StepFault fault = CheckReplaceStep(step);
  if (fault == StepFault::kNone) return false;
  SetLastError(fault == StepFault::kAccessDenied ? ERROR_ACCESS_DENIED : ERROR_WRITE_FAULT);
  return true;
}

// The errors with which an open for writing is refused for want of a right or by another
// process, not by a fault.
bool IsRefusal(DWORD error) {
  return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION ||
         error == ERROR_LOCK_VIOLATION || error == ERROR_WRITE_PROTECT;
}

// Frees what the security functions allocate.
struct LocalMemoryTraits {
  using Handle = PSECURITY_DESCRIPTOR;
  static Handle Invalid() { return nullptr; }
  static void Close(Handle memory) { LocalFree(memory); }
};
using UniqueLocalMemory = UniqueHandle<LocalMemoryTraits>;

// The path of the file `full` leads to through symbolic links, or `full` itself when it does not
// exist. The "\\?\" form GetFinalPathNameByHandle gives is turned back into a plain path.
bool FinalPathOf(const std::string& full, std::string& target) {
  target = full;
  UniqueFileHandle file(CreateFileA(full.c_str(), FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!file) return true;
  char final[MAX_PATH] = {};
  const DWORD length = GetFinalPathNameByHandleA(file.Get(), final, sizeof final,
                                                 FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  if (length == 0 || length >= sizeof final) return true;
  const std::string resolved(final, length);
  if (resolved.compare(0, 8, "\\\\?\\UNC\\") == 0) {
    target = "\\\\" + resolved.substr(8);
  } else if (resolved.compare(0, 4, "\\\\?\\") == 0) {
    target = resolved.substr(4);
  } else {
    target = resolved;
  }
  return true;
}

// Gives the temporary file the old file's attributes and, where the process may set them, its
// owner, group and access control list. ReplaceFileW would carry them too, but when it cannot
// rename the new file into place it may already have moved the old one away; a rename over the
// destination either happens whole or not at all.
bool CarryOver(const char* temporary, const char* target, bool exists, DWORD attributes) {
  if (StepFails(ReplaceStep::kCarryOver)) return false;
  if (!exists) return true;
  constexpr DWORD kCarriedAttributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                       FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
  const DWORD carried = attributes & kCarriedAttributes;
  if (carried != 0 && !SetFileAttributesA(temporary, carried)) return false;
  PACL dacl = nullptr;
  PSID owner = nullptr;
  PSID group = nullptr;
  UniqueLocalMemory descriptor;
  const SECURITY_INFORMATION wanted =
      DACL_SECURITY_INFORMATION | OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION;
  if (GetNamedSecurityInfoA(target, SE_FILE_OBJECT, wanted, &owner, &group, &dacl, nullptr,
                            descriptor.Put()) != ERROR_SUCCESS) {
    return true;  // the process may not read them, so it could not have set them either
  }
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  GetSecurityDescriptorControl(descriptor.Get(), &control, &revision);
  const SECURITY_INFORMATION inheritance = (control & SE_DACL_PROTECTED) != 0
                                               ? PROTECTED_DACL_SECURITY_INFORMATION
                                               : UNPROTECTED_DACL_SECURITY_INFORMATION;
  char* name = const_cast<char*>(temporary);
  // Giving a file to another owner takes a privilege the updater seldom has: then the list alone.
  if (SetNamedSecurityInfoA(name, SE_FILE_OBJECT, wanted | inheritance, owner, group, dacl,
                            nullptr) != ERROR_SUCCESS) {
    SetNamedSecurityInfoA(name, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION | inheritance, nullptr,
                          nullptr, dacl, nullptr);
  }
  return true;
}

// Makes `file` hold exactly `data`: written from the start, cut to its length, flushed.
bool Overwrite(HANDLE file, const unsigned char* data, std::size_t length) {
  LARGE_INTEGER start = {};
  return SetFilePointerEx(file, start, nullptr, FILE_BEGIN) && WriteAll(file, data, length) &&
         SetEndOfFile(file) && FlushFileBuffers(file);
}

// Reads all of a file's bytes from its current position.
bool ReadAll(HANDLE file, std::string& bytes) {
  constexpr DWORD kChunk = 64 * 1024;
  std::vector<char> chunk(kChunk);
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(file, chunk.data(), kChunk, &got, nullptr)) return false;
    if (got == 0) return true;
    bytes.append(chunk.data(), got);
  }
}

// The fallback: writes into the existing file, which keeps its attributes and rights. Should the
// write fail, the old bytes are written back.
ReplaceResult WriteInPlace(const char* target, const unsigned char* data, std::size_t length) {
  UniqueFileHandle file(CreateFileA(target, GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
  std::string old;
  if (!file || !ReadAll(file.Get(), old)) return ReplaceResult::kFailed;
  if (!StepFails(ReplaceStep::kWriteInPlace) && Overwrite(file.Get(), data, length)) {
    return ReplaceResult::kWrittenInPlace;
  }
  Overwrite(file.Get(), reinterpret_cast<const unsigned char*>(old.data()), old.size());
  return ReplaceResult::kFailed;
}

// Checks that an existing destination could be opened for writing, as the old in-place write
// opened it (sharing reading and writing), without truncating it. kReplaced: go on.
ReplaceResult CheckWritable(const char* target, DWORD& attributes, bool& exists) {
  attributes = GetFileAttributesA(target);
  exists = attributes != INVALID_FILE_ATTRIBUTES;
  if (!exists) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND ? ReplaceResult::kReplaced : ReplaceResult::kFailed;
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return ReplaceResult::kFailed;
  if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) return ReplaceResult::kNotWritable;
  UniqueFileHandle probe(CreateFileA(target, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                     nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (probe) return ReplaceResult::kReplaced;
  return IsRefusal(GetLastError()) ? ReplaceResult::kNotWritable : ReplaceResult::kFailed;
}

// Writes content into a file handle; the first failure sticks.
class HandleWriter : public ContentWriter {
 public:
  explicit HandleWriter(HANDLE file) : m_file(file) {}
  bool Write(const unsigned char* data, std::size_t length) override {
    if (m_failed) return false;
    m_failed = !WriteAll(m_file, data, length);
    return !m_failed;
  }
  bool Failed() const { return m_failed; }

 private:
  HANDLE m_file;
  bool m_failed = false;
};

// Writes the temporary file's bytes as they are made and flushes them: nothing is moved into place
// before its bytes are on the disk. A failed close can mean unwritten data, so it counts as a
// failure.
bool WriteAndFlush(UniqueFileHandle& file, ContentProducer& content) {
  if (StepFails(ReplaceStep::kWrite)) return false;
  HandleWriter writer(file.Get());
  if (!content.Produce(writer) || writer.Failed()) return false;
  if (StepFails(ReplaceStep::kFlush) || !FlushFileBuffers(file.Get())) return false;
  return CloseHandle(file.Release()) != 0;
}

// The fallback with content still to be made: gathered whole first, as the old bytes may only be
// touched once the new ones are complete.
ReplaceResult ProduceInPlace(const char* target, ContentProducer& content) {
  std::string bytes;
  if (!GatherContent(content, bytes)) return ReplaceResult::kFailed;
  return WriteInPlace(target, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
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
  if (!file || GetFileType(file.Get()) != FILE_TYPE_DISK) return -1;
  LARGE_INTEGER size = {};
  if (!GetFileSizeEx(file.Get(), &size)) return -1;
  return size.QuadPart;
}

void FlushDirectoryEntries(const std::string& /*directory*/) {}

// Windows searches a directory for stale temporary files by their name's pattern, so the batch
// has nothing to save there, and MoveFileExA writes the rename through.
ReplaceResult ReplaceFileContents(const char* destination, ContentProducer& content,
                                  bool /*executable: Windows runs any file*/,
                                  ReplacementBatch* /*batch*/) {
  if (destination == nullptr || *destination == '\0') return ReplaceResult::kFailed;
  try {
    char full[MAX_PATH] = {};
    std::size_t nameOffset = 0;
    if (GetFullPath(destination, full, sizeof full, &nameOffset) == 0)
      return ReplaceResult::kFailed;
    if (full[nameOffset] == '\0') return ReplaceResult::kFailed;  // names a directory
    std::string target;
    FinalPathOf(full, target);
    // The temporary file must live on the destination's volume, or the final move would be a
    // copy that can fail half-way.
    const std::size_t separator = target.find_last_of("\\/");
    if (separator == std::string::npos) return ReplaceResult::kFailed;
    const std::string directory = target.substr(0, separator + 1);
    const std::string name = target.substr(separator + 1);

    DWORD attributes = 0;
    bool exists = false;
    const ReplaceResult writable = CheckWritable(target.c_str(), attributes, exists);
    if (writable != ReplaceResult::kReplaced) return writable;

    RemoveStaleTemporaryFiles(directory, name.c_str());
    std::string temporaryName;
    UniqueFileHandle file;
    if (!StepFails(ReplaceStep::kCreateTemporary)) {
      file = CreateTemporaryFile(directory, name.c_str(), temporaryName);
    }
    if (!file) {
      const bool refused = GetLastError() == ERROR_ACCESS_DENIED;
      return exists && refused ? ProduceInPlace(target.c_str(), content) : ReplaceResult::kFailed;
    }
    TemporaryFile temporary(temporaryName);
    if (!CarryOver(temporary.Path(), target.c_str(), exists, attributes)) {
      // What the new file cannot be given, the old one keeps when written in place.
      file.Reset();
      temporary.Remove();
      return exists ? ProduceInPlace(target.c_str(), content) : ReplaceResult::kFailed;
    }
    if (!WriteAndFlush(file, content)) {
      file.Reset();  // a file still open without sharing could not be deleted
      return ReplaceResult::kFailed;
    }
    if (StepFails(ReplaceStep::kRename) ||
        !MoveFileExA(temporary.Path(), target.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      return ReplaceResult::kFailed;
    }
    temporary.Keep();
    return ReplaceResult::kReplaced;
  } catch (...) {
    return ReplaceResult::kFailed;
  }
}
