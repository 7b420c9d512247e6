// Read-only access to the per-user settings store and the INI reader.
// Windows: the registry under HKEY_CURRENT_USER and GetPrivateProfileStringA
// (settings_registry.cpp). POSIX: INI files under $XDG_CONFIG_HOME/mubax, read with SimpleIni
// (settings_ini.cpp).
#pragma once

#include <cstddef>

// The only root the system reads from; kept as a parameter so call sites read like the registry
// API.
enum class RegistryRoot { CurrentUser };

// Reads one string value of `subkey` (for example "Software\\MUBAX_Pirvel").
// - key cannot be opened: -1, `buffer` untouched;
// - `buffer` given: the number of bytes stored, terminator included, or -1 when the value is
//   missing, not a string, or does not fit `bufferSize` bytes (then `buffer` is untouched);
// - `buffer` null: the size in bytes the value needs, terminator included, or -1 when missing.
// Whatever it opened is closed on every path.
int ReadRegistryString(RegistryRoot root, const char* subkey, const char* valueName, char* buffer,
                       std::size_t bufferSize);

// The directory that holds "LogXml.ini" and the default log: the Windows directory on Windows,
// $XDG_CONFIG_HOME/mubax (default $HOME/.config/mubax) on POSIX. No trailing separator.
// Returns the length written, or 0 when it cannot be determined or does not fit.
std::size_t GetWindowsDirectoryPath(char* buffer, std::size_t bufferSize);

// Reads `key` of `section` from the INI file at `iniPath`; copies `defaultText` when the file,
// section or key is missing. Returns the length of the text stored. A text that does not fit is
// refused in favour of the default (never cut).
std::size_t ReadIniString(const char* section, const char* key, const char* defaultText,
                          char* buffer, std::size_t bufferSize, const char* iniPath);

// Where the POSIX store lives (for documentation, tests and the demo): <config dir>/registry.ini.
// On Windows it returns 0: the registry has no file.
std::size_t GetSettingsStorePath(char* buffer, std::size_t bufferSize);
