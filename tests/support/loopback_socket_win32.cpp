// Winsock2 side of the loopback HTTP server used by the tests (Windows).
#include "support/loopback_socket.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <climits>
#include <mutex>

namespace {

SOCKET Native(SocketHandle socket) { return static_cast<SOCKET>(socket); }

// Winsock needs one WSAStartup per process before any socket call; it stays up until exit.
void StartWinsock() {
  static std::once_flag once;
  std::call_once(once, [] {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
  });
}

}  // namespace

void CloseSocket(SocketHandle socket) { closesocket(Native(socket)); }

SocketHandle ListenOnLoopback(int& port) {
  StartWinsock();
  UniqueSocket listener(static_cast<SocketHandle>(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP)));
  if (!listener) return kNoSocket;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  if (bind(Native(listener.Get()), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(Native(listener.Get()), 64) != 0) {
    return kNoSocket;
  }
  int length = sizeof address;
  if (getsockname(Native(listener.Get()), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    return kNoSocket;
  }
  port = ntohs(address.sin_port);
  return listener.Release();
}

SocketHandle AcceptConnection(SocketHandle listener) {
  SOCKET accepted = accept(Native(listener), nullptr, nullptr);
  return accepted == INVALID_SOCKET ? kNoSocket : static_cast<SocketHandle>(accepted);
}

bool WaitReadable(SocketHandle socket, int milliseconds) {
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(Native(socket), &readable);
  timeval timeout{};
  timeout.tv_sec = milliseconds / 1000;
  timeout.tv_usec = (milliseconds % 1000) * 1000;
  return select(0, &readable, nullptr, nullptr, &timeout) > 0;
}

long ReceiveSome(SocketHandle socket, char* buffer, std::size_t size) {
  int chunk = size > INT_MAX ? INT_MAX : static_cast<int>(size);
  return recv(Native(socket), buffer, chunk, 0);
}

bool SendAll(SocketHandle socket, const char* data, std::size_t size) {
  while (size > 0) {
    int chunk = size > INT_MAX ? INT_MAX : static_cast<int>(size);
    int sent = send(Native(socket), data, chunk, 0);
    if (sent <= 0) return false;
    data += sent;
    size -= static_cast<std::size_t>(sent);
  }
  return true;
}

void ShutdownSending(SocketHandle socket) { shutdown(Native(socket), SD_SEND); }

void ShutdownBoth(SocketHandle socket) { shutdown(Native(socket), SD_BOTH); }
