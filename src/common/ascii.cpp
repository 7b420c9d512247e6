// ASCII helpers: a case-insensitive prefix check.
#include "common/ascii.h"

namespace {

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

bool StartsWithNoCase(const char* text, const char* prefix) {
  if (text == nullptr) return false;
  for (; *prefix != '\0'; ++text, ++prefix) {
    if (*text == '\0' || LowerAscii(*text) != LowerAscii(*prefix)) return false;
  }
  return true;
}
