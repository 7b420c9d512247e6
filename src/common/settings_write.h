// The one setting the updater writes itself: the version it holds back after a failed start.
// Windows: the registry under HKEY_CURRENT_USER (settings_write_registry.cpp). POSIX: the INI
// store read by settings.h, rewritten in one step (settings_write_ini.cpp).
#pragma once

#include "common/settings.h"

// Sets the string value `valueName` of `subkey`, creating the key when missing. Returns true when
// the store holds the value afterwards; on failure the store is as it was.
bool WriteRegistryString(RegistryRoot root, const char* subkey, const char* valueName,
                         const char* text);
