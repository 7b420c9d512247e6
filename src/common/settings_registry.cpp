// Settings on Windows: string values from the registry under HKEY_CURRENT_USER, the Windows
// directory and INI files read through the profile API. Windows target only.
#include "common/settings.h"

#include <windows.h>

#include <climits>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "common/fixed_buffer.h"
#include "common/win32_handles.h"

namespace {

// Reads the whole data of a string value into `data` (resized to what the registry stored).
// The size query of the ANSI entry point may overstate the converted length, and the value may
// grow between the two calls, so the read is retried a few times on ERROR_MORE_DATA.
bool QueryStringData(HKEY key, const char* valueName, std::vector<char>& data) {
  for (int attempt = 0; attempt < 4; ++attempt) {
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExA(key, valueName, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) {
      return false;
    }
    if (type != REG_SZ && type != REG_EXPAND_SZ) return false;
    if (size == MAXDWORD) return false;
    data.resize(static_cast<std::size_t>(size) + 1);
    DWORD stored = size + 1;
    LONG result = RegQueryValueExA(key, valueName, nullptr, &type,
                                   reinterpret_cast<BYTE*>(data.data()), &stored);
    if (result == ERROR_MORE_DATA) continue;
    if (result != ERROR_SUCCESS) return false;
    if (type != REG_SZ && type != REG_EXPAND_SZ) return false;
    data.resize(stored);
    return true;
  }
  return false;
}

}  // namespace

int ReadRegistryString(RegistryRoot /*root*/, const char* subkey, const char* valueName,
                       char* buffer, std::size_t bufferSize) {
  if (subkey == nullptr) return -1;
  try {
    UniqueRegKey key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, subkey, 0, KEY_READ, key.Put()) != ERROR_SUCCESS) {
      return -1;
    }
    // Read into a private buffer: the caller's must stay untouched when the value is refused.
    std::vector<char> data;
    if (!QueryStringData(key.Get(), valueName, data)) return -1;

    // Registry strings are not guaranteed to carry their terminator; count one either way.
    const std::size_t textLength = strnlen(data.data(), data.size());
    const std::size_t needed = textLength + 1;
    if (needed > static_cast<std::size_t>(INT_MAX)) return -1;
    if (buffer == nullptr) return static_cast<int>(needed);
    if (needed > bufferSize) return -1;

    data.resize(textLength);
    data.push_back('\0');
    if (!CopyText(buffer, bufferSize, data.data())) return -1;
    return static_cast<int>(needed);
  } catch (...) {
    return -1;
  }
}

std::size_t GetWindowsDirectoryPath(char* buffer, std::size_t bufferSize) {
  char directory[MAX_PATH + 1] = {};
  const UINT length = GetWindowsDirectoryA(directory, sizeof directory);
  if (length == 0 || length >= sizeof directory) return 0;
  std::size_t used = length;
  // Only a root directory ("C:\") ends with a separator; callers append their own.
  if (used > 0 && directory[used - 1] == '\\') directory[--used] = '\0';
  if (!CopyText(buffer, bufferSize, directory)) return 0;
  return used;
}

std::size_t ReadIniString(const char* section, const char* key, const char* defaultText,
                          char* buffer, std::size_t bufferSize, const char* iniPath) {
  if (buffer == nullptr || bufferSize == 0) return 0;
  if (defaultText == nullptr) defaultText = "";
  const auto useDefault = [&]() -> std::size_t {
    if (CopyText(buffer, bufferSize, defaultText)) return std::strlen(defaultText);
    CopyText(buffer, bufferSize, "");
    return 0;
  };
  // A null section or key would make the profile API list names instead of reading a value.
  if (section == nullptr || key == nullptr || iniPath == nullptr) return useDefault();
  if (bufferSize >= MAXDWORD) return useDefault();

  // One spare byte: the API cuts silently, and a result that fills the whole private buffer is
  // exactly a value too long for the caller's.
  const DWORD privateSize = static_cast<DWORD>(bufferSize + 1);
  std::unique_ptr<char[]> text(new (std::nothrow) char[privateSize]);
  if (!text) return useDefault();
  const DWORD length =
      GetPrivateProfileStringA(section, key, defaultText, text.get(), privateSize, iniPath);
  if (length >= privateSize - 1) return useDefault();
  if (!CopyText(buffer, bufferSize, text.get())) return useDefault();
  return length;
}

std::size_t GetSettingsStorePath(char* /*buffer*/, std::size_t /*bufferSize*/) { return 0; }
