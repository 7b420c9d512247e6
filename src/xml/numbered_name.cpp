// Numbered element names, read back.
#include "xml/numbered_name.h"

#include <climits>
#include <cstring>

int NumberAfterStem(const char* name, const char* stem) {
  const std::size_t stemLength = std::strlen(stem);
  if (std::strncmp(name, stem, stemLength) != 0) return 0;
  const char* digits = name + stemLength;
  if (*digits < '1' || *digits > '9') return 0;
  long long value = 0;
  for (; *digits != '\0'; ++digits) {
    if (*digits < '0' || *digits > '9') return 0;
    value = value * 10 + (*digits - '0');
    if (value > INT_MAX) return 0;
  }
  return static_cast<int>(value);
}
