// Component destinations are read as both targets would: either separator, drive letters.
#include "update/component_destination.h"

#include "common/ascii.h"

namespace {

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

// Windows drops trailing dots and spaces from each name, so "..." and ".. " also climb a level.
bool ClimbsALevel(const char* segment, const char* end) {
  int dots = 0;
  for (const char* c = segment; c != end; ++c) {
    if (*c == '.') {
      ++dots;
    } else if (*c != ' ') {
      return false;
    }
  }
  return dots >= 2;
}

}  // namespace

// A leading separator is kept: joined to the directory it gives two separators in a row, which
// both targets read as one, so the file still lands inside.
bool IsContainedComponentDestination(const char* destination) {
  if (IsAsciiLetter(destination[0]) && destination[1] == ':') return false;
  const char* segment = destination;
  for (;;) {
    const char* end = segment;
    while (*end != '\0' && !IsSeparator(*end)) ++end;
    if (ClimbsALevel(segment, end)) return false;
    if (*end == '\0') return true;
    segment = end + 1;
  }
}
