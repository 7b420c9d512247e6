// The machine identity on POSIX: the text of /etc/machine-id, written once by the system.
// Linux target only.
#include "common/machine_identity.h"

#include <cstdio>

#include "common/stdio_file.h"

namespace {

const char kMachineIdPath[] = "/etc/machine-id";
// The file holds 32 hexadecimal digits and a newline; anything much longer is not one.
constexpr std::size_t kMachineIdBufferBytes = 256;

bool IsEdgeSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

}  // namespace

bool ReadMachineIdentity(std::string& identity) {
  UniqueStdioFile file(std::fopen(kMachineIdPath, "rb"));
  if (file.Get() == nullptr) return false;
  char buffer[kMachineIdBufferBytes] = {};
  const std::size_t length = std::fread(buffer, 1, sizeof(buffer) - 1, file.Get());
  std::string text(buffer, length);
  while (!text.empty() && IsEdgeSpace(text.back())) text.pop_back();
  std::size_t start = 0;
  while (start < text.size() && IsEdgeSpace(text[start])) ++start;
  if (start == text.size()) return false;
  identity = text.substr(start);
  return true;
}
