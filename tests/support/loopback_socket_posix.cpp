// BSD-socket side of the loopback HTTP server used by the tests (POSIX).
#include "support/loopback_socket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int Fd(SocketHandle socket) { return static_cast<int>(socket); }

}  // namespace

void CloseSocket(SocketHandle socket) { close(Fd(socket)); }

SocketHandle ListenOnLoopback(int& port) {
  UniqueSocket listener(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!listener) return kNoSocket;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  if (bind(Fd(listener.Get()), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(Fd(listener.Get()), 64) != 0) {
    return kNoSocket;
  }
  socklen_t length = sizeof address;
  if (getsockname(Fd(listener.Get()), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    return kNoSocket;
  }
  port = ntohs(address.sin_port);
  return listener.Release();
}

SocketHandle AcceptConnection(SocketHandle listener) {
  int fd;
  do {
    fd = accept4(Fd(listener), nullptr, nullptr, SOCK_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  return fd < 0 ? kNoSocket : fd;
}

bool WaitReadable(SocketHandle socket, int milliseconds) {
  pollfd entry{};
  entry.fd = Fd(socket);
  entry.events = POLLIN;
  // EINTR counts as "not yet": the callers poll in a loop anyway.
  return poll(&entry, 1, milliseconds) > 0;
}

long ReceiveSome(SocketHandle socket, char* buffer, std::size_t size) {
  ssize_t received;
  do {
    received = recv(Fd(socket), buffer, size, 0);
  } while (received < 0 && errno == EINTR);
  return static_cast<long>(received);
}

bool SendAll(SocketHandle socket, const char* data, std::size_t size) {
  while (size > 0) {
    // MSG_NOSIGNAL: a client that gives up early (size cap, time-out) must not kill the test.
    ssize_t sent = send(Fd(socket), data, size, MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return false;
    data += sent;
    size -= static_cast<std::size_t>(sent);
  }
  return true;
}

void ShutdownSending(SocketHandle socket) { shutdown(Fd(socket), SHUT_WR); }

void ShutdownBoth(SocketHandle socket) { shutdown(Fd(socket), SHUT_RDWR); }
