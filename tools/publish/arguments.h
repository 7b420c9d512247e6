// The tool's command line as UTF-8 texts, whatever code page the system hands arguments in.
// Windows: arguments_win32.cpp (the wide command line); POSIX: arguments_posix.cpp (argv as is).
#pragma once

#include <string>
#include <vector>

// The arguments, program name first, each in UTF-8 (POSIX: the bytes of `argv` unchanged).
std::vector<std::string> GetUtf8Arguments(int argc, char** argv);
