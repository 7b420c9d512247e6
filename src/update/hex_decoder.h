// The hexadecimal codec of file documents: text to bytes for the updater, bytes to text for the
// release tool.
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

// Writes the `length` bytes of `data` as 2 * `length` upper-case hexadecimal digits, high digit
// first, to `output` (no terminator). The updater's decoder reads them back unchanged.
void EncodeHex(const unsigned char* data, std::size_t length, char* output);
