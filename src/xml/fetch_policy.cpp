// Which addresses are fetched how: http and https through the platform's HTTP client, file:
// addresses and plain local paths from disk. The one place the fetch policy is decided.
#include <cctype>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "common/unique_handle.h"
#include "xml/fetch.h"

namespace {

struct FileTraits {
  using Handle = std::FILE*;
  static Handle Invalid() { return nullptr; }
  static void Close(Handle file) { std::fclose(file); }
};
using UniqueFile = UniqueHandle<FileTraits>;

bool StartsWithNoCase(const char* text, const char* prefix) {
  for (; *prefix != '\0'; ++text, ++prefix) {
    if (std::tolower(static_cast<unsigned char>(*text)) !=
        std::tolower(static_cast<unsigned char>(*prefix))) {
      return false;
    }
  }
  return true;
}

// A scheme is two or more letters, digits, "+", "-" or "." before a colon; a single letter
// followed by a colon is a Windows drive.
bool HasScheme(const char* address) {
  std::size_t length = 0;
  if (!std::isalpha(static_cast<unsigned char>(address[0]))) return false;
  while (std::isalnum(static_cast<unsigned char>(address[length])) || address[length] == '+' ||
         address[length] == '-' || address[length] == '.') {
    ++length;
  }
  return length >= 2 && address[length] == ':';
}

int HexValue(char digit) {
  if (digit >= '0' && digit <= '9') return digit - '0';
  if (digit >= 'a' && digit <= 'f') return digit - 'a' + 10;
  if (digit >= 'A' && digit <= 'F') return digit - 'A' + 10;
  return -1;
}

// file:///C:/dir/x -> C:/dir/x, file:///tmp/x -> /tmp/x, file://server/share/x -> //server/share/x,
// with %XX escapes decoded. Returns false for what is not a usable file address.
bool FileAddressToPath(const char* address, std::string& path) {
  const char* rest = address + 5;  // after "file:"
  if (std::strncmp(rest, "//", 2) != 0) return false;
  rest += 2;
  std::string raw;
  if (StartsWithNoCase(rest, "localhost/")) rest += 9;
  if (*rest == '/') {
    // An empty host: the path starts here; a drive letter loses the slash in front of it.
    if (std::isalpha(static_cast<unsigned char>(rest[1])) && (rest[2] == ':' || rest[2] == '|')) {
      ++rest;
    }
    raw = rest;
  } else {
    raw = std::string("//") + rest;  // a server name: a UNC path
  }
  path.clear();
  for (std::size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] == '%' && i + 2 < raw.size() && HexValue(raw[i + 1]) >= 0 &&
        HexValue(raw[i + 2]) >= 0) {
      path += static_cast<char>(HexValue(raw[i + 1]) * 16 + HexValue(raw[i + 2]));
      i += 2;
    } else {
      path += raw[i];
    }
  }
  if (path.size() >= 2 && path[1] == '|') path[1] = ':';
  return !path.empty() && path.find('\0') == std::string::npos;
}

}  // namespace

const char* DescribeFetchStatus(FetchStatus status) {
  switch (status) {
    case FetchStatus::kOk:
      return "fetched";
    case FetchStatus::kUnsupportedAddress:
      return "address scheme not supported";
    case FetchStatus::kConnectFailed:
      return "could not connect";
    case FetchStatus::kHttpError:
      return "server answered with an error status";
    case FetchStatus::kTooLarge:
      return "document larger than allowed";
    case FetchStatus::kStalled:
      return "transfer timed out";
    case FetchStatus::kRedirectRefused:
      return "redirect refused";
    case FetchStatus::kTransferFailed:
      return "transfer failed";
    case FetchStatus::kFileUnreadable:
      return "file cannot be read";
    case FetchStatus::kOutOfMemory:
      return "out of memory";
  }
  return "unknown";
}

FetchStatus FetchLocalFile(const char* path, const FetchLimits& limits, std::vector<char>& body) {
  body.clear();
  UniqueFile file(std::fopen(path, "rb"));
  if (!file) return FetchStatus::kFileUnreadable;
  try {
    char chunk[16384];
    for (;;) {
      const std::size_t got = std::fread(chunk, 1, sizeof(chunk), file.Get());
      if (got == 0) break;
      if (body.size() + got > limits.maxBytes) {
        body.clear();
        return FetchStatus::kTooLarge;
      }
      body.insert(body.end(), chunk, chunk + got);
    }
  } catch (const std::bad_alloc&) {
    body.clear();
    body.shrink_to_fit();
    return FetchStatus::kOutOfMemory;
  }
  if (std::ferror(file.Get())) {
    body.clear();
    return FetchStatus::kFileUnreadable;
  }
  return FetchStatus::kOk;
}

FetchStatus FetchAddress(const char* address, const FetchLimits& limits, std::vector<char>& body) {
  body.clear();
  if (address == nullptr || address[0] == '\0') return FetchStatus::kUnsupportedAddress;
  if (StartsWithNoCase(address, "http://") || StartsWithNoCase(address, "https://")) {
    return FetchHttp(address, limits, body);
  }
  if (StartsWithNoCase(address, "file:")) {
    std::string path;
    if (!FileAddressToPath(address, path)) return FetchStatus::kUnsupportedAddress;
    return FetchLocalFile(path.c_str(), limits, body);
  }
  if (HasScheme(address)) return FetchStatus::kUnsupportedAddress;
  return FetchLocalFile(address, limits, body);
}
