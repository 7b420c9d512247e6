// The main application's directory, derived from the registered executable path.
#pragma once

#include <cstddef>

// Fills `buffer` with the directory of the registered main executable (value "path" under
// "Software\\MUBAX_Pirvel"), ending with the directory separator. When "path" is absent or empty
// the buffer is left as it was (callers pass it empty) and the result is 1. When "path" is set but
// cannot be resolved into `bufferSize` bytes, the buffer is left as it was and the result is 0, so
// callers can refuse to build paths from a directory they do not know.
int GetAppDirectory(char* buffer, std::size_t bufferSize);

// Names shared by everything that reads the main application's settings.
extern const char kAppSettingsKey[];    // "Software\\MUBAX_Pirvel"
extern const char kAppPathValue[];      // "path"
extern const char kManifestUrlValue[];  // "urlact"
extern const char kVersionValue[];      // "version"
