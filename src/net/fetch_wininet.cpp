// HTTP and HTTPS fetches through WinINet, under the shared fetch policy (time-outs, size cap,
// redirects followed here, certificates always verified); one session per run, with a
// connection handle per server kept for the next fetch. Windows target only.
#include "net/fetch_backend.h"

#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <map>
#include <memory>
#include <cstring>
#include <new>
#include <string>
#include <utility>

#include "common/unique_handle.h"
#include "net/address.h"
#include "net/collecting_receiver.h"

namespace {

struct InternetHandleTraits {
  using Handle = HINTERNET;
  static Handle Invalid() { return nullptr; }
  static void Close(Handle handle) { InternetCloseHandle(handle); }
};
using UniqueInternetHandle = UniqueHandle<InternetHandleTraits>;

constexpr char kUserAgent[] = "MUB-AX updater";

// Hexadecimal documents shrink to a fifth or less when compressed. WinINet decodes the body itself
// once HTTP decoding is on, so InternetReadFile hands out decoded bytes, which the cap counts.
// Windows decodes deflate too, but Wine 8 inflates it as a raw stream and fails on the zlib-wrapped
// form the HTTP standard names: only gzip is asked for, which is also what static servers keep
// precompressed.
constexpr char kAcceptEncodingHeader[] = "Accept-Encoding: gzip\r\n";

// First guess at a header's length; a longer one is asked for again at its own length.
constexpr std::size_t kHeaderTextBytes = 256;

// How far past the fetch's deadline a read may wait, so that the receive time-out need not be
// set again before every read of a body.
constexpr DWORD kReceiveTimeoutSlackMs = 250;

// What WinINet (Wine's, at least) holds of a body at most between reads: as much available means
// the body is flowing faster than it is read.
constexpr DWORD kFlowingBytes = 8 * 1024;

// Bytes asked of InternetReadFile at a time.
constexpr DWORD kReadChunkBytes = 64 * 1024;

// Never a cached copy, never a cache entry, never a dialog; redirects are followed by hand so
// that each hop can be checked against the policy.
constexpr DWORD kRequestFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                                INTERNET_FLAG_PRAGMA_NOCACHE | INTERNET_FLAG_NO_AUTO_REDIRECT |
                                INTERNET_FLAG_NO_UI | INTERNET_FLAG_NO_COOKIES;

bool IsHttpAddress(const std::string& url) { return IsHttpKind(ClassifyAddress(url.c_str())); }

FetchStatus StatusFromError(DWORD error) {
  switch (error) {
    case ERROR_INTERNET_TIMEOUT:
      return FetchStatus::kStalled;
    case ERROR_INTERNET_INVALID_URL:
    case ERROR_INTERNET_UNRECOGNIZED_SCHEME:
      return FetchStatus::kUnsupportedAddress;
    case ERROR_INTERNET_CANNOT_CONNECT:
    case ERROR_INTERNET_NAME_NOT_RESOLVED:
    case ERROR_INTERNET_SEC_CERT_DATE_INVALID:
    case ERROR_INTERNET_SEC_CERT_CN_INVALID:
    case ERROR_INTERNET_INVALID_CA:
    case ERROR_INTERNET_SEC_CERT_REV_FAILED:
    case ERROR_INTERNET_SEC_CERT_ERRORS:
    case ERROR_INTERNET_SEC_INVALID_CERT:
    case ERROR_INTERNET_SECURITY_CHANNEL_ERROR:
    case ERROR_INTERNET_CLIENT_AUTH_CERT_NEEDED:
      return FetchStatus::kConnectFailed;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return FetchStatus::kOutOfMemory;
    default:
      return FetchStatus::kTransferFailed;
  }
}

// A failed wait on the server. Windows reports a receive time-out as ERROR_INTERNET_TIMEOUT;
// Wine passes on the socket's WSAETIMEDOUT, or reports the connection as aborted. A failure that
// came only after the whole stall period is taken for the time-out it is.
FetchStatus StatusFromWait(DWORD error, ULONGLONG waitedMs, DWORD stallMs) {
  if (error == WSAETIMEDOUT) return FetchStatus::kStalled;
  if ((error == ERROR_INTERNET_CONNECTION_ABORTED || error == ERROR_INTERNET_CONNECTION_RESET) &&
      waitedMs + 250 >= stallMs) {
    return FetchStatus::kStalled;
  }
  return StatusFromError(error);
}

DWORD ToMilliseconds(long seconds) {
  if (seconds <= 0) return 1000;
  const long maxSeconds = static_cast<long>(MAXDWORD / 1000u) - 1;
  return static_cast<DWORD>(std::min(seconds, maxSeconds)) * 1000u;
}

bool SetTimeout(HINTERNET handle, DWORD option, DWORD milliseconds) {
  return InternetSetOptionA(handle, option, &milliseconds, sizeof milliseconds) != FALSE;
}

bool QueryNumber(HINTERNET request, DWORD query, DWORD& value) {
  DWORD size = sizeof value;
  DWORD index = 0;
  return HttpQueryInfoA(request, query | HTTP_QUERY_FLAG_NUMBER, &value, &size, &index) != FALSE;
}

bool QueryText(HINTERNET request, DWORD query, std::string& text) {
  std::string buffer(kHeaderTextBytes, '\0');
  for (int attempt = 0; attempt < 3; ++attempt) {
    DWORD length = static_cast<DWORD>(buffer.size());
    DWORD index = 0;
    if (HttpQueryInfoA(request, query, &buffer[0], &length, &index)) {
      text.assign(buffer.data(), std::min<std::size_t>(length, buffer.size()));
      return true;
    }
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return false;
    buffer.assign(static_cast<std::size_t>(length) + 1, '\0');
  }
  return false;
}

// Resolves a Location header against the address that answered with it.
bool CombineUrl(const std::string& base, const std::string& relative, std::string& combined) {
  std::string buffer(INTERNET_MAX_URL_LENGTH + 1, '\0');
  for (int attempt = 0; attempt < 3; ++attempt) {
    DWORD length = static_cast<DWORD>(buffer.size());
    // ICU_NO_ENCODE: the server's Location is already escaped; escaping again would change it.
    if (InternetCombineUrlA(base.c_str(), relative.c_str(), &buffer[0], &length, ICU_NO_ENCODE)) {
      combined.assign(buffer.data(), std::min<std::size_t>(length, buffer.size()));
      return true;
    }
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return false;
    buffer.assign(static_cast<std::size_t>(length) + 1, '\0');
  }
  return false;
}

// Milliseconds left before `deadline` (0 when it has passed).
DWORD RemainingMs(ULONGLONG deadline) {
  const ULONGLONG now = GetTickCount64();
  return now >= deadline ? 0 : static_cast<DWORD>(std::min<ULONGLONG>(deadline - now, MAXDWORD));
}

// Whether the answer's body comes encoded (compressed): its Content-Length then counts the encoded
// bytes, not the decoded ones InternetReadFile hands out.
bool HasContentEncoding(HINTERNET request) {
  std::string encoding;
  return QueryText(request, HTTP_QUERY_CONTENT_ENCODING, encoding) && !encoding.empty() &&
         encoding != "identity";
}

// Tells a FetchFrom receiver where the body of a successful answer starts.
FetchStatus TellStart(HINTERNET request, DWORD status, const ResumePoint& from,
                      ByteReceiver& receiver) {
  BodyStart start;
  std::string etag;
  std::string lastModified;
  QueryText(request, HTTP_QUERY_ETAG, etag);
  QueryText(request, HTTP_QUERY_LAST_MODIFIED, lastModified);
  start.validator = ChooseValidator(etag, lastModified);
  if (status == 206) {
    // Only the range asked for can be spliced onto what is held.
    std::string range;
    QueryText(request, HTTP_QUERY_CONTENT_RANGE, range);
    if (from.offset == 0 || ContentRangeStart(range) != static_cast<long long>(from.offset)) {
      return FetchStatus::kTransferFailed;
    }
    start.offset = from.offset;
  }
  return receiver.Start(start) ? FetchStatus::kOk : FetchStatus::kOutOfMemory;
}

// Reads what has arrived, up to `size` bytes. A read waits until its whole buffer is full, which
// a dripping server never lets happen: so it waits (within the receive time-out) only until
// something is there, and takes what is. But when the client's own buffer is full the body is
// flowing, and one read of a whole chunk then costs what a read of the client's piece does, a
// round trip to Wine's server each: the chunk is asked for. False with the error.
bool ReadArrived(HINTERNET request, char* chunk, DWORD size, DWORD& received) {
  DWORD available = 0;
  if (!InternetQueryDataAvailable(request, &available, 0, 0)) return false;
  const DWORD ask = available >= kFlowingBytes ? size : std::max<DWORD>(available, 1);
  return InternetReadFile(request, chunk, std::min(ask, size), &received) != FALSE;
}

// Hands the body to `receiver` as it arrives; `collector`, when the receiver keeps the whole body,
// is told the declared length first.
FetchStatus ReadBody(HINTERNET request, const FetchLimits& limits, DWORD stallMs,
                     ULONGLONG deadline, ByteReceiver& receiver, CollectingReceiver* collector) {
  DWORD declared = 0;
  const bool hasLength =
      !HasContentEncoding(request) && QueryNumber(request, HTTP_QUERY_CONTENT_LENGTH, declared);
  if (hasLength && declared > limits.maxBytes) return FetchStatus::kTooLarge;
  if (hasLength && collector != nullptr) collector->Expect(declared);

  char chunk[kReadChunkBytes];
  std::size_t total = 0;
  // A body whose announced length has arrived is whole: waiting on for the server to close would
  // let a deadline falling just then turn a complete document into a cut one.
  DWORD timeoutSet = 0;  // the request's receive time-out, once this loop has set one
  while (!hasLength || total < declared) {
    // No read may wait past the whole fetch's deadline: a server that drips ends in time too.
    const DWORD remainingMs = RemainingMs(deadline);
    if (remainingMs == 0) return FetchStatus::kDeadlineExceeded;
    const DWORD waitMs = std::min(stallMs, remainingMs);
    // Each option set is a round trip to Wine's server: only when the wait has shrunk by more
    // than the slack (near the deadline), not before every read of a fast body.
    if (timeoutSet == 0 || waitMs > timeoutSet || timeoutSet - waitMs > kReceiveTimeoutSlackMs) {
      SetTimeout(request, INTERNET_OPTION_RECEIVE_TIMEOUT, waitMs);
      timeoutSet = waitMs;
    }
    DWORD received = 0;
    const ULONGLONG started = GetTickCount64();
    const DWORD wanted =
        hasLength ? static_cast<DWORD>(std::min<std::size_t>(sizeof chunk, declared - total))
                  : static_cast<DWORD>(sizeof chunk);
    if (!ReadArrived(request, chunk, wanted, received)) {
      const DWORD error = GetLastError();
      if (RemainingMs(deadline) == 0) return FetchStatus::kDeadlineExceeded;
      return StatusFromWait(error, GetTickCount64() - started, waitMs);
    }
    if (received == 0) break;
    if (received > limits.maxBytes - std::min(total, limits.maxBytes)) {
      return FetchStatus::kTooLarge;
    }
    total += received;
    if (!receiver.Receive(chunk, received)) return FetchStatus::kOutOfMemory;
  }
  // A connection closed early ends the read like a complete body does.
  if (hasLength && total != declared) return FetchStatus::kTransferFailed;
  return FetchStatus::kOk;
}

struct Timeouts {
  DWORD connectMs;
  DWORD stallMs;
};

// Sets the time-outs on one handle. Windows hands options of the session down to the handles
// opened from it, but Wine keeps the send and receive time-outs per request, so they are set on
// every handle; only the request's answer counts.
bool ApplyTimeouts(HINTERNET handle, const Timeouts& timeouts) {
  // One connect attempt, so the connect time-out bounds the whole connect.
  DWORD retries = 1;
  InternetSetOptionA(handle, INTERNET_OPTION_CONNECT_RETRIES, &retries, sizeof retries);
  const bool applied = SetTimeout(handle, INTERNET_OPTION_CONNECT_TIMEOUT, timeouts.connectMs) &&
                       SetTimeout(handle, INTERNET_OPTION_RECEIVE_TIMEOUT, timeouts.stallMs) &&
                       SetTimeout(handle, INTERNET_OPTION_SEND_TIMEOUT, timeouts.stallMs);
  // Older WinINet versions keep separate data time-outs; newer ones ignore these.
  SetTimeout(handle, INTERNET_OPTION_DATA_RECEIVE_TIMEOUT, timeouts.stallMs);
  SetTimeout(handle, INTERNET_OPTION_DATA_SEND_TIMEOUT, timeouts.stallMs);
  return applied;
}

struct UrlParts {
  bool secure = false;
  std::string host;
  INTERNET_PORT port = 0;
  std::string userName;
  std::string password;
  std::string object;  // path and query, as sent in the request line
};

bool CrackUrl(const std::string& url, UrlParts& parts) {
  URL_COMPONENTSA components = {};
  components.dwStructSize = sizeof components;
  // Non-zero lengths with null pointers: the parts are pointed at inside `url`.
  components.dwSchemeLength = 1;
  components.dwHostNameLength = 1;
  components.dwUserNameLength = 1;
  components.dwPasswordLength = 1;
  components.dwUrlPathLength = 1;
  components.dwExtraInfoLength = 1;
  if (!InternetCrackUrlA(url.c_str(), 0, 0, &components)) return false;
  if (components.nScheme != INTERNET_SCHEME_HTTP && components.nScheme != INTERNET_SCHEME_HTTPS) {
    return false;
  }
  if (components.lpszHostName == nullptr || components.dwHostNameLength == 0) return false;
  parts.secure = components.nScheme == INTERNET_SCHEME_HTTPS;
  parts.host.assign(components.lpszHostName, components.dwHostNameLength);
  parts.port = components.nPort;
  if (components.lpszUserName != nullptr) {
    parts.userName.assign(components.lpszUserName, components.dwUserNameLength);
  }
  if (components.lpszPassword != nullptr) {
    parts.password.assign(components.lpszPassword, components.dwPasswordLength);
  }
  if (components.lpszUrlPath != nullptr) {
    parts.object.assign(components.lpszUrlPath, components.dwUrlPathLength);
  }
  if (parts.object.empty()) parts.object = "/";
  if (components.lpszExtraInfo != nullptr) {
    parts.object.append(components.lpszExtraInfo, components.dwExtraInfoLength);
  }
  // A fragment names a place inside the document; it is never sent.
  const std::size_t fragment = parts.object.find('#');
  if (fragment != std::string::npos) parts.object.resize(fragment);
  return true;
}

// Opens a connection handle to the server of `parts` (WinINet connects only when a request is
// sent, and keeps the socket for the next request to the same server).
UniqueInternetHandle OpenConnection(HINTERNET session, const UrlParts& parts) {
  return UniqueInternetHandle(InternetConnectA(
      session, parts.host.c_str(), parts.port,
      parts.userName.empty() ? nullptr : parts.userName.c_str(),
      parts.password.empty() ? nullptr : parts.password.c_str(), INTERNET_SERVICE_HTTP, 0, 0));
}

// The request headers beyond WinINet's own: compression where WinINet decodes it; for a resumed
// fetch instead the range and its condition, and the plain representation, since the decoded
// bytes held are a prefix of that one, not of a compressed one.
std::string ExtraHeaders(bool decodes, const ResumePoint* from) {
  if (from != nullptr && from->offset > 0 && !from->validator.empty()) {
    return "Range: bytes=" + std::to_string(from->offset) + "-\r\nIf-Range: " + from->validator +
           "\r\nAccept-Encoding: identity\r\n";
  }
  return decodes ? kAcceptEncodingHeader : "";
}

// One GET of `parts` on `connection`; on success `request` holds the answered request.
FetchStatus SendRequest(HINTERNET connection, const UrlParts& parts, const Timeouts& timeouts,
                        const ResumePoint* from, UniqueInternetHandle& request) {
  ApplyTimeouts(connection, timeouts);
  // No flag that relaxes certificate checks is ever set: a secure request verifies the chain
  // and the host name.
  const DWORD flags = kRequestFlags | (parts.secure ? INTERNET_FLAG_SECURE : 0);
  request.Reset(HttpOpenRequestA(connection, "GET", parts.object.c_str(), nullptr, nullptr, nullptr,
                                 flags, 0));
  if (!request) return StatusFromError(GetLastError());
  if (!ApplyTimeouts(request.Get(), timeouts)) return FetchStatus::kTransferFailed;
  // Compression is asked for only where WinINet will decode it.
  BOOL decode = TRUE;
  const bool decodes = InternetSetOptionA(request.Get(), INTERNET_OPTION_HTTP_DECODING, &decode,
                                          sizeof decode) != FALSE;
  const std::string headers = ExtraHeaders(decodes, from);
  const ULONGLONG started = GetTickCount64();
  if (!HttpSendRequestA(request.Get(), headers.empty() ? nullptr : headers.c_str(),
                        static_cast<DWORD>(headers.size()), nullptr, 0)) {
    const DWORD error = GetLastError();
    return StatusFromWait(error, GetTickCount64() - started, timeouts.stallMs);
  }
  return FetchStatus::kOk;
}

// The next address of a redirect answered by `request` for `current`, under the redirect rules.
FetchStatus NextHop(HINTERNET request, const std::string& current, std::string& next) {
  std::string location;
  if (!QueryText(request, HTTP_QUERY_LOCATION, location) || location.empty() ||
      !CombineUrl(current, location, next) || !IsHttpAddress(next)) {
    return FetchStatus::kRedirectRefused;
  }
  // A document asked for over https is only ever received over https.
  if (ClassifyAddress(current.c_str()) == AddressKind::kHttps &&
      ClassifyAddress(next.c_str()) != AddressKind::kHttps) {
    return FetchStatus::kRedirectRefused;
  }
  return FetchStatus::kOk;
}

// One WinINet session for a run, with one connection handle per server.
class WinInetSession : public HttpSession {
 public:
  explicit WinInetSession(UniqueInternetHandle session) : m_session(std::move(session)) {}
  FetchStatus Fetch(const char* url, const FetchLimits& limits, std::vector<char>& body) override;
  FetchStatus FetchInto(const char* url, const FetchLimits& limits,
                        ByteReceiver& receiver) override;
  FetchStatus FetchFrom(const char* url, const FetchLimits& limits, const ResumePoint& from,
                        ByteReceiver& receiver) override;

 private:
  // Runs one fetch, never throwing: running out of memory is kOutOfMemory. With `from` (FetchFrom)
  // the receiver is told where the body starts.
  FetchStatus Run(const char* url, const FetchLimits& limits, ByteReceiver& receiver,
                  CollectingReceiver* collector, const ResumePoint* from = nullptr);
  FetchStatus FollowAndRead(const char* url, const FetchLimits& limits, ByteReceiver& receiver,
                            CollectingReceiver* collector, const ResumePoint* from);
  // The connection handle for the server of `parts`, opened at its first use; null on failure.
  HINTERNET ConnectionFor(const UrlParts& parts);

  UniqueInternetHandle m_session;
  std::map<std::string, UniqueInternetHandle> m_connections;  // by server, port and user
};

HINTERNET WinInetSession::ConnectionFor(const UrlParts& parts) {
  const std::string key = parts.host + '\n' + std::to_string(parts.port) + '\n' + parts.userName +
                          '\n' + parts.password;
  auto found = m_connections.find(key);
  if (found != m_connections.end()) return found->second.Get();
  UniqueInternetHandle connection = OpenConnection(m_session.Get(), parts);
  if (!connection) return nullptr;
  return m_connections.emplace(key, std::move(connection)).first->second.Get();
}

FetchStatus WinInetSession::FollowAndRead(const char* url, const FetchLimits& limits,
                                          ByteReceiver& receiver, CollectingReceiver* collector,
                                          const ResumePoint* from) {
  const ULONGLONG deadline =
      GetTickCount64() + static_cast<ULONGLONG>(ToMilliseconds(limits.totalTimeoutSeconds));
  std::string current = url;
  if (!IsHttpAddress(current)) return FetchStatus::kUnsupportedAddress;
  const DWORD stallMs = ToMilliseconds(limits.stallTimeoutSeconds);
  for (int redirects = 0;; ++redirects) {
    const DWORD remainingMs = RemainingMs(deadline);
    if (remainingMs == 0) return FetchStatus::kDeadlineExceeded;
    const Timeouts timeouts = {std::min(ToMilliseconds(limits.connectTimeoutSeconds), remainingMs),
                               std::min(stallMs, remainingMs)};
    ApplyTimeouts(m_session.Get(), timeouts);
    UrlParts parts;
    if (!CrackUrl(current, parts)) return FetchStatus::kUnsupportedAddress;
    HINTERNET connection = ConnectionFor(parts);
    if (connection == nullptr) return StatusFromError(GetLastError());
    UniqueInternetHandle request;
    const FetchStatus sent = SendRequest(connection, parts, timeouts, from, request);
    if (sent != FetchStatus::kOk) {
      return RemainingMs(deadline) == 0 ? FetchStatus::kDeadlineExceeded : sent;
    }
    DWORD status = 0;
    if (!QueryNumber(request.Get(), HTTP_QUERY_STATUS_CODE, status)) {
      return FetchStatus::kTransferFailed;
    }
    // Every 3xx is a redirect or nothing usable: one without a Location is not a document.
    if (status >= 300 && status < 400) {
      if (redirects >= limits.maxRedirects) return FetchStatus::kRedirectRefused;
      std::string next;
      const FetchStatus hop = NextHop(request.Get(), current, next);
      if (hop != FetchStatus::kOk) return hop;
      current.swap(next);
      continue;
    }
    // An error answer's body is never handed on: it is not the document.
    if (status >= 400) return FetchStatus::kHttpError;
    if (from != nullptr) {
      const FetchStatus told = TellStart(request.Get(), status, *from, receiver);
      if (told != FetchStatus::kOk) return told;
    }
    return ReadBody(request.Get(), limits, timeouts.stallMs, deadline, receiver, collector);
  }
}

FetchStatus WinInetSession::Run(const char* url, const FetchLimits& limits, ByteReceiver& receiver,
                                CollectingReceiver* collector, const ResumePoint* from) {
  if (url == nullptr) return FetchStatus::kUnsupportedAddress;
  try {
    return FollowAndRead(url, limits, receiver, collector, from);
  } catch (const std::bad_alloc&) {
    return FetchStatus::kOutOfMemory;
  } catch (...) {
    return FetchStatus::kTransferFailed;
  }
}

FetchStatus WinInetSession::Fetch(const char* url, const FetchLimits& limits,
                                  std::vector<char>& body) {
  body.clear();
  CollectingReceiver collector(body);
  const FetchStatus status = Run(url, limits, collector, &collector);
  if (status != FetchStatus::kOk) {
    std::vector<char>().swap(body);
  }
  return status;
}

FetchStatus WinInetSession::FetchInto(const char* url, const FetchLimits& limits,
                                      ByteReceiver& receiver) {
  return Run(url, limits, receiver, nullptr);
}

FetchStatus WinInetSession::FetchFrom(const char* url, const FetchLimits& limits,
                                      const ResumePoint& from, ByteReceiver& receiver) {
  return Run(url, limits, receiver, nullptr, &from);
}

}  // namespace

// What kAcceptEncodingHeader asks for.
const char kAcceptedContentEncodings[] = "gzip";

std::unique_ptr<HttpSession> CreateHttpSession(const std::string& /*trustedCertificatesFile*/) {
  // PRECONFIG: the proxy the user configured for the system applies to the updater too.
  UniqueInternetHandle session(
      InternetOpenA(kUserAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  if (!session) return nullptr;
  try {
    return std::make_unique<WinInetSession>(std::move(session));
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
