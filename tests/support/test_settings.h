// Test-side writes to the settings the updater only reads: the registry under Wine (the real
// HKEY_CURRENT_USER of the test's WINEPREFIX) or the POSIX store under a private
// XDG_CONFIG_HOME that the first call points this test process at.
#pragma once

#include <string>

// Sets the string value `name` of `subkey` (for example "Software\\MUBAX_Pirvel").
void SetTestSetting(const std::string& subkey, const std::string& name, const std::string& value);
// Removes the whole key `subkey` with its values (no error when absent).
void RemoveTestSettingsKey(const std::string& subkey);
// Removes both keys the updater reads ("Software\\MUBAX_Pirvel", "Software\\MubAX") and
// "LogXml.ini", so each test starts from an empty store.
void ResetTestSettings();
// Writes "LogXml.ini" (the whole file text) into the directory GetWindowsDirectoryPath names,
// creating that directory when needed.
void WriteLogConfigIni(const std::string& text);
void RemoveLogConfigIni();
