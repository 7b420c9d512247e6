// Files beside the executable on Windows: the module's own path in UTF-16, so a directory name
// outside the ANSI code page is no obstacle.
#include <windows.h>

#include <vector>

#include "common/beside_executable.h"
#include "common/win32_handles.h"

namespace {

// Long paths (\\?\ prefixed) reach 32767 characters.
constexpr DWORD kModulePathBufferSize = 32768;

std::wstring WideName(const char* name) {
  const int length = MultiByteToWideChar(CP_ACP, 0, name, -1, nullptr, 0);
  if (length <= 0) return std::wstring();
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_ACP, 0, name, -1, &wide[0], length);
  wide.resize(static_cast<std::size_t>(length) - 1);
  return wide;
}

BesideExecutable ReadWhole(HANDLE file, std::size_t maxBytes, std::string& text) {
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file, &size) || size.QuadPart < 0 ||
      static_cast<unsigned long long>(size.QuadPart) > maxBytes) {
    return BesideExecutable::kUnreadable;
  }
  std::vector<char> buffer(static_cast<std::size_t>(size.QuadPart) + 1);
  DWORD got = 0;
  if (!ReadFile(file, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr) ||
      got != static_cast<DWORD>(size.QuadPart)) {
    return BesideExecutable::kUnreadable;
  }
  text.assign(buffer.data(), got);
  return BesideExecutable::kRead;
}

}  // namespace

BesideExecutable ReadFileBesideExecutable(const char* name, std::size_t maxBytes,
                                          std::string& text) {
  text.clear();
  std::vector<wchar_t> path(kModulePathBufferSize);
  const DWORD length = GetModuleFileNameW(nullptr, path.data(), kModulePathBufferSize);
  if (length == 0 || length >= kModulePathBufferSize) return BesideExecutable::kUnreadable;
  std::wstring file(path.data(), length);
  file.erase(file.find_last_of(L"\\/") + 1);
  file += WideName(name);
  const UniqueFileHandle handle(CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!handle) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND ? BesideExecutable::kAbsent
                                         : BesideExecutable::kUnreadable;
  }
  const BesideExecutable result = ReadWhole(handle.Get(), maxBytes, text);
  if (result != BesideExecutable::kRead) text.clear();
  return result;
}
