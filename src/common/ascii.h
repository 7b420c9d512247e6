// ASCII helpers shared by the address rules, component destinations and the hexadecimal decoder:
// locale-free, so no locale ever changes what an address or a digit means.
#pragma once

#include <array>
#include <cstddef>

// Marks a byte that is not a hexadecimal digit in kHexDigitValues.
constexpr unsigned char kNotHexDigit = 0xFF;

constexpr std::array<unsigned char, 256> MakeHexDigitTable() {
  std::array<unsigned char, 256> table{};
  for (auto& entry : table) entry = kNotHexDigit;
  for (int digit = 0; digit < 10; ++digit) table['0' + digit] = static_cast<unsigned char>(digit);
  for (int digit = 0; digit < 6; ++digit) {
    table['a' + digit] = static_cast<unsigned char>(10 + digit);
    table['A' + digit] = static_cast<unsigned char>(10 + digit);
  }
  return table;
}

// The value of each byte as a hexadecimal digit, kNotHexDigit for any other: one lookup a digit.
inline constexpr std::array<unsigned char, 256> kHexDigitValues = MakeHexDigitTable();

// Value of one hexadecimal digit (0-9, a-f, A-F), or -1 for any other byte.
inline int HexDigitValue(char digit) {
  const unsigned char value = kHexDigitValues[static_cast<unsigned char>(digit)];
  return value == kNotHexDigit ? -1 : value;
}

// ASCII letters only, whatever the locale.
inline bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// True when `text` begins with `prefix`, ASCII letters compared without regard to case. A null
// `text` begins with nothing.
bool StartsWithNoCase(const char* text, const char* prefix);
