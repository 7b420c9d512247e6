// Fuzz target: the text of a file document through the hexadecimal codec. The decoder must take
// exactly the even-length hexadecimal texts, give back bytes that encode to the same digits, and
// the encoder's text must always decode to the bytes it came from.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "fuzz_check.h"
#include "update/hex_decoder.h"

namespace {

// The digits the file document format allows, spelt out apart from the decoder's table.
int DigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool IsHexByHand(const char* text, std::size_t length) {
  if (length % 2 != 0) return false;
  for (std::size_t i = 0; i < length; ++i) {
    if (DigitValue(text[i]) < 0) return false;
  }
  return true;
}

char UpperDigit(char c) { return (c >= 'a' && c <= 'f') ? static_cast<char>(c - 'a' + 'A') : c; }

// Buffers of exactly the size the codec is told, so a write or read past it is an ASan report.
std::unique_ptr<unsigned char[]> Bytes(std::size_t size) {
  return std::unique_ptr<unsigned char[]>(new unsigned char[size == 0 ? 1 : size]);
}

void CheckDecode(const char* text, std::size_t length) {
  const bool expected = IsHexByHand(text, length);
  FUZZ_CHECK(IsHexText(text, length) == expected);

  const std::size_t decodedSize = length / 2;
  auto decoded = Bytes(decodedSize);
  const HexDecoder decoder;
  const int status = decoder.Decode(decoded.get(), text, length);
  FUZZ_CHECK(status == 0 || status == 1);
  FUZZ_CHECK((status == 0) == expected);
  if (status != 0) return;

  for (std::size_t i = 0; i < decodedSize; ++i) {
    const int value = DigitValue(text[2 * i]) * 16 + DigitValue(text[2 * i + 1]);
    FUZZ_CHECK(decoded[i] == value);
  }
  // Re-encoding gives the same digits, in upper case.
  std::unique_ptr<char[]> encoded(new char[length == 0 ? 1 : length]);
  EncodeHex(decoded.get(), decodedSize, encoded.get());
  for (std::size_t i = 0; i < length; ++i) FUZZ_CHECK(encoded[i] == UpperDigit(text[i]));
}

void CheckEncode(const unsigned char* data, std::size_t size) {
  std::unique_ptr<char[]> encoded(new char[size == 0 ? 1 : 2 * size]);
  EncodeHex(data, size, encoded.get());
  for (std::size_t i = 0; i < 2 * size; ++i) {
    FUZZ_CHECK(DigitValue(encoded[i]) >= 0 && UpperDigit(encoded[i]) == encoded[i]);
  }
  FUZZ_CHECK(IsHexText(encoded.get(), 2 * size));
  auto decoded = Bytes(size);
  FUZZ_CHECK(HexDecoder().Decode(decoded.get(), encoded.get(), 2 * size) == 0);
  FUZZ_CHECK(size == 0 || std::memcmp(decoded.get(), data, size) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The input is the text exactly as the document gave it: no terminator, any byte.
  CheckDecode(reinterpret_cast<const char*>(data), size);
  CheckEncode(data, size);
  return 0;
}
