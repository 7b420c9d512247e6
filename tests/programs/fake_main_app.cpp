// Stands in for the main application in tests: records that it was started by appending one
// line to the file named by MUBAX_TEST_STARTED_FILE, then exits.
#include <cstdio>
#include <cstdlib>

int main() {
  const char* record = std::getenv("MUBAX_TEST_STARTED_FILE");
  if (record == nullptr || record[0] == '\0') return 2;
  std::FILE* file = std::fopen(record, "ab");
  if (file == nullptr) return 3;
  const bool written = std::fputs("started\n", file) >= 0;
  return (std::fclose(file) == 0 && written) ? 0 : 4;
}
