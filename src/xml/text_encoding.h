// The characters of an 8-bit encoding expat does not know, from the platform's own tables, so
// expat reads the documents the platform's DOM reads. POSIX: text_encoding_iconv.cpp; Windows:
// text_encoding_mlang.cpp. Private to src/xml.
#pragma once

constexpr int kBytesInEightBitEncoding = 256;

// Fills `codePoints` with the character each byte stands for in the encoding `name` (as a
// document declares it), -1 for a byte the encoding leaves undefined. False when the platform
// knows no 8-bit encoding of that name; `codePoints` is then unspecified.
bool EightBitCodePoints(const char* name, int (&codePoints)[kBytesInEightBitEncoding]);
