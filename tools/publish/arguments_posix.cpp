// POSIX: arguments arrive as the bytes the shell passed, which on a UTF-8 system are UTF-8.
#include "publish/arguments.h"

std::vector<std::string> GetUtf8Arguments(int argc, char** argv) {
  return std::vector<std::string>(argv, argv + argc);
}
