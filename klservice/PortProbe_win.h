// Whether something accepts connections on a loopback port, within a time limit
// (Windows-only header).
#pragma once

#include "common/WinApi.h"

#include <winsock2.h>

#include <cstdint>

// Whether a connection to 127.0.0.1:port is accepted within waitMs. Non-blocking: a listener
// whose backlog is full may leave a blocking connect waiting for minutes. Winsock must be started.
inline bool AcceptsWithin(uint16_t port, DWORD waitMs) {
  const SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return false;
  u_long nonBlocking = 1;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(port);
  bool ok = false;
  if (::ioctlsocket(s, FIONBIO, &nonBlocking) == 0) {
    if (::connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
      ok = true;
    } else if (::WSAGetLastError() == WSAEWOULDBLOCK) {
      fd_set writable, failed;
      FD_ZERO(&writable);
      FD_SET(s, &writable);
      FD_ZERO(&failed);
      FD_SET(s, &failed);
      timeval tv{static_cast<long>(waitMs / 1000), static_cast<long>((waitMs % 1000) * 1000)};
      if (::select(0, nullptr, &writable, &failed, &tv) == 1 && FD_ISSET(s, &writable)) {
        int error = 0;
        int length = sizeof error;
        ok = ::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) == 0 &&
             error == 0;
      }
    }
  }
  ::closesocket(s);
  return ok;
}
