// Writing one registry value under HKEY_CURRENT_USER. Windows target only.
#include <windows.h>

#include <cstring>

#include "common/settings_write.h"
#include "common/win32_handles.h"

bool WriteRegistryString(RegistryRoot /*root*/, const char* subkey, const char* valueName,
                         const char* text) {
  if (subkey == nullptr || valueName == nullptr || text == nullptr) return false;
  UniqueRegKey key;
  if (::RegCreateKeyExA(HKEY_CURRENT_USER, subkey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.Put(),
                        nullptr) != ERROR_SUCCESS) {
    return false;
  }
  const DWORD size = static_cast<DWORD>(std::strlen(text) + 1);
  return ::RegSetValueExA(key.Get(), valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                          size) == ERROR_SUCCESS;
}
