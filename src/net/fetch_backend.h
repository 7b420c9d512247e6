// The back ends behind NetworkFetcher: private to src/net, never included from outside it.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "net/fetch.h"

// The platform's HTTP(S) client (fetch_wininet.cpp | fetch_curl.cpp), http and https only, for
// one run: connections stay open between fetches and are used again for the next document from
// the same server (libcurl: one easy handle; WinINet: one session and a connection per server).
// Every fetch applies its own limits: time-outs, size cap and redirect rules are never carried
// over from an earlier one. Not for use from two threads at once.
class HttpSession {
 public:
  virtual ~HttpSession() = default;
  // Fetches `url` into `body` (replacing its contents) under `limits`; on failure `body` is
  // emptied. Never throws.
  virtual FetchStatus Fetch(const char* url, const FetchLimits& limits,
                            std::vector<char>& body) = 0;
  // As Fetch, handing the body to `receiver` as it arrives (see Fetcher::FetchInto).
  virtual FetchStatus FetchInto(const char* url, const FetchLimits& limits,
                                ByteReceiver& receiver) = 0;
  // As Fetcher::FetchFrom: a Range request from `from.offset` with If-Range, asking for the plain
  // representation, when the offset is not 0 and a validator is known; otherwise the whole
  // document. Tells `receiver` where the body starts before its first byte.
  virtual FetchStatus FetchFrom(const char* url, const FetchLimits& limits, const ResumePoint& from,
                                ByteReceiver& receiver) = 0;
};

// Hands the whole body to `inner` after telling it that it starts at 0: the side of FetchFrom
// for fetches that take up nothing.
class WholeBodyReceiver : public ByteReceiver {
 public:
  explicit WholeBodyReceiver(ByteReceiver& inner) : m_inner(inner) {}
  bool Receive(const char* data, std::size_t length) override {
    return StartOnce() && m_inner.Receive(data, length);
  }
  // For a body that ended without a byte.
  bool StartOnce() {
    if (m_started) return true;
    m_started = true;
    return m_inner.Start(BodyStart());
  }

 private:
  ByteReceiver& m_inner;
  bool m_started = false;
};

// The one rule both clients follow for the validator an answer gives: a strong ETag, else the
// Last-Modified date; a weak ETag alone gives none (If-Range takes only strong validators).
std::string ChooseValidator(const std::string& etag, const std::string& lastModified);

// Where a 206 answer's body starts, from its "Content-Range: bytes FIRST-LAST/LENGTH"; -1 when
// the header says otherwise.
long long ContentRangeStart(const std::string& contentRange);

// Hands a whole body to `receiver` at once: the fetch's status when that fetch failed,
// kOutOfMemory when the receiver gave up. The non-streaming side of FetchInto.
FetchStatus HandOver(FetchStatus fetched, std::vector<char>& body, ByteReceiver& receiver);

// A new session, or null when memory ran out. `trustedCertificatesFile`: see NetworkFetcher.
std::unique_ptr<HttpSession> CreateHttpSession(const std::string& trustedCertificatesFile);

// Reads a local file (already converted from a file: address when it was one).
FetchStatus FetchLocalFile(const char* path, const FetchLimits& limits, std::vector<char>& body);
// As FetchLocalFile, handing the bytes to `receiver` as they are read.
FetchStatus FetchLocalFileInto(const char* path, const FetchLimits& limits, ByteReceiver& receiver);
