// Turns a file document's hexadecimal text into the file's bytes.
#pragma once

#include <cstddef>

class HexDecoder {
 public:
  virtual ~HexDecoder() = default;

  // Decodes the first `length` characters of `text`, two hexadecimal digits (either case, high
  // digit first) per byte, into `output` (`length` / 2 bytes). Returns 0 when decoded, 1 when
  // refused: an odd length, or any character that is not a hexadecimal digit. A refused text
  // may leave `output` partly written; callers discard it.
  int Decode(unsigned char* output, const char* text, std::size_t length) const;
};

// True when every one of the `length` characters is a hexadecimal digit and `length` is even.
bool IsHexText(const char* text, std::size_t length);
