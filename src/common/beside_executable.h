// Files the running program keeps beside its own executable (its release keys).
// Windows: beside_executable_win32.cpp (GetModuleFileNameW); POSIX: beside_executable_posix.cpp
// (/proc/self/exe).
#pragma once

#include <cstddef>
#include <string>

enum class BesideExecutable {
  kRead,        // the whole file is in the text
  kAbsent,      // no such file
  kUnreadable,  // there, but it could not be read whole, or it is larger than allowed
};

// Reads the file `name` in the directory of the running executable into `text`, when it holds at
// most `maxBytes` bytes. `text` is emptied unless the result is kRead.
BesideExecutable ReadFileBesideExecutable(const char* name, std::size_t maxBytes,
                                          std::string& text);
