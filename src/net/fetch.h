// Fetching the bytes of a document by address, with one policy for both targets:
// http and https through the platform's HTTP client (WinINet | libcurl), file: addresses and plain
// local paths (UNC paths too, on Windows) read from disk, regular files only. At most 5
// redirects, only to http or https, never from https down to http; certificates always verified;
// status 400 and above fails; a size cap and a total deadline per fetch.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// The defaults every fetch of the programs starts from.
constexpr std::size_t kManifestMaxBytes = std::size_t{8} * 1024 * 1024;
constexpr long kConnectTimeoutSeconds = 15;
constexpr long kStallTimeoutSeconds = 30;
constexpr long kManifestTotalTimeoutSeconds = 120;
constexpr int kMaxRedirects = 5;

struct FetchLimits {
  std::size_t maxBytes = kManifestMaxBytes;  // manifests; the installer passes its own cap
  long connectTimeoutSeconds = kConnectTimeoutSeconds;
  long stallTimeoutSeconds = kStallTimeoutSeconds;  // no byte for this long: abandoned
  // The whole fetch, connect to last byte: a server that drips still ends in time.
  long totalTimeoutSeconds = kManifestTotalTimeoutSeconds;
  int maxRedirects = kMaxRedirects;
  // Whether file: addresses and local paths may be read. A manifest that came over the network
  // must not make the till read devices or reach a share of the manifest's choosing.
  bool allowLocalFiles = true;
};

enum class FetchStatus {
  kOk,
  kUnsupportedAddress,  // a scheme other than http, https or file
  kConnectFailed,
  kHttpError,         // status 400 and above
  kTooLarge,          // more than FetchLimits::maxBytes
  kStalled,           // connect or transfer time-out
  kDeadlineExceeded,  // the whole fetch took longer than FetchLimits::totalTimeoutSeconds
  kRedirectRefused,   // too many redirects, one to a scheme other than http/https, or https->http
  kLocalRefused,      // a local path or file: address where FetchLimits::allowLocalFiles is off
  kNotRegularFile,    // a local path that names a device, a pipe or a directory
  kTransferFailed,
  kFileUnreadable,
  kOutOfMemory,
};

// The content encodings the platform's HTTP client asks for, as sent in Accept-Encoding; the
// fetch hands out the decoded bytes and counts FetchLimits::maxBytes in them. libcurl: "gzip,
// deflate". WinINet: "gzip" only, as Wine 8's WinINet fails on a zlib-wrapped deflate body.
extern const char kAcceptedContentEncodings[];

// Human-readable reason, for diagnostics and the release tool.
const char* DescribeFetchStatus(FetchStatus status);

// Where a fetch takes up a document whose first bytes are already held (a staged download).
struct ResumePoint {
  std::uint64_t offset = 0;  // bytes held; 0 asks for the whole document
  // The strong ETag or Last-Modified the held bytes came with, sent as If-Range so that a
  // document changed since is sent whole instead of spliced onto bytes of the old one. Without
  // one nothing is resumed.
  std::string validator;
};

// What an answer says of its body, told before its first byte.
struct BodyStart {
  // Where the body starts in the document: the resume point's offset when the server sent the
  // range asked for (206 with that first byte), 0 when it sent the whole document.
  std::uint64_t offset = 0;
  std::string validator;  // the answer's strong ETag, else its Last-Modified; empty: none
};

// Takes a document's bytes as they arrive, so a large one never has to be held whole.
class ByteReceiver {
 public:
  virtual ~ByteReceiver() = default;
  // Before the first byte of a successful answer's body (also before an empty one ends). False
  // stops the fetch as Receive's false does. Only FetchFrom calls it.
  virtual bool Start(const BodyStart& /*start*/) { return true; }
  // The next bytes of the body, decoded when the transfer was compressed. False stops the fetch,
  // which then ends in kOutOfMemory: the one reason a receiver has to give up.
  virtual bool Receive(const char* data, std::size_t length) = 0;
};

// Where documents come from. The engine and XmlDocument are given one, so tests and fuzzers can
// serve documents from memory and inject faults without a socket.
class Fetcher {
 public:
  virtual ~Fetcher() = default;
  // Fetches the document at `address` into `body` (replacing its contents) under `limits`. Never
  // throws: running out of memory is reported as kOutOfMemory. On failure `body` is emptied.
  virtual FetchStatus Fetch(const char* address, const FetchLimits& limits,
                            std::vector<char>& body) = 0;
  // As Fetch, handing the bytes to `receiver` as they arrive; the same limits, the same statuses.
  // On failure the receiver may have been given part of the body, which it must then discard.
  // Only the bytes of a document the server answered with success are handed on. This default
  // fetches the whole body first; fetchers that can, stream.
  virtual FetchStatus FetchInto(const char* address, const FetchLimits& limits,
                                ByteReceiver& receiver);
  // As FetchInto, taking up the document at `from` where the fetcher can: asks for the bytes
  // from `from.offset` on, valid only while the document still has `from.validator`, and for the
  // plain (not compressed) representation, as a range of a compressed one says nothing of the
  // decoded bytes held. Tells the receiver first where the body starts (BodyStart::offset 0: the
  // server sent the whole document, which replaces what was held). `limits.maxBytes` counts the
  // bytes of this answer's body. This default always fetches the whole document.
  virtual FetchStatus FetchFrom(const char* address, const FetchLimits& limits,
                                const ResumePoint& from, ByteReceiver& receiver);
};

class HttpSession;

// The fetcher of the real programs: the address rules of net/address.h, the platform's HTTP
// client and the local file reader. One object serves one run: the connections it opens stay
// open for the next document from the same server, while every fetch applies its own limits.
// Not for use from two threads at once.
class NetworkFetcher : public Fetcher {
 public:
  NetworkFetcher();
  // Trusts the certificate authorities in the PEM file `trustedCertificatesFile` instead of the
  // system's: for tests with a throw-away authority; the programs never set it. Certificates are
  // verified all the same. Honoured by libcurl; WinINet always uses the system's store.
  explicit NetworkFetcher(std::string trustedCertificatesFile);
  ~NetworkFetcher() override;  // closes the connections still open
  NetworkFetcher(const NetworkFetcher&) = delete;
  NetworkFetcher& operator=(const NetworkFetcher&) = delete;

  FetchStatus Fetch(const char* address, const FetchLimits& limits,
                    std::vector<char>& body) override;
  FetchStatus FetchInto(const char* address, const FetchLimits& limits,
                        ByteReceiver& receiver) override;
  // http(s): a Range request with If-Range (see Fetcher::FetchFrom); local files: read whole.
  FetchStatus FetchFrom(const char* address, const FetchLimits& limits, const ResumePoint& from,
                        ByteReceiver& receiver) override;

 private:
  // The session for http(s) addresses, made at the first; null when memory ran out.
  HttpSession* Session();

  std::string m_trustedCertificatesFile;   // empty: the system's store
  std::unique_ptr<HttpSession> m_session;  // made at the first http(s) fetch
};

// A process-wide NetworkFetcher, for callers not given another.
Fetcher& DefaultFetcher();

// DefaultFetcher().Fetch(address, limits, body).
FetchStatus FetchAddress(const char* address, const FetchLimits& limits, std::vector<char>& body);
