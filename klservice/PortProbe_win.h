// Who listens on a loopback port, and whether it accepts connections within a time limit
// (Windows-only header; the callers link ws2_32 and iphlpapi).
#pragma once

#include "common/WinApi.h"

#include <winsock2.h>
#include <iphlpapi.h>

#include <cstdint>
#include <vector>

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

// The process listening on 127.0.0.1:port (or on every address at port), 0 when none is found or
// the system's table names no process (as Wine's does).
inline uint32_t ListenerProcess(uint16_t port) {
  std::vector<char> buffer;
  DWORD rc = ERROR_INSUFFICIENT_BUFFER;
  for (int attempt = 0; attempt < 4 && rc == ERROR_INSUFFICIENT_BUFFER; ++attempt) {
    DWORD size = static_cast<DWORD>(buffer.size());
    rc = ::GetExtendedTcpTable(buffer.empty() ? nullptr : buffer.data(), &size, FALSE, AF_INET,
                               TCP_TABLE_OWNER_PID_LISTENER, 0);
    if (rc == ERROR_INSUFFICIENT_BUFFER) buffer.resize(size + 1024);
  }
  if (rc != NO_ERROR) return 0;
  const auto* table = reinterpret_cast<const MIB_TCPTABLE_OWNER_PID*>(buffer.data());
  for (DWORD i = 0; i < table->dwNumEntries; ++i) {
    const MIB_TCPROW_OWNER_PID& row = table->table[i];
    if (ntohs(static_cast<u_short>(row.dwLocalPort)) == port &&
        (row.dwLocalAddr == htonl(INADDR_LOOPBACK) || row.dwLocalAddr == INADDR_ANY))
      return row.dwOwningPid;
  }
  return 0;
}
