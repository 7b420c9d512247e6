// Files the running program keeps beside its own executable (its release keys).
// Windows: beside_executable_win32.cpp (GetModuleFileNameW); POSIX: beside_executable_posix.cpp
// (/proc/self/exe).
#pragma once

#include <cstddef>
#include <string>

enum class BesideExecutable {
  kRead,        // the whole file is in the text
  kAbsent,      // no entry of that name at all
  kUnreadable,  // there, but not a regular file that could be read whole within the size
                // allowed: a directory, a FIFO, a link that leads nowhere or loops, too large
};

// Reads the file `name` in the directory of the running executable into `text`, when it holds at
// most `maxBytes` bytes. `text` is emptied unless the result is kRead.
BesideExecutable ReadFileBesideExecutable(const char* name, std::size_t maxBytes,
                                          std::string& text);
