// The loopback HTTP/1.1 server the fetch and XML tests talk to: one accept thread, one thread per
// connection, a deliberately small request parser. Portable; sockets come from loopback_socket.h.
#include "support/http_server.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>
#include <utility>
#include <vector>

#include "support/loopback_socket.h"

namespace {

enum class RouteKind { kFile, kRedirect, kStatus, kStall, kDrip, kEndless, kResumable };

struct Route {
  RouteKind kind = RouteKind::kStatus;
  int status = 200;
  std::string body;
  std::string contentType;
  std::string location;
  std::string contentEncoding;  // sent as a Content-Encoding header when not empty
  std::string extraHeader;      // one more header line, CR LF included, when not empty
  int stallSeconds = 0;
  int dripMilliseconds = 0;
  TestHttpServer::Resumable resumable;
};

struct Request {
  std::string method;
  std::string target;
  std::vector<std::pair<std::string, std::string>> headers;
};

constexpr std::size_t kMaxRequestHeadBytes = 64 * 1024;
constexpr int kPollMilliseconds = 50;
// Stalled-response bodies announce this many bytes more than they send.
constexpr std::size_t kStallMissingBytes = 4096;
// What a dripping response announces; it never gets there.
constexpr std::size_t kDripDeclaredBytes = 1024 * 1024;
constexpr std::size_t kEndlessChunkBytes = 64 * 1024;

const char* ReasonPhrase(int status) {
  switch (status) {
    case 200:
      return "OK";
    case 301:
      return "Moved Permanently";
    case 302:
      return "Found";
    case 303:
      return "See Other";
    case 307:
      return "Temporary Redirect";
    case 308:
      return "Permanent Redirect";
    case 400:
      return "Bad Request";
    case 403:
      return "Forbidden";
    case 404:
      return "Not Found";
    case 500:
      return "Internal Server Error";
    case 503:
      return "Service Unavailable";
    default:
      return "Status";
  }
}

std::string Trim(const std::string& text) {
  std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return std::string();
  std::size_t last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

// Request line and header fields of `head` (everything before the blank line). False when the
// request line is not "METHOD SP target SP HTTP/x.y" or a header line has no colon.
bool ParseRequestHead(const std::string& head, Request& request) {
  std::size_t lineEnd = head.find("\r\n");
  std::string line = head.substr(0, lineEnd);
  std::size_t firstSpace = line.find(' ');
  std::size_t secondSpace = line.find(' ', firstSpace == std::string::npos ? 0 : firstSpace + 1);
  if (firstSpace == std::string::npos || secondSpace == std::string::npos ||
      line.compare(secondSpace + 1, 5, "HTTP/") != 0) {
    return false;
  }
  request.method = line.substr(0, firstSpace);
  request.target = line.substr(firstSpace + 1, secondSpace - firstSpace - 1);
  if (request.method.empty() || request.target.empty()) return false;
  while (lineEnd != std::string::npos) {
    std::size_t start = lineEnd + 2;
    lineEnd = head.find("\r\n", start);
    line = head.substr(start, lineEnd == std::string::npos ? std::string::npos : lineEnd - start);
    if (line.empty()) continue;
    std::size_t colon = line.find(':');
    if (colon == std::string::npos) return false;
    request.headers.emplace_back(Trim(line.substr(0, colon)), Trim(line.substr(colon + 1)));
  }
  return true;
}

std::string ResponseHead(int status, std::size_t contentLength, const std::string& contentType,
                         const std::string& location, const std::string& contentEncoding = "",
                         bool keepAlive = false, const std::string& extraHeader = "") {
  std::string head = "HTTP/1.1 " + std::to_string(status) + " " + ReasonPhrase(status) + "\r\n";
  head += extraHeader;
  head += "Content-Type: " + contentType + "\r\n";
  head += "Content-Length: " + std::to_string(contentLength) + "\r\n";
  if (!location.empty()) head += "Location: " + location + "\r\n";
  if (!contentEncoding.empty()) head += "Content-Encoding: " + contentEncoding + "\r\n";
  head += keepAlive ? "Connection: keep-alive\r\n\r\n" : "Connection: close\r\n\r\n";
  return head;
}

bool EqualNoCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

// Whether the client let the connection stay open after this request (HTTP/1.1 default).
bool ClientKeepsConnection(const Request& request) {
  for (const auto& header : request.headers) {
    if (EqualNoCase(header.first, "Connection") && EqualNoCase(header.second, "close")) {
      return false;
    }
  }
  return true;
}

}  // namespace

struct TestHttpServer::State {
  std::mutex mutex;
  std::condition_variable stopRequested;
  bool stopping = false;
  std::map<std::string, Route> routes;
  std::map<std::string, int> requestCounts;
  std::map<std::string, std::string> lastTargets;
  std::map<std::string, std::size_t> bodyBytesSent;
  std::map<std::string, std::vector<std::pair<std::string, std::string>>> lastHeaders;
  bool keepAlive = false;
  int connectionCount = 0;
  std::set<SocketHandle> openConnections;
  std::vector<std::thread> connectionThreads;
  UniqueSocket listener;
  int port = 0;
  std::thread acceptThread;

  bool IsStopping() {
    std::lock_guard<std::mutex> lock(mutex);
    return stopping;
  }
};

namespace {

using State = TestHttpServer::State;

// Reads up to the blank line that ends the request head; false when the client went away, sent
// too much, took longer than a few seconds, or the server is stopping. Any body is ignored.
bool ReadRequestHead(State& state, SocketHandle socket, std::string& head) {
  std::string received;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  char chunk[4096];
  for (;;) {
    std::size_t end = received.find("\r\n\r\n");
    if (end != std::string::npos) {
      head = received.substr(0, end + 2);
      return true;
    }
    if (received.size() > kMaxRequestHeadBytes || state.IsStopping() ||
        std::chrono::steady_clock::now() > deadline) {
      return false;
    }
    if (!WaitReadable(socket, kPollMilliseconds)) continue;
    long count = ReceiveSome(socket, chunk, sizeof chunk);
    if (count <= 0) return false;
    received.append(chunk, static_cast<std::size_t>(count));
  }
}

// After the response: half close, then wait (briefly) for the client to close, so that unread
// request bytes never turn the close into a reset that could swallow the response.
void CloseGracefully(State& state, SocketHandle socket) {
  ShutdownSending(socket);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  char chunk[1024];
  while (!state.IsStopping() && std::chrono::steady_clock::now() < deadline) {
    if (!WaitReadable(socket, kPollMilliseconds)) continue;
    if (ReceiveSome(socket, chunk, sizeof chunk) <= 0) break;
  }
}

// A body that never ends: one byte per interval (a drip, announcing a length it never reaches)
// or as fast as the client takes it (no length at all), until the client or the server stops.
void SendForever(State& state, SocketHandle socket, const Route& route) {
  const bool drip = route.kind == RouteKind::kDrip;
  std::string head = "HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\n";
  if (drip) head += "Content-Length: " + std::to_string(kDripDeclaredBytes) + "\r\n";
  head += "Connection: close\r\n\r\n" + route.body;
  if (!SendAll(socket, head.data(), head.size())) return;
  const std::string chunk(drip ? 1 : kEndlessChunkBytes, 'A');
  while (!state.IsStopping()) {
    if (!SendAll(socket, chunk.data(), chunk.size())) return;
    if (drip) {
      std::unique_lock<std::mutex> lock(state.mutex);
      state.stopRequested.wait_for(lock, std::chrono::milliseconds(route.dripMilliseconds),
                                   [&state] { return state.stopping; });
    }
  }
}

std::string HeaderOf(const Request& request, const char* name) {
  for (const auto& header : request.headers) {
    if (EqualNoCase(header.first, name)) return header.second;
  }
  return std::string();
}

// Where a ranged request asks the body to start: 0 for the whole body (no range, a range this
// server does not serve, or an If-Range that is not the current ETag).
std::size_t RequestedStart(const Request& request, const Route& route) {
  const std::string range = HeaderOf(request, "Range");
  const std::string condition = HeaderOf(request, "If-Range");
  if (!route.resumable.honourRanges || range.compare(0, 6, "bytes=") != 0 || range.back() != '-' ||
      (!condition.empty() && condition != route.resumable.etag)) {
    return 0;
  }
  return static_cast<std::size_t>(std::stoull(range.substr(6)));
}

// Sends `body` from `start` at the route's pace, closing early where the route drops.
void SendPaced(State& state, SocketHandle socket, const std::string& path, const Route& route,
               const std::string& body, std::size_t start) {
  const std::size_t rate = route.resumable.bytesPerSecond;
  const std::size_t step = rate == 0 ? body.size() : std::max<std::size_t>(rate / 10, 1);
  std::size_t sentHere = 0;
  for (std::size_t at = start; at < body.size() && !state.IsStopping();) {
    std::size_t count = std::min(step, body.size() - at);
    const std::size_t drop = route.resumable.dropAfterBytes;
    if (drop != 0) count = std::min(count, drop - sentHere);
    if (count == 0 || !SendAll(socket, body.data() + at, count)) return;
    at += count;
    sentHere += count;
    {
      std::unique_lock<std::mutex> lock(state.mutex);
      state.bodyBytesSent[path] += count;
      if (rate != 0) {
        state.stopRequested.wait_for(lock, std::chrono::milliseconds(100),
                                     [&state] { return state.stopping; });
      }
    }
  }
}

void SendResumable(State& state, SocketHandle socket, const std::string& path,
                   const Request& request, const Route& route) {
  const std::string& body = route.body;
  const std::size_t start = RequestedStart(request, route);
  std::string head;
  if (start >= body.size() && start > 0) {
    head = "HTTP/1.1 416 Range Not Satisfiable\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
    SendAll(socket, head.data(), head.size());
    return;
  }
  head = start > 0 ? "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes " +
                         std::to_string(start) + "-" + std::to_string(body.size() - 1) + "/" +
                         std::to_string(body.size()) + "\r\n"
                   : std::string("HTTP/1.1 200 OK\r\n");
  if (!route.resumable.etag.empty()) head += "ETag: " + route.resumable.etag + "\r\n";
  head += "Content-Type: text/xml\r\nContent-Length: " + std::to_string(body.size() - start) +
          "\r\nConnection: close\r\n\r\n";
  if (!SendAll(socket, head.data(), head.size())) return;
  SendPaced(state, socket, path, route, body, start);
}

// Answers one request. Returns true when the connection stays open for another one.
bool Respond(State& state, SocketHandle socket, const Request& request) {
  std::string path = request.target.substr(0, request.target.find('?'));
  Route route;
  bool found;
  bool keepAlive;
  {
    std::lock_guard<std::mutex> lock(state.mutex);
    ++state.requestCounts[path];
    state.lastHeaders[path] = request.headers;
    state.lastTargets[path] = request.target;
    keepAlive = state.keepAlive && ClientKeepsConnection(request);
    auto it = state.routes.find(path);
    found = it != state.routes.end();
    if (found) route = it->second;
  }
  if (!found) {
    route.kind = RouteKind::kStatus;
    route.status = 404;
  }
  bool withBody = request.method != "HEAD";
  std::string body;
  std::string contentType = "text/plain";
  switch (route.kind) {
    case RouteKind::kFile:
      body = route.body;
      contentType = route.contentType;
      break;
    case RouteKind::kRedirect:
      body = "Moved to " + route.location + "\n";
      break;
    case RouteKind::kStatus:
      body = std::to_string(route.status) + " " + ReasonPhrase(route.status) + "\n";
      break;
    case RouteKind::kDrip:
    case RouteKind::kEndless:
      break;
    case RouteKind::kResumable:
      SendResumable(state, socket, path, request, route);
      return false;
    case RouteKind::kStall: {
      std::string head =
          ResponseHead(200, route.body.size() + kStallMissingBytes, "text/xml", std::string());
      if (!SendAll(socket, head.data(), head.size()) ||
          !SendAll(socket, route.body.data(), route.body.size())) {
        return false;
      }
      std::unique_lock<std::mutex> lock(state.mutex);
      state.stopRequested.wait_for(lock, std::chrono::seconds(route.stallSeconds),
                                   [&state] { return state.stopping; });
      return false;
    }
  }
  if (route.kind == RouteKind::kDrip || route.kind == RouteKind::kEndless) {
    SendForever(state, socket, route);
    return false;
  }
  std::string response = ResponseHead(route.status, body.size(), contentType, route.location,
                                      route.contentEncoding, keepAlive, route.extraHeader);
  if (withBody) response += body;
  if (!SendAll(socket, response.data(), response.size())) return false;
  if (keepAlive) return true;
  CloseGracefully(state, socket);
  return false;
}

void ServeConnection(State& state, SocketHandle rawSocket) {
  UniqueSocket owner(rawSocket);
  SocketHandle socket = owner.Get();
  std::string head;
  for (bool more = true; more && ReadRequestHead(state, socket, head);) {
    Request request;
    if (ParseRequestHead(head, request)) {
      more = Respond(state, socket, request);
    } else {
      std::string response = ResponseHead(400, 0, "text/plain", std::string());
      SendAll(socket, response.data(), response.size());
      more = false;
    }
  }
  // Leave the set before closing: the destructor shuts down only sockets that are still open.
  std::lock_guard<std::mutex> lock(state.mutex);
  state.openConnections.erase(socket);
  owner.Reset();
}

void AcceptLoop(State& state) {
  while (!state.IsStopping()) {
    if (!WaitReadable(state.listener.Get(), kPollMilliseconds)) continue;
    UniqueSocket connection(AcceptConnection(state.listener.Get()));
    if (!connection) continue;
    std::lock_guard<std::mutex> lock(state.mutex);
    if (state.stopping) break;
    ++state.connectionCount;
    state.openConnections.insert(connection.Get());
    state.connectionThreads.emplace_back(ServeConnection, std::ref(state), connection.Get());
    connection.Release();  // the connection thread owns it now
  }
}

}  // namespace

TestHttpServer::TestHttpServer() : m_state(std::make_shared<State>()) {
  m_state->listener.Reset(ListenOnLoopback(m_state->port));
  if (!m_state->listener) throw std::runtime_error("cannot listen on 127.0.0.1");
  m_state->acceptThread = std::thread(AcceptLoop, std::ref(*m_state));
}

TestHttpServer::~TestHttpServer() {
  {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    m_state->stopping = true;
    for (SocketHandle connection : m_state->openConnections) ShutdownBoth(connection);
  }
  m_state->stopRequested.notify_all();
  m_state->acceptThread.join();
  // The accept thread is gone, so nobody adds threads any more.
  for (std::thread& thread : m_state->connectionThreads) thread.join();
}

int TestHttpServer::Port() const { return m_state->port; }

std::string TestHttpServer::Url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(m_state->port) + path;
}

void TestHttpServer::AddFile(const std::string& path, const std::string& body,
                             const std::string& contentType) {
  Route route;
  route.kind = RouteKind::kFile;
  route.body = body;
  route.contentType = contentType;
  std::lock_guard<std::mutex> lock(m_state->mutex);
  m_state->routes[path] = route;
}

void TestHttpServer::AddEncodedFile(const std::string& path, const std::string& encodedBody,
                                    const std::string& contentEncoding) {
  Route route;
  route.kind = RouteKind::kFile;
  route.body = encodedBody;
  route.contentType = "text/xml";
  route.contentEncoding = contentEncoding;
  std::lock_guard<std::mutex> lock(m_state->mutex);
  m_state->routes[path] = route;
}

void TestHttpServer::AddFileWithHeader(const std::string& path, const std::string& body,
                                       const std::string& name, const std::string& value) {
  Route route;
  route.kind = RouteKind::kFile;
  route.body = body;
  route.contentType = "text/xml";
  route.extraHeader = name + ": " + value + "\r\n";
  std::lock_guard<std::mutex> lock(m_state->mutex);
  m_state->routes[path] = route;
}

void TestHttpServer::AddRedirect(const std::string& path, const std::string& location, int status) {
  Route route;
  route.kind = RouteKind::kRedirect;
  route.status = status;
  route.location = location;
  std::lock_guard<std::mutex> lock(m_state->mutex);
  m_state->routes[path] = route;
}

void TestHttpServer::AddStatus(const std::string& path, int status) {
  Route route;
  route.kind = RouteKind::kStatus;
  route.status = status;
  std::lock_guard<std::mutex> lock(m_state->mutex);
  m_state->routes[path] = route;
}

void TestHttpServer::AddStall(const std::string& path, const std::string& prefix, int seconds) {
  Route route;
  route.kind = RouteKind::kStall;
  route.body = prefix;
  route.stallSeconds = seconds;
  std::lock_guard<std::mutex> lock(m_state->mutex);
  m_state->routes[path] = route;
}

void TestHttpServer::AddDrip(const std::string& path, const std::string& prefix,
                             int intervalMilliseconds) {
  Route route;
  route.kind = RouteKind::kDrip;
  route.body = prefix;
  route.dripMilliseconds = intervalMilliseconds;
  std::lock_guard<std::mutex> lock(m_state->mutex);
  m_state->routes[path] = route;
}

void TestHttpServer::AddEndless(const std::string& path, const std::string& prefix) {
  Route route;
  route.kind = RouteKind::kEndless;
  route.body = prefix;
  std::lock_guard<std::mutex> lock(m_state->mutex);
  m_state->routes[path] = route;
}

void TestHttpServer::AddResumableFile(const std::string& path, const std::string& body,
                                      const Resumable& options) {
  Route route;
  route.kind = RouteKind::kResumable;
  route.body = body;
  route.resumable = options;
  std::lock_guard<std::mutex> lock(m_state->mutex);
  m_state->routes[path] = route;
}

std::size_t TestHttpServer::BodyBytesSent(const std::string& path) const {
  std::lock_guard<std::mutex> lock(m_state->mutex);
  auto it = m_state->bodyBytesSent.find(path);
  return it == m_state->bodyBytesSent.end() ? 0 : it->second;
}

std::string TestHttpServer::LastRequestTarget(const std::string& path) const {
  std::lock_guard<std::mutex> lock(m_state->mutex);
  auto it = m_state->lastTargets.find(path);
  return it == m_state->lastTargets.end() ? std::string() : it->second;
}

int TestHttpServer::RequestCount(const std::string& path) const {
  std::lock_guard<std::mutex> lock(m_state->mutex);
  auto it = m_state->requestCounts.find(path);
  return it == m_state->requestCounts.end() ? 0 : it->second;
}

std::string TestHttpServer::LastRequestHeader(const std::string& path,
                                              const std::string& name) const {
  std::lock_guard<std::mutex> lock(m_state->mutex);
  auto it = m_state->lastHeaders.find(path);
  if (it == m_state->lastHeaders.end()) return std::string();
  for (const auto& header : it->second) {
    if (EqualNoCase(header.first, name)) return header.second;
  }
  return std::string();
}

void TestHttpServer::SetKeepAlive(bool keepAlive) {
  std::lock_guard<std::mutex> lock(m_state->mutex);
  m_state->keepAlive = keepAlive;
}

int TestHttpServer::ConnectionCount() const {
  std::lock_guard<std::mutex> lock(m_state->mutex);
  return m_state->connectionCount;
}

int UnusedLoopbackPort() {
  int port = 0;
  UniqueSocket probe(ListenOnLoopback(port));
  return probe ? port : 0;
}
