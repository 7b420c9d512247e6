// Where Linux per-user locks live: $XDG_RUNTIME_DIR, or /tmp when it is unset or empty.
#pragma once

#include <string>

// `fileName` inside the runtime directory.
std::string RuntimeFilePath(const char* fileName);
