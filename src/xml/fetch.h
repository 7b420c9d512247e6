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

// Fetches the document at `address` into `body` (replacing its contents). Never throws: running
// out of memory is reported as kOutOfMemory. On failure `body` is emptied.
FetchStatus FetchAddress(const char* address, const FetchLimits& limits, std::vector<char>& body);

// The platform's HTTP(S) client; called by FetchAddress for http and https addresses only.
FetchStatus FetchHttp(const char* url, const FetchLimits& limits, std::vector<char>& body);

// Reads a local file (already converted from a file: address when it was one).
FetchStatus FetchLocalFile(const char* path, const FetchLimits& limits, std::vector<char>& body);
