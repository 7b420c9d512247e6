// Fetching the bytes of a document by address, with one policy for both targets:
// http and https through the platform's HTTP client (WinINet | libcurl), file: addresses and plain
// local paths (UNC paths too, on Windows) read from disk. At most 5 redirects, only to http or
// https; certificates always verified; status 400 and above fails; a size cap per fetch.
#pragma once

#include <cstddef>
#include <vector>

struct FetchLimits {
  std::size_t maxBytes = 8u * 1024u * 1024u;  // manifests; the installer passes its own cap
  long connectTimeoutSeconds = 15;
  long stallTimeoutSeconds = 30;  // a transfer that moves no byte for this long is abandoned
  int maxRedirects = 5;
};

enum class FetchStatus {
  kOk,
  kUnsupportedAddress,  // a scheme other than http, https or file
  kConnectFailed,
  kHttpError,        // status 400 and above
  kTooLarge,         // more than FetchLimits::maxBytes
  kStalled,          // connect or transfer time-out
  kRedirectRefused,  // too many redirects, or one to a scheme other than http/https
  kTransferFailed,
  kFileUnreadable,
  kOutOfMemory,
};

// Human-readable reason, for diagnostics and the release tool.
const char* DescribeFetchStatus(FetchStatus status);

// Where documents come from. The engine and XmlDocument are given one, so tests and fuzzers can
// serve documents from memory and inject faults without a socket.
class Fetcher {
 public:
  virtual ~Fetcher() = default;
  // Fetches the document at `address` into `body` (replacing its contents) under `limits`. Never
  // throws: running out of memory is reported as kOutOfMemory. On failure `body` is emptied.
  virtual FetchStatus Fetch(const char* address, const FetchLimits& limits,
                            std::vector<char>& body) = 0;
};

// The fetcher of the real programs: the address rules of net/address.h, the platform's HTTP
// client and the local file reader.
class NetworkFetcher : public Fetcher {
 public:
  FetchStatus Fetch(const char* address, const FetchLimits& limits,
                    std::vector<char>& body) override;
};

// A process-wide NetworkFetcher, for callers not given another.
Fetcher& DefaultFetcher();

// DefaultFetcher().Fetch(address, limits, body).
FetchStatus FetchAddress(const char* address, const FetchLimits& limits, std::vector<char>& body);
