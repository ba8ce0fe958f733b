// A blocking loopback client that sends raw bytes and reads answer lines, for the service's
// tests and benchmark (Windows-only header).
#pragma once

#include "common/WinApi.h"

#include <winsock2.h>

#include <cstdint>
#include <string>
#include <string_view>

class TLineClient {
 public:
  // Connects to 127.0.0.1:port; Connected() tells whether it worked. receiveBuffer, when not 0,
  // sets the socket's receive buffer before connecting.
  explicit TLineClient(uint16_t port, DWORD readTimeoutMs = 5000, int receiveBuffer = 0) {
    FSocket = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (FSocket == INVALID_SOCKET) return;
    if (receiveBuffer)
      ::setsockopt(FSocket, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&receiveBuffer),
                   sizeof receiveBuffer);
    ::setsockopt(FSocket, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&readTimeoutMs),
                 sizeof readTimeoutMs);
    const BOOL noDelay = TRUE;
    ::setsockopt(FSocket, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay),
                 sizeof noDelay);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    if (::connect(FSocket, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) Close();
  }
  ~TLineClient() { Close(); }
  TLineClient(const TLineClient&) = delete;
  TLineClient& operator=(const TLineClient&) = delete;

  // Whether the connection is open.
  bool Connected() const { return FSocket != INVALID_SOCKET; }
  // The client's own port.
  uint16_t LocalPort() const {
    sockaddr_in addr{};
    int len = sizeof addr;
    ::getsockname(FSocket, reinterpret_cast<sockaddr*>(&addr), &len);
    return ntohs(addr.sin_port);
  }
  // Sends as much of data as the connection takes without blocking; the bytes sent.
  size_t SendWhatFits(std::string_view data) {
    u_long on = 1;
    ::ioctlsocket(FSocket, FIONBIO, &on);
    size_t sent = 0;
    while (sent < data.size()) {
      const int n = ::send(FSocket, data.data() + sent, static_cast<int>(data.size() - sent), 0);
      if (n <= 0) break;
      sent += static_cast<size_t>(n);
    }
    u_long off = 0;
    ::ioctlsocket(FSocket, FIONBIO, &off);
    return sent;
  }
  // Sends every byte of data; false when the connection refused them.
  bool Send(std::string_view data) {
    while (!data.empty()) {
      const int n = ::send(FSocket, data.data(), static_cast<int>(data.size()), 0);
      if (n <= 0) return false;
      data.remove_prefix(static_cast<size_t>(n));
    }
    return true;
  }
  // Reads one line without its LF into line; false on time-out or when the peer closed.
  bool ReadLine(std::string& line) {
    for (;;) {
      const size_t lf = FBuffer.find('\n');
      if (lf != std::string::npos) {
        line = FBuffer.substr(0, lf);
        FBuffer.erase(0, lf + 1);
        return true;
      }
      char buf[8192];
      const int n = ::recv(FSocket, buf, sizeof buf, 0);
      if (n <= 0) {
        FClosed = n == 0 || ::WSAGetLastError() != WSAETIMEDOUT;
        return false;
      }
      FBuffer.append(buf, static_cast<size_t>(n));
    }
  }
  // Whether the last failed read found the connection closed (or reset) by the peer.
  bool ClosedByPeer() const { return FClosed; }
  // Sends one request line and reads one answer line; empty when none came.
  std::string Ask(std::string_view requestLine) {
    std::string line;
    if (!Send(std::string(requestLine) + "\r\n") || !ReadLine(line)) return {};
    return line;
  }

 private:
  void Close() {
    if (FSocket != INVALID_SOCKET) ::closesocket(FSocket);
    FSocket = INVALID_SOCKET;
  }
  SOCKET FSocket = INVALID_SOCKET;
  std::string FBuffer;
  bool FClosed = false;
};

// Keeps Winsock started for as long as it lives.
struct TWinsockScope {
  TWinsockScope() {
    WSADATA wsa;
    ::WSAStartup(MAKEWORD(2, 2), &wsa);
  }
  ~TWinsockScope() { ::WSACleanup(); }
};
