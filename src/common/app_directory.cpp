// The main application's directory, from the registered executable path.
#include "common/app_directory.h"

#include <cstring>

#include "common/buffer_sizes.h"
#include "common/files.h"
#include "common/fixed_buffer.h"
#include "common/settings.h"

const char kAppSettingsKey[] = "Software\\MUBAX_Pirvel";
const char kAppPathValue[] = "path";
const char kManifestUrlValue[] = "urlact";
const char kVersionValue[] = "version";

int GetAppDirectory(char* buffer, std::size_t bufferSize) {
  char registeredPath[kFullPathBufferSize] = {};
  ReadRegistryString(RegistryRoot::CurrentUser, kAppSettingsKey, kAppPathValue, registeredPath,
                     sizeof(registeredPath));
  if (registeredPath[0] == '\0') return 1;

  // Resolve into a scratch buffer so the caller's stays as it was when the path does not fit.
  char fullPath[kFullPathBufferSize] = {};
  std::size_t fileNameOffset = 0;
  const std::size_t length =
      GetFullPath(registeredPath, fullPath, sizeof(fullPath), &fileNameOffset);
  if (length == 0) return 0;
  fullPath[fileNameOffset] = '\0';
  return CopyText(buffer, bufferSize, fullPath) ? 1 : 0;
}
