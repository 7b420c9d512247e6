// A real HTTP/1.1 server on 127.0.0.1 and an ephemeral port, running on its own thread for the
// life of one test. Routes are set up by the test; every response closes its connection unless
// the test turns keep-alive on.
#pragma once

#include <memory>
#include <string>

class TestHttpServer {
 public:
  TestHttpServer();   // starts listening at once
  ~TestHttpServer();  // stops and joins the thread
  TestHttpServer(const TestHttpServer&) = delete;
  TestHttpServer& operator=(const TestHttpServer&) = delete;

  int Port() const;
  // "http://127.0.0.1:<port>" + `path` (`path` starts with "/").
  std::string Url(const std::string& path) const;

  // 200 with `body`.
  void AddFile(const std::string& path, const std::string& body,
               const std::string& contentType = "text/xml");
  // 200 with `encodedBody` sent as it is, labelled with `Content-Encoding: <contentEncoding>`
  // ("gzip", "deflate"): what a server that keeps precompressed documents sends.
  void AddEncodedFile(const std::string& path, const std::string& encodedBody,
                      const std::string& contentEncoding);
  // 200 with `body`, its head carrying one more header line, `name: value` (a cookie of a
  // megabyte, say).
  void AddFileWithHeader(const std::string& path, const std::string& body, const std::string& name,
                         const std::string& value);
  // `status` (301, 302, 307 ...) with a Location header of `location` (absolute or relative).
  void AddRedirect(const std::string& path, const std::string& location, int status = 302);
  // `status` with a short body.
  void AddStatus(const std::string& path, int status);
  // Sends the headers and `prefix`, then sends nothing more for `seconds` (or until the server
  // stops) before closing: a stalled transfer.
  void AddStall(const std::string& path, const std::string& prefix, int seconds);

  // Sends the headers (announcing 1 MiB) and `prefix`, then one byte every
  // `intervalMilliseconds` for as long as the client stays: a server that drips.
  void AddDrip(const std::string& path, const std::string& prefix, int intervalMilliseconds);
  // Sends `prefix`, then bytes without end and without a length, as fast as the client reads.
  void AddEndless(const std::string& path, const std::string& prefix);

  // How a resumable document is served.
  struct Resumable {
    std::string etag = "\"v1\"";     // sent as ETag; empty: no validator at all
    bool honourRanges = true;        // false: every request gets 200 and the whole body
    std::size_t bytesPerSecond = 0;  // 0: as fast as the client reads
    std::size_t dropAfterBytes = 0;  // each answer closes after this many body bytes (0: never)
  };
  // 200 with `body` and its ETag; with `options.honourRanges`, a request "Range: bytes=N-" whose
  // If-Range (if any) is the ETag gets 206 from byte N (416 past the end), as static servers do.
  void AddResumableFile(const std::string& path, const std::string& body, const Resumable& options);
  // Body bytes sent for `path` so far, over every answer.
  std::size_t BodyBytesSent(const std::string& path) const;

  // Number of requests received for `path` so far.
  int RequestCount(const std::string& path) const;
  // The request target (path and query) of the last request for `path`; empty when there was none.
  std::string LastRequestTarget(const std::string& path) const;
  // The value of header `name` (compared without regard to case) in the last request for `path`;
  // empty when there was none.
  std::string LastRequestHeader(const std::string& path, const std::string& name) const;

  // With `keepAlive`, a connection serves one request after another for as long as the client
  // keeps it (HTTP/1.1 persistent connections), as production servers do; off by default.
  void SetKeepAlive(bool keepAlive);
  // Number of connections accepted so far.
  int ConnectionCount() const;

  struct State;

 private:
  std::shared_ptr<State> m_state;
};

// A loopback port on which nothing listens (bound, then closed), for refused connections.
int UnusedLoopbackPort();
