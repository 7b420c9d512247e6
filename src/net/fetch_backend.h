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
  // As Fetch, handing the body to `receiver` as it arrives (see Fetcher::FetchInto). This default
  // receives the whole body first.
  virtual FetchStatus FetchInto(const char* url, const FetchLimits& limits, ByteReceiver& receiver);
};

// Hands a whole body to `receiver` at once: the fetch's status when that fetch failed,
// kOutOfMemory when the receiver gave up. The non-streaming side of FetchInto.
FetchStatus HandOver(FetchStatus fetched, std::vector<char>& body, ByteReceiver& receiver);

// A new session, or null when memory ran out. `trustedCertificatesFile`: see NetworkFetcher.
std::unique_ptr<HttpSession> CreateHttpSession(const std::string& trustedCertificatesFile);

// Reads a local file (already converted from a file: address when it was one).
FetchStatus FetchLocalFile(const char* path, const FetchLimits& limits, std::vector<char>& body);
// As FetchLocalFile, handing the bytes to `receiver` as they are read.
FetchStatus FetchLocalFileInto(const char* path, const FetchLimits& limits, ByteReceiver& receiver);
