// The runtime directory rule shared by the launcher's probe and the run lock (Linux).
#include "app/xdg_runtime.h"

#include <cstdlib>

std::string RuntimeFilePath(const char* fileName) {
  const char* runtimeDirectory = std::getenv("XDG_RUNTIME_DIR");
  const std::string directory =
      runtimeDirectory != nullptr && runtimeDirectory[0] != '\0' ? runtimeDirectory : "/tmp";
  return directory + "/" + fileName;
}
