// Bounded copies and formats into fixed character buffers; a text that does not fit is refused.
#include "common/fixed_buffer.h"

#include <cctype>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstring>

bool CopyText(char* buffer, std::size_t bufferSize, const char* text) {
  if (buffer == nullptr || text == nullptr || bufferSize == 0) return false;
  const std::size_t length = std::strlen(text);
  if (length >= bufferSize) return false;
  std::memmove(buffer, text, length + 1);
  return true;
}

bool AppendText(char* buffer, std::size_t bufferSize, const char* text) {
  if (buffer == nullptr || text == nullptr || bufferSize == 0) return false;
  const std::size_t used = strnlen(buffer, bufferSize);
  if (used == bufferSize) return false;  // not terminated: nothing sane to append to
  return CopyText(buffer + used, bufferSize - used, text);
}

bool FormatText(char* buffer, std::size_t bufferSize, const char* format, ...) {
  if (buffer == nullptr || format == nullptr || bufferSize == 0) return false;
  va_list arguments;
  va_start(arguments, format);
  const int needed = std::vsnprintf(buffer, bufferSize, format, arguments);
  va_end(arguments);
  if (needed < 0 || static_cast<std::size_t>(needed) >= bufferSize) {
    buffer[0] = '\0';
    return false;
  }
  return true;
}

int ReadLeadingInt(const char* text) {
  if (text == nullptr) return 0;
  const unsigned char* cursor = reinterpret_cast<const unsigned char*>(text);
  while (*cursor == ' ' || (*cursor >= '\t' && *cursor <= '\r')) ++cursor;
  bool negative = false;
  if (*cursor == '+' || *cursor == '-') {
    negative = (*cursor == '-');
    ++cursor;
  }
  long long value = 0;
  while (*cursor >= '0' && *cursor <= '9') {
    value = value * 10 + (*cursor - '0');
    if (value > static_cast<long long>(INT_MAX) + 1) value = static_cast<long long>(INT_MAX) + 1;
    ++cursor;
  }
  if (negative) value = -value;
  if (value > INT_MAX) value = INT_MAX;
  if (value < INT_MIN) value = INT_MIN;
  return static_cast<int>(value);
}
