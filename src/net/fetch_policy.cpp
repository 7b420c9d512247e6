// Which addresses are fetched how: http and https through the platform's HTTP client, file:
// addresses and plain local paths from disk. The one place the fetch policy is decided.
#include <cctype>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "common/ascii.h"
#include "net/address.h"
#include "net/fetch.h"
#include "net/fetch_backend.h"

namespace {

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
    if (raw[i] == '%' && i + 2 < raw.size() && HexDigitValue(raw[i + 1]) >= 0 &&
        HexDigitValue(raw[i + 2]) >= 0) {
      path += static_cast<char>(HexDigitValue(raw[i + 1]) * 16 + HexDigitValue(raw[i + 2]));
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
    case FetchStatus::kDeadlineExceeded:
      return "transfer took longer than allowed";
    case FetchStatus::kRedirectRefused:
      return "redirect refused";
    case FetchStatus::kLocalRefused:
      return "local files may not be named by a manifest fetched over the network";
    case FetchStatus::kNotRegularFile:
      return "not a regular file";
    case FetchStatus::kTransferFailed:
      return "transfer failed";
    case FetchStatus::kFileUnreadable:
      return "file cannot be read";
    case FetchStatus::kOutOfMemory:
      return "out of memory";
  }
  return "unknown";
}

NetworkFetcher::NetworkFetcher() = default;
NetworkFetcher::NetworkFetcher(std::string trustedCertificatesFile)
    : m_trustedCertificatesFile(std::move(trustedCertificatesFile)) {}
NetworkFetcher::~NetworkFetcher() = default;

FetchStatus HandOver(FetchStatus fetched, std::vector<char>& body, ByteReceiver& receiver) {
  if (fetched != FetchStatus::kOk) return fetched;
  const bool taken = body.empty() || receiver.Receive(body.data(), body.size());
  std::vector<char>().swap(body);
  return taken ? FetchStatus::kOk : FetchStatus::kOutOfMemory;
}

FetchStatus Fetcher::FetchInto(const char* address, const FetchLimits& limits,
                               ByteReceiver& receiver) {
  std::vector<char> body;
  const FetchStatus fetched = Fetch(address, limits, body);
  return HandOver(fetched, body, receiver);
}

FetchStatus Fetcher::FetchFrom(const char* address, const FetchLimits& limits,
                               const ResumePoint& /*from*/, ByteReceiver& receiver) {
  WholeBodyReceiver whole(receiver);
  const FetchStatus fetched = FetchInto(address, limits, whole);
  if (fetched == FetchStatus::kOk && !whole.StartOnce()) return FetchStatus::kOutOfMemory;
  return fetched;
}

std::string ChooseValidator(const std::string& etag, const std::string& lastModified) {
  const bool weak = etag.compare(0, 2, "W/") == 0;
  if (!etag.empty() && !weak) return etag;
  return lastModified;
}

long long ContentRangeStart(const std::string& contentRange) {
  constexpr char kUnit[] = "bytes ";
  constexpr long long kLargest = 0x7FFFFFFFFFFFFFFFLL;
  if (contentRange.compare(0, sizeof kUnit - 1, kUnit) != 0) return -1;
  long long first = 0;
  std::size_t digits = 0;
  for (std::size_t i = sizeof kUnit - 1;
       i < contentRange.size() && contentRange[i] >= '0' && contentRange[i] <= '9'; ++i) {
    if (first > (kLargest - 9) / 10) return -1;
    first = first * 10 + (contentRange[i] - '0');
    ++digits;
  }
  return digits > 0 ? first : -1;
}

HttpSession* NetworkFetcher::Session() {
  if (!m_session) m_session = CreateHttpSession(m_trustedCertificatesFile);
  return m_session.get();
}

namespace {

// Where an address's bytes come from under the fetch policy: an http(s) session, a local file,
// or nowhere (then `refusal` says why).
struct Route {
  AddressKind kind = AddressKind::kEmpty;
  std::string localPath;
  FetchStatus refusal = FetchStatus::kOk;
};

Route RouteOf(const char* address, const FetchLimits& limits) {
  Route route;
  route.kind = ClassifyAddress(address);
  switch (route.kind) {
    case AddressKind::kHttp:
    case AddressKind::kHttps:
      break;
    case AddressKind::kFileUrl:
      if (!limits.allowLocalFiles) {
        route.refusal = FetchStatus::kLocalRefused;
      } else if (!FileAddressToPath(address, route.localPath)) {
        route.refusal = FetchStatus::kUnsupportedAddress;
      }
      break;
    case AddressKind::kLocalPath:
      if (!limits.allowLocalFiles) route.refusal = FetchStatus::kLocalRefused;
      route.localPath = address;
      break;
    case AddressKind::kEmpty:
    case AddressKind::kOtherScheme:
      route.refusal = FetchStatus::kUnsupportedAddress;
      break;
  }
  return route;
}

}  // namespace

FetchStatus NetworkFetcher::Fetch(const char* address, const FetchLimits& limits,
                                  std::vector<char>& body) {
  body.clear();
  try {
    const Route route = RouteOf(address, limits);
    if (route.refusal != FetchStatus::kOk) return route.refusal;
    if (!IsHttpKind(route.kind)) return FetchLocalFile(route.localPath.c_str(), limits, body);
    HttpSession* session = Session();
    return session != nullptr ? session->Fetch(address, limits, body) : FetchStatus::kOutOfMemory;
  } catch (const std::bad_alloc&) {
    return FetchStatus::kOutOfMemory;
  }
}

FetchStatus NetworkFetcher::FetchInto(const char* address, const FetchLimits& limits,
                                      ByteReceiver& receiver) {
  try {
    const Route route = RouteOf(address, limits);
    if (route.refusal != FetchStatus::kOk) return route.refusal;
    if (!IsHttpKind(route.kind)) {
      return FetchLocalFileInto(route.localPath.c_str(), limits, receiver);
    }
    HttpSession* session = Session();
    return session != nullptr ? session->FetchInto(address, limits, receiver)
                              : FetchStatus::kOutOfMemory;
  } catch (const std::bad_alloc&) {
    return FetchStatus::kOutOfMemory;
  }
}

FetchStatus NetworkFetcher::FetchFrom(const char* address, const FetchLimits& limits,
                                      const ResumePoint& from, ByteReceiver& receiver) {
  try {
    const Route route = RouteOf(address, limits);
    if (route.refusal != FetchStatus::kOk) return route.refusal;
    // A local file is read again whole: it costs no line, and has no validator to check.
    if (!IsHttpKind(route.kind)) return Fetcher::FetchFrom(address, limits, from, receiver);
    HttpSession* session = Session();
    return session != nullptr ? session->FetchFrom(address, limits, from, receiver)
                              : FetchStatus::kOutOfMemory;
  } catch (const std::bad_alloc&) {
    return FetchStatus::kOutOfMemory;
  }
}

Fetcher& DefaultFetcher() {
  static NetworkFetcher fetcher;
  return fetcher;
}

FetchStatus FetchAddress(const char* address, const FetchLimits& limits, std::vector<char>& body) {
  return DefaultFetcher().Fetch(address, limits, body);
}
