// POSIX HTTP(S) fetch with libcurl: redirects limited and kept to http/https (https only from
// https), certificates verified, a connect time-out, a stall time-out, a total deadline and a
// size cap. One easy handle per session keeps its connections for the next fetch.
#include <curl/curl.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <mutex>
#include <new>
#include <string>
#include <utility>

#include "common/unique_handle.h"
#include "net/address.h"
#include "net/collecting_receiver.h"
#include "net/fetch_backend.h"

namespace {

constexpr curl_off_t kDeadlineSlackMicroseconds = 250000;
constexpr char kUserAgent[] = "mubax-updater/1.0";
// How much larger than the cap an announced length may be before the fetch is refused unread. The
// cap counts decoded bytes, and the announced length of a compressed body counts encoded ones,
// which for data that does not compress exceed the decoded size by a few bytes in a thousand: a
// body that fits once decoded is never refused for its encoded length. The write callback stops
// at the cap whatever was announced.
constexpr std::size_t kEncodedLengthSlackDivisor = 64;
constexpr std::size_t kEncodedLengthSlackBytes = std::size_t{64} * 1024;

struct CurlTraits {
  using Handle = CURL*;
  static Handle Invalid() { return nullptr; }
  static void Close(Handle handle) { curl_easy_cleanup(handle); }
};
using UniqueCurl = UniqueHandle<CurlTraits>;

struct CurlListTraits {
  using Handle = curl_slist*;
  static Handle Invalid() { return nullptr; }
  static void Close(Handle list) { curl_slist_free_all(list); }
};
using UniqueCurlList = UniqueHandle<CurlListTraits>;

// Collects a whole body into a vector, for Fetch. Beyond what every collector does, it makes room
// for the whole cap when a body outgrows its room: address space, not memory, as Linux backs only
// the pages written. Growing by doubling would hold the old and the new copy at once, up to twice
// the cap; this copies at most once and never past the cap.
class BodyCollector : public CollectingReceiver {
 public:
  BodyCollector(std::vector<char>& body, std::size_t maxBytes)
      : CollectingReceiver(body), m_body(body), m_maxBytes(maxBytes) {}
  // An encoded body announces its encoded length, which is only a start.
  void ExpectAnnounced(std::size_t announced) { Expect(std::min(announced, m_maxBytes)); }
  bool Receive(const char* data, std::size_t length) override {
    ReserveToCap(length);
    return CollectingReceiver::Receive(data, length);
  }

 private:
  void ReserveToCap(std::size_t incoming) {
    if (m_body.size() + incoming <= m_body.capacity()) return;
    try {
      m_body.reserve(m_maxBytes);
    } catch (const std::bad_alloc&) {
      // No address space for the whole cap: grow step by step instead.
    }
  }

  std::vector<char>& m_body;
  std::size_t m_maxBytes;
};

struct Download {
  ByteReceiver* receiver;
  BodyCollector* collector;  // the receiver when it collects a whole body, else null
  std::size_t maxBytes;
  CURL* handle;
  const ResumePoint* resume = nullptr;  // FetchFrom's: the receiver is told where the body starts
  std::size_t received = 0;
  bool started = false;
  bool handOn = true;  // false for the body of an error answer, which no receiver is given
  bool tooLarge = false;
  bool outOfMemory = false;
  bool badRange = false;  // a partial answer that does not start where it was asked to
};

// The last answer's header `name`, empty when it has none.
std::string LastHeader(CURL* handle, const char* name) {
  curl_header* header = nullptr;
  if (curl_easy_header(handle, name, 0, CURLH_HEADER, -1, &header) != CURLHE_OK ||
      header == nullptr || header->value == nullptr) {
    return std::string();
  }
  return header->value;
}

// Tells a FetchFrom receiver where the body starts. False when it refused, or when the server
// answered with a range other than the one asked for.
bool TellStart(Download& download, long httpStatus) {
  BodyStart start;
  start.validator = ChooseValidator(LastHeader(download.handle, "ETag"),
                                    LastHeader(download.handle, "Last-Modified"));
  if (httpStatus == 206) {
    if (download.resume->offset == 0 ||
        ContentRangeStart(LastHeader(download.handle, "Content-Range")) !=
            static_cast<long long>(download.resume->offset)) {
      download.badRange = true;
      return false;
    }
    start.offset = download.resume->offset;
  }
  if (!download.receiver->Start(start)) {
    download.outOfMemory = true;
    return false;
  }
  return true;
}

// At a body's first bytes: whether the answer is one whose body is the document, and how long the
// server says it is.
void StartBody(Download& download) {
  download.started = true;
  long httpStatus = 0;
  curl_easy_getinfo(download.handle, CURLINFO_RESPONSE_CODE, &httpStatus);
  download.handOn = httpStatus < 300;
  if (download.handOn && download.resume != nullptr && !TellStart(download, httpStatus)) return;
  curl_off_t announced = -1;
  if (download.collector != nullptr &&
      curl_easy_getinfo(download.handle, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced) ==
          CURLE_OK &&
      announced > 0) {
    download.collector->ExpectAnnounced(static_cast<std::size_t>(announced));
  }
}

std::size_t ReceiveBytes(char* data, std::size_t size, std::size_t count, void* user) {
  Download& download = *static_cast<Download*>(user);
  const std::size_t length = size * count;
  if (length > download.maxBytes - download.received) {
    download.tooLarge = true;
    return 0;  // makes libcurl abandon the transfer
  }
  download.received += length;
  try {
    if (!download.started) StartBody(download);
  } catch (const std::bad_alloc&) {
    download.outOfMemory = true;
    return 0;
  }
  if (download.outOfMemory || download.badRange) return 0;
  if (download.handOn && !download.receiver->Receive(data, length)) {
    download.outOfMemory = true;
    return 0;
  }
  return length;
}

void InitialiseCurlOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// A time-out that came when the whole-fetch deadline was up is the deadline, not a stall.
bool DeadlineReached(CURL* handle, const FetchLimits& limits) {
  curl_off_t elapsedMicroseconds = 0;
  curl_easy_getinfo(handle, CURLINFO_TOTAL_TIME_T, &elapsedMicroseconds);
  return elapsedMicroseconds >=
         static_cast<curl_off_t>(limits.totalTimeoutSeconds) * 1000000 - kDeadlineSlackMicroseconds;
}

FetchStatus StatusFromCurl(CURLcode code, const Download& download, bool deadlineReached) {
  if (download.outOfMemory) return FetchStatus::kOutOfMemory;
  if (download.badRange) return FetchStatus::kTransferFailed;
  if (download.tooLarge) return FetchStatus::kTooLarge;
  if (code == CURLE_OPERATION_TIMEDOUT && deadlineReached) return FetchStatus::kDeadlineExceeded;
  switch (code) {
    case CURLE_OK:
      return FetchStatus::kOk;
    case CURLE_COULDNT_CONNECT:
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
    // A server the certificate checks refuse is not connected to, as WinINet reports it too.
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CONNECT_ERROR:
      return FetchStatus::kConnectFailed;
    case CURLE_OPERATION_TIMEDOUT:
      return FetchStatus::kStalled;
    case CURLE_TOO_MANY_REDIRECTS:
    case CURLE_UNSUPPORTED_PROTOCOL:
      return FetchStatus::kRedirectRefused;
    case CURLE_FILESIZE_EXCEEDED:
      return FetchStatus::kTooLarge;
    // CURLE_OUT_OF_MEMORY also stands for a response header past libcurl's own limit: a fault of
    // that one answer, not memory the run lacks, so it fails the document like any bad transfer.
    // Only our receiver's own shortage (above) is kOutOfMemory.
    default:
      return FetchStatus::kTransferFailed;
  }
}

curl_off_t AnnouncedLengthCap(std::size_t maxBytes) {
  const std::size_t slack = maxBytes / kEncodedLengthSlackDivisor + kEncodedLengthSlackBytes;
  const std::size_t cap = maxBytes > SIZE_MAX - slack ? SIZE_MAX : maxBytes + slack;
  return static_cast<curl_off_t>(
      std::min<std::size_t>(cap, static_cast<std::size_t>(std::numeric_limits<curl_off_t>::max())));
}

}  // namespace

// Hexadecimal documents shrink to a fifth or less: on a shop's slow line that is most of the time.
// libcurl decodes what it asked for and hands only decoded bytes to the write callback.
const char kAcceptedContentEncodings[] = "gzip, deflate";

namespace {

class CurlSession : public HttpSession {
 public:
  CurlSession(UniqueCurl curl, std::string trustedCertificatesFile)
      : m_curl(std::move(curl)), m_trustedCertificatesFile(std::move(trustedCertificatesFile)) {}
  FetchStatus Fetch(const char* url, const FetchLimits& limits, std::vector<char>& body) override;
  FetchStatus FetchInto(const char* url, const FetchLimits& limits,
                        ByteReceiver& receiver) override;
  FetchStatus FetchFrom(const char* url, const FetchLimits& limits, const ResumePoint& from,
                        ByteReceiver& receiver) override;

 private:
  FetchStatus Perform(const char* url, const FetchLimits& limits, Download& download);
  // For a resumed fetch: the range and its condition, and no compressed representation.
  bool AskForRange(const ResumePoint& from, UniqueCurlList& headers);

  UniqueCurl m_curl;
  std::string m_trustedCertificatesFile;
};

// Every option of a fetch, set afresh: a reset handle keeps only its connections and caches.
void SetRequestOptions(CURL* handle, const char* url, const FetchLimits& limits,
                       Download& download) {
  curl_easy_setopt(handle, CURLOPT_URL, url);
  curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https");
  // A document asked for over https is only ever received over https.
  const bool secure = ClassifyAddress(url) == AddressKind::kHttps;
  curl_easy_setopt(handle, CURLOPT_REDIR_PROTOCOLS_STR, secure ? "https" : "http,https");
  curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(handle, CURLOPT_MAXREDIRS, static_cast<long>(limits.maxRedirects));
  curl_easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(handle, CURLOPT_SSL_VERIFYHOST, 2L);
  curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, limits.connectTimeoutSeconds);
  curl_easy_setopt(handle, CURLOPT_TIMEOUT, limits.totalTimeoutSeconds);
  // Less than one byte a second for the whole stall period counts as a stalled transfer.
  curl_easy_setopt(handle, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(handle, CURLOPT_LOW_SPEED_TIME, limits.stallTimeoutSeconds);
  curl_easy_setopt(handle, CURLOPT_MAXFILESIZE_LARGE, AnnouncedLengthCap(limits.maxBytes));
  curl_easy_setopt(handle, CURLOPT_ACCEPT_ENCODING, kAcceptedContentEncodings);
  curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(handle, CURLOPT_USERAGENT, kUserAgent);
  curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, ReceiveBytes);
  curl_easy_setopt(handle, CURLOPT_WRITEDATA, &download);
}

FetchStatus CurlSession::Perform(const char* url, const FetchLimits& limits, Download& download) {
  if (url == nullptr) return FetchStatus::kUnsupportedAddress;
  CURL* handle = m_curl.Get();
  curl_easy_reset(handle);
  download.handle = handle;
  SetRequestOptions(handle, url, limits, download);
  if (!m_trustedCertificatesFile.empty()) {
    curl_easy_setopt(handle, CURLOPT_CAINFO, m_trustedCertificatesFile.c_str());
    curl_easy_setopt(handle, CURLOPT_CAPATH, nullptr);
  }

  UniqueCurlList headers;
  if (download.resume != nullptr && download.resume->offset > 0 &&
      !download.resume->validator.empty() && !AskForRange(*download.resume, headers)) {
    return FetchStatus::kOutOfMemory;
  }

  const CURLcode code = curl_easy_perform(handle);
  FetchStatus status = StatusFromCurl(code, download, DeadlineReached(handle, limits));
  if (status == FetchStatus::kOk) {
    long httpStatus = 0;
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &httpStatus);
    if (httpStatus >= 400) status = FetchStatus::kHttpError;
    // A redirect left unfollowed (no Location) is not a document.
    if (httpStatus >= 300 && httpStatus < 400) status = FetchStatus::kRedirectRefused;
    // An empty body is still a start: the receiver learns that nothing it held stays.
    if (status == FetchStatus::kOk && download.resume != nullptr && !download.started) {
      download.started = true;
      if (!TellStart(download, httpStatus)) status = StatusFromCurl(code, download, false);
    }
  }
  return status;
}

bool CurlSession::AskForRange(const ResumePoint& from, UniqueCurlList& headers) {
  CURL* handle = m_curl.Get();
  const std::string range = std::to_string(from.offset) + "-";
  const std::string condition = "If-Range: " + from.validator;
  headers.Reset(curl_slist_append(nullptr, condition.c_str()));
  if (!headers) return false;
  curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headers.Get());
  curl_easy_setopt(handle, CURLOPT_RANGE, range.c_str());  // copied by libcurl
  // The decoded bytes held are a prefix of the plain document, not of a compressed one.
  curl_easy_setopt(handle, CURLOPT_ACCEPT_ENCODING, nullptr);
  return true;
}

FetchStatus CurlSession::Fetch(const char* url, const FetchLimits& limits,
                               std::vector<char>& body) {
  body.clear();
  BodyCollector collector(body, limits.maxBytes);
  Download download{&collector, &collector, limits.maxBytes, nullptr};
  const FetchStatus status = Perform(url, limits, download);
  if (status != FetchStatus::kOk) body.clear();
  return status;
}

FetchStatus CurlSession::FetchInto(const char* url, const FetchLimits& limits,
                                   ByteReceiver& receiver) {
  Download download{&receiver, nullptr, limits.maxBytes, nullptr};
  return Perform(url, limits, download);
}

FetchStatus CurlSession::FetchFrom(const char* url, const FetchLimits& limits,
                                   const ResumePoint& from, ByteReceiver& receiver) {
  Download download{&receiver, nullptr, limits.maxBytes, nullptr};
  download.resume = &from;
  return Perform(url, limits, download);
}

}  // namespace

std::unique_ptr<HttpSession> CreateHttpSession(const std::string& trustedCertificatesFile) {
  InitialiseCurlOnce();
  UniqueCurl curl(curl_easy_init());
  if (!curl) return nullptr;
  try {
    return std::make_unique<CurlSession>(std::move(curl), trustedCertificatesFile);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
