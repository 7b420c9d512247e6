// Test-side writes to the settings the updater reads on Windows: HKEY_CURRENT_USER of the test's
// (Wine) prefix and "LogXml.ini" in the Windows directory (Windows).
#include "support/test_settings.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "common/win32_handles.h"
#include "support/temp_dir.h"

namespace {

std::string LogConfigIniPath() {
  char directory[MAX_PATH + 1] = {};
  UINT length = GetWindowsDirectoryA(directory, sizeof directory);
  EXPECT_TRUE(length > 0 && length < sizeof directory) << "GetWindowsDirectoryA failed";
  return std::string(directory) + "\\LogXml.ini";
}

}  // namespace

void SetTestSetting(const std::string& subkey, const std::string& name, const std::string& value) {
  UniqueRegKey key;
  LONG result =
      RegCreateKeyExA(HKEY_CURRENT_USER, subkey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                      KEY_SET_VALUE, nullptr, key.Put(), nullptr);
  ASSERT_EQ(result, ERROR_SUCCESS) << "RegCreateKeyExA " << subkey;
  result = RegSetValueExA(key.Get(), name.c_str(), 0, REG_SZ,
                          reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>(value.size() + 1));
  ASSERT_EQ(result, ERROR_SUCCESS) << "RegSetValueExA " << subkey << " " << name;
}

void RemoveTestSettingsKey(const std::string& subkey) {
  LONG result = RegDeleteTreeA(HKEY_CURRENT_USER, subkey.c_str());
  EXPECT_TRUE(result == ERROR_SUCCESS || result == ERROR_FILE_NOT_FOUND)
      << "RegDeleteTreeA " << subkey << ": " << result;
  // RegDeleteTreeA empties the key; make sure the key itself is gone too.
  result = RegDeleteKeyA(HKEY_CURRENT_USER, subkey.c_str());
  EXPECT_TRUE(result == ERROR_SUCCESS || result == ERROR_FILE_NOT_FOUND)
      << "RegDeleteKeyA " << subkey << ": " << result;
}

void ResetTestSettings() {
  RemoveTestSettingsKey("Software\\MUBAX_Pirvel");
  RemoveTestSettingsKey("Software\\MubAX");
  RemoveLogConfigIni();
}

void WriteLogConfigIni(const std::string& text) {
  std::string path = LogConfigIniPath();
  EXPECT_TRUE(WriteWholeFile(path, text)) << path;
}

void RemoveLogConfigIni() { DeleteFileA(LogConfigIniPath().c_str()); }
