// Sibling programs on Windows: beside GetModuleFileNameA of the test program.
#include <windows.h>

#include "support/test_programs.h"

std::string SiblingProgramPath(const std::string& name) {
  char self[MAX_PATH] = {};
  const DWORD length = ::GetModuleFileNameA(nullptr, self, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return name + ".exe";
  std::string directory(self, length);
  return directory.substr(0, directory.find_last_of("\\/") + 1) + name + ".exe";
}

void SetTestEnvironment(const std::string& name, const std::string& value) {
  ::SetEnvironmentVariableA(name.c_str(), value.c_str());
}
