// Table-driven hexadecimal decoding and encoding: one lookup per digit, no per-pair parsing or
// formatting.
#include "update/hex_decoder.h"

#include <array>

#include "common/ascii.h"

namespace {

constexpr char kDigitText[] = "0123456789ABCDEF";

}  // namespace

bool IsHexText(const char* text, std::size_t length) {
  if (length % 2 != 0) return false;
  for (std::size_t i = 0; i < length; ++i) {
    if (kHexDigitValues[static_cast<unsigned char>(text[i])] == kNotHexDigit) return false;
  }
  return true;
}

int HexDecoder::Decode(unsigned char* output, const char* text, std::size_t length) const {
  if (length % 2 != 0) return 1;
  for (std::size_t i = 0; i < length; i += 2) {
    const unsigned char high = kHexDigitValues[static_cast<unsigned char>(text[i])];
    const unsigned char low = kHexDigitValues[static_cast<unsigned char>(text[i + 1])];
    // Stray characters would otherwise become bytes of a corrupted program.
    if (high == kNotHexDigit || low == kNotHexDigit) return 1;
    output[i / 2] = static_cast<unsigned char>((high << 4) | low);
  }
  return 0;
}

void EncodeHex(const unsigned char* data, std::size_t length, char* output) {
  for (std::size_t i = 0; i < length; ++i) {
    output[2 * i] = kDigitText[data[i] >> 4];
    output[2 * i + 1] = kDigitText[data[i] & 0x0F];
  }
}
