// The 8-bit encodings of glibc's iconv (POSIX).
#include <iconv.h>

#include <cstddef>
#include <cstdint>

#include "common/posix_handles.h"
#include "xml/text_encoding.h"

namespace {

constexpr int kUnmappedByte = -1;
constexpr std::size_t kUtf32Bytes = 4;
constexpr char kCodePointEncoding[] = "UTF-32LE";

// The code point iconv gives for one byte, or kUnmappedByte.
int DecodeOneByte(iconv_t converter, unsigned char byte) {
  char in[1] = {static_cast<char>(byte)};
  unsigned char out[kUtf32Bytes] = {};
  char* inAt = in;
  char* outAt = reinterpret_cast<char*>(out);
  std::size_t inLeft = sizeof in;
  std::size_t outLeft = sizeof out;
  iconv(converter, nullptr, nullptr, nullptr, nullptr);
  if (iconv(converter, &inAt, &inLeft, &outAt, &outLeft) == static_cast<std::size_t>(-1) ||
      inLeft != 0 || outLeft != 0) {
    return kUnmappedByte;
  }
  const std::uint32_t codePoint =
      static_cast<std::uint32_t>(out[0]) | static_cast<std::uint32_t>(out[1]) << 8 |
      static_cast<std::uint32_t>(out[2]) << 16 | static_cast<std::uint32_t>(out[3]) << 24;
  return static_cast<int>(codePoint);
}

}  // namespace

bool EightBitCodePoints(const char* name, int (&codePoints)[kBytesInEightBitEncoding]) {
  const UniqueIconv converter(iconv_open(kCodePointEncoding, name));
  if (converter.Get() == IconvTraits::Invalid()) return false;
  for (int byte = 0; byte < kBytesInEightBitEncoding; ++byte) {
    codePoints[byte] = DecodeOneByte(converter.Get(), static_cast<unsigned char>(byte));
  }
  return true;
}
