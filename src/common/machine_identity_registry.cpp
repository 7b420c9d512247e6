// The machine identity on Windows: the MachineGuid value the system writes at installation.
// Windows target only.
#include "common/machine_identity.h"

#include <windows.h>

#include "common/win32_handles.h"

namespace {

const char kCryptographyKey[] = "SOFTWARE\\Microsoft\\Cryptography";
const char kMachineGuidValue[] = "MachineGuid";
// A GUID in text is 36 characters; room for any longer value a system might hold.
constexpr DWORD kMachineGuidBufferBytes = 256;

}  // namespace

bool ReadMachineIdentity(std::string& identity) {
  UniqueRegKey key;
  // The 64-bit view: a 32-bit build would otherwise read the redirected key, which lacks it.
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kCryptographyKey, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY,
                    key.Put()) != ERROR_SUCCESS) {
    return false;
  }
  char buffer[kMachineGuidBufferBytes] = {};
  DWORD size = sizeof(buffer);
  if (RegGetValueA(key.Get(), nullptr, kMachineGuidValue, RRF_RT_REG_SZ, nullptr, buffer, &size) !=
          ERROR_SUCCESS ||
      buffer[0] == '\0') {
    return false;
  }
  identity = buffer;
  return true;
}
