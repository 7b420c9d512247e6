// Address classification: the one place that decides what a scheme is.
#include "net/address.h"

#include "common/ascii.h"

namespace {

bool IsAsciiDigit(char c) { return c >= '0' && c <= '9'; }

bool IsSchemeCharacter(char c) {
  return IsAsciiLetter(c) || IsAsciiDigit(c) || c == '+' || c == '-' || c == '.';
}

}  // namespace

std::size_t SchemeLength(const char* address) {
  if (address == nullptr || !IsAsciiLetter(address[0])) return 0;
  std::size_t length = 0;
  while (IsSchemeCharacter(address[length])) ++length;
  return length >= 2 && address[length] == ':' ? length : 0;
}

AddressKind ClassifyAddress(const char* address) {
  if (address == nullptr || address[0] == '\0') return AddressKind::kEmpty;
  if (StartsWithNoCase(address, "http://")) return AddressKind::kHttp;
  if (StartsWithNoCase(address, "https://")) return AddressKind::kHttps;
  if (StartsWithNoCase(address, "file:")) return AddressKind::kFileUrl;
  return SchemeLength(address) == 0 ? AddressKind::kLocalPath : AddressKind::kOtherScheme;
}

namespace {

const char kHexDigits[] = "0123456789ABCDEF";
constexpr int kHexBase = 16;
constexpr int kFirstLetterDigit = 10;  // the value of "A"

bool IsUnreserved(unsigned char byte) {
  const char c = static_cast<char>(byte);
  return IsAsciiLetter(c) || IsAsciiDigit(c) || c == '-' || c == '.' || c == '_' || c == '~';
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + kFirstLetterDigit;
  if (c >= 'a' && c <= 'f') return c - 'a' + kFirstLetterDigit;
  return -1;
}

}  // namespace

std::string EncodeQueryValue(const std::string& text) {
  std::string encoded;
  for (const char c : text) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (IsUnreserved(byte)) {
      encoded += c;
      continue;
    }
    encoded += '%';
    encoded += kHexDigits[byte >> 4];
    encoded += kHexDigits[byte & 0x0F];
  }
  return encoded;
}

std::string DecodeQueryValue(const std::string& text) {
  std::string decoded;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '+') {
      decoded += ' ';
      continue;
    }
    const int high = text[i] == '%' && i + 2 < text.size() ? HexValue(text[i + 1]) : -1;
    const int low = high >= 0 ? HexValue(text[i + 2]) : -1;
    if (low < 0) {
      decoded += text[i];
      continue;
    }
    decoded += static_cast<char>(high * kHexBase + low);
    i += 2;
  }
  return decoded;
}
