// The one way texts enter fixed character buffers: every copy and format is bounded and reports
// whether the whole text fitted. A text that does not fit is refused, never cut.
#pragma once

#include <cstddef>

// Copies `text` with its terminator into `buffer` when it fits in `bufferSize` bytes; returns true.
// Returns false and leaves `buffer` untouched when it does not fit, or when either pointer is null.
bool CopyText(char* buffer, std::size_t bufferSize, const char* text);

// Appends `text` to the NUL-terminated contents of `buffer` when the whole result fits; returns
// true. Returns false and leaves `buffer` untouched otherwise.
bool AppendText(char* buffer, std::size_t bufferSize, const char* text);

// printf-style formatting into `buffer`. Returns true when the whole text fitted. When it did not
// (or on a format error) returns false and leaves `buffer` holding the empty string, so a cut text
// can never be mistaken for a whole one.
bool FormatText(char* buffer, std::size_t bufferSize, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 3, 4)))
#endif
    ;

// Copies a fixed-size array-bound buffer: the size comes from the array type.
template <std::size_t N>
bool CopyText(char (&buffer)[N], const char* text) {
  return CopyText(buffer, N, text);
}

// Reads the leading decimal integer of `text` as atoi does (leading white space, one sign, digits);
// 0 when no digit comes first. Saturates at the 32-bit limits instead of overflowing.
int ReadLeadingInt(const char* text);
