// Manifest texts as the updater reads them: Windows-1252 on Windows, UTF-8 on Linux, fixed
// buffers, XML character data; and the addresses of release documents.
#include "publish/release_text.h"

#include <algorithm>
#include <cctype>
#include <cstdint>

#include "net/address.h"

namespace {

// The characters Windows-1252 puts in 0x80..0x9F; zero marks the five bytes it leaves unused.
constexpr std::uint16_t kHighControlRange[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

// Decodes one UTF-8 sequence at `text[at]`; advances `at`. Returns -1 for an invalid sequence
// (overlong forms, surrogates and values past U+10FFFF included).
long DecodeUtf8(const std::string& text, std::size_t& at) {
  const unsigned char lead = static_cast<unsigned char>(text[at++]);
  if (lead < 0x80) return lead;
  int extra = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : -1;
  if (extra < 0 || lead > 0xF4) return -1;
  long value = lead & (0x3F >> extra);
  for (int i = 0; i < extra; ++i, ++at) {
    if (at >= text.size() || (static_cast<unsigned char>(text[at]) & 0xC0) != 0x80) return -1;
    value = (value << 6) | (static_cast<unsigned char>(text[at]) & 0x3F);
  }
  static const long kSmallest[4] = {0, 0x80, 0x800, 0x10000};
  if (value < kSmallest[extra] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
    return -1;
  }
  return value;
}

// The Windows-1252 byte for `codePoint`, or -1 when it has none. C1 controls have none.
int Windows1252Byte(long codePoint) {
  if (codePoint < 0) return -1;  // not UTF-8
  if (codePoint < 0x80 || (codePoint >= 0xA0 && codePoint <= 0xFF)) {
    return static_cast<int>(codePoint);
  }
  for (int i = 0; i < 32; ++i) {
    if (kHighControlRange[i] != 0 && kHighControlRange[i] == codePoint) return 0x80 + i;
  }
  return -1;
}

bool IsControl(unsigned char byte) { return byte < 0x20 || byte == 0x7F; }

// Letters, digits and the characters a URL may carry as themselves (RFC 3986), plus "%".
bool IsUrlCharacter(unsigned char byte) {
  if (byte >= 0x80) return false;
  if (std::isalnum(byte)) return true;
  static const char kAllowed[] = "-._~:/?#[]@!$&'()*+,;=%";
  for (const char* allowed = kAllowed; *allowed != '\0'; ++allowed) {
    if (static_cast<unsigned char>(*allowed) == byte) return true;
  }
  return false;
}

bool EndsWithSeparator(const std::string& text) {
  return !text.empty() && (text.back() == '/' || text.back() == '\\');
}

}  // namespace

bool Utf8ToWindows1252(const std::string& text, std::string& out) {
  out.clear();
  for (std::size_t at = 0; at < text.size();) {
    const int byte = Windows1252Byte(DecodeUtf8(text, at));
    if (byte < 0) return false;
    out += static_cast<char>(byte);
  }
  return true;
}

std::size_t UpdaterTextLength(const std::string& text) {
  std::string narrow;
  if (!Utf8ToWindows1252(text, narrow)) return text.size();
  return std::max(text.size(), narrow.size());
}

std::string CheckManifestText(const std::string& text, std::size_t maxBytes) {
  if (text.empty()) return "is empty";
  std::string narrow;
  if (!Utf8ToWindows1252(text, narrow)) {
    return "holds a character that the updater's code page (Windows-1252) cannot hold, or is "
           "not valid UTF-8";
  }
  if (std::any_of(text.begin(), text.end(), [](char c) { return IsControl(c); })) {
    return "holds a control character";
  }
  if (text.front() == ' ' || text.back() == ' ') {
    return "starts or ends with a space, which the Windows updater drops";
  }
  const std::size_t length = UpdaterTextLength(text);
  if (length > maxBytes) {
    return "is " + std::to_string(length) + " bytes long; the updater holds at most " +
           std::to_string(maxBytes);
  }
  return std::string();
}

std::string EscapeXmlText(const std::string& text) {
  std::string escaped;
  escaped.reserve(text.size());
  for (const char c : text) {
    if (c == '&') {
      escaped += "&amp;";
    } else if (c == '<') {
      escaped += "&lt;";
    } else if (c == '>') {
      escaped += "&gt;";
    } else {
      escaped += c;
    }
  }
  return escaped;
}

std::string EncodeUrlText(const std::string& text) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string encoded;
  for (const char c : text) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (IsUrlCharacter(byte)) {
      encoded += c;
    } else {
      encoded += '%';
      encoded += kDigits[byte >> 4];
      encoded += kDigits[byte & 0x0F];
    }
  }
  return encoded;
}

std::string MakeDocumentName(const std::string& prefix, const std::string& sourceName) {
  std::string name = prefix;
  for (const char c : sourceName) {
    const unsigned char byte = static_cast<unsigned char>(c);
    // One "_" per character: the bytes after the first of a UTF-8 sequence add none.
    if (byte >= 0x80 && byte < 0xC0) continue;
    const bool kept = byte < 0x80 && (std::isalnum(byte) || c == '.' || c == '-' || c == '_');
    name += kept ? c : '_';
  }
  return name + ".xml";
}

bool JoinAddress(const std::string& baseUrl, const std::string& name, std::string& address,
                 std::string& error) {
  if (baseUrl.empty()) {
    error = "the base URL is empty";
    return false;
  }
  const AddressKind kind = ClassifyAddress(baseUrl.c_str());
  if (kind == AddressKind::kLocalPath) {
    // A local directory: the updater opens the path as it is, with no escapes decoded.
    address = WithTrailingSeparator(baseUrl) + name;
    return true;
  }
  if (kind == AddressKind::kOtherScheme) {
    error = "the updater fetches only http, https and file addresses, not " +
            baseUrl.substr(0, SchemeLength(baseUrl.c_str())) + ":";
    return false;
  }
  if (baseUrl.find_first_of("?#") != std::string::npos) {
    error = "the base URL must not hold a query or a fragment (\"?\" or \"#\")";
    return false;
  }
  address = EncodeUrlText(baseUrl);
  if (!EndsWithSeparator(address)) address += '/';
  address += EncodeUrlText(name);
  return true;
}

std::string WithTrailingSeparator(const std::string& directory) {
  if (directory.empty() || EndsWithSeparator(directory)) return directory;
  const bool backslashes =
      directory.find('\\') != std::string::npos && directory.find('/') == std::string::npos;
  return directory + (backslashes ? "\\" : "/");
}
