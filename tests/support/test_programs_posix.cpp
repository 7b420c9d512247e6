// Sibling programs on POSIX: beside /proc/self/exe.
#include <stdlib.h>
#include <unistd.h>

#include <vector>

#include "support/test_programs.h"

std::string SiblingProgramPath(const std::string& name) {
  std::vector<char> self(4096, '\0');
  const ssize_t length = ::readlink("/proc/self/exe", self.data(), self.size() - 1);
  if (length <= 0) return name;
  std::string directory(self.data(), static_cast<std::size_t>(length));
  return directory.substr(0, directory.find_last_of('/') + 1) + name;
}

void SetTestEnvironment(const std::string& name, const std::string& value) {
  ::setenv(name.c_str(), value.c_str(), 1);
}
