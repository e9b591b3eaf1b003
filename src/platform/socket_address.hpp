#pragma once
// The two ends of a connected socket, as text.

#include <string>

namespace tamrik::platform {

struct SocketAddress {
  std::string ip;  // "127.0.0.1", "::1"; empty when unknown
  int port = 0;
};

SocketAddress peer_address(int fd);
SocketAddress local_address(int fd);

}  // namespace tamrik::platform
