// Address classification: the one place that decides what a scheme is.
#include "net/address.h"

#include "common/ascii.h"

namespace {

bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
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
