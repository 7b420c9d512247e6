// Table-driven hexadecimal decoding and encoding: one lookup per digit, no per-pair parsing or
// formatting.
#include "update/hex_decoder.h"

#include <array>

namespace {

constexpr unsigned char kNotHex = 0xFF;

constexpr std::array<unsigned char, 256> MakeDigitTable() {
  std::array<unsigned char, 256> table{};
  for (auto& entry : table) entry = kNotHex;
  for (int digit = 0; digit < 10; ++digit) table['0' + digit] = static_cast<unsigned char>(digit);
  for (int digit = 0; digit < 6; ++digit) {
    table['a' + digit] = static_cast<unsigned char>(10 + digit);
    table['A' + digit] = static_cast<unsigned char>(10 + digit);
  }
  return table;
}

constexpr std::array<unsigned char, 256> kDigitValue = MakeDigitTable();

constexpr char kDigitText[] = "0123456789ABCDEF";

}  // namespace

bool IsHexText(const char* text, std::size_t length) {
  if (length % 2 != 0) return false;
  for (std::size_t i = 0; i < length; ++i) {
    if (kDigitValue[static_cast<unsigned char>(text[i])] == kNotHex) return false;
  }
  return true;
}

int HexDecoder::Decode(unsigned char* output, const char* text, std::size_t length) const {
  if (length % 2 != 0) return 1;
  for (std::size_t i = 0; i < length; i += 2) {
    const unsigned char high = kDigitValue[static_cast<unsigned char>(text[i])];
    const unsigned char low = kDigitValue[static_cast<unsigned char>(text[i + 1])];
    // Stray characters would otherwise become bytes of a corrupted program.
    if (high == kNotHex || low == kNotHex) return 1;
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
