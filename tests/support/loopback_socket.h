// The few socket operations the loopback HTTP server needs, behind one small interface:
// BSD sockets on POSIX (loopback_socket_posix.cpp), Winsock2 on Windows
// (loopback_socket_win32.cpp).
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/unique_handle.h"

// A socket as an opaque integer; kNoSocket is "no socket" on both targets (INVALID_SOCKET is ~0).
using SocketHandle = std::intptr_t;
constexpr SocketHandle kNoSocket = -1;

void CloseSocket(SocketHandle socket);

struct SocketTraits {
  using Handle = SocketHandle;
  static Handle Invalid() { return kNoSocket; }
  static void Close(Handle socket) { CloseSocket(socket); }
};
using UniqueSocket = UniqueHandle<SocketTraits>;

// A listening socket on 127.0.0.1 and an ephemeral port, written to `port`; kNoSocket on failure.
SocketHandle ListenOnLoopback(int& port);
// The next connection on `listener`, or kNoSocket.
SocketHandle AcceptConnection(SocketHandle listener);
// True when `socket` becomes readable (data, a pending connection, end of stream or an error)
// within `milliseconds`.
bool WaitReadable(SocketHandle socket, int milliseconds);
// Bytes received into `buffer`: 0 at end of stream, negative on error.
long ReceiveSome(SocketHandle socket, char* buffer, std::size_t size);
// Sends every byte; false when the peer went away (never raises SIGPIPE).
bool SendAll(SocketHandle socket, const char* data, std::size_t size);
// Half close: the peer sees the end of the response.
void ShutdownSending(SocketHandle socket);
// Both directions: wakes a thread blocked sending to or receiving from `socket`.
void ShutdownBoth(SocketHandle socket);
