#include "platform/socket_address.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace tamrik::platform {

namespace {

using NameFunction = int (*)(int, sockaddr*, socklen_t*);

SocketAddress address_of(int fd, NameFunction get_name) {
  sockaddr_storage storage{};
  socklen_t length = sizeof storage;
  if (get_name(fd, reinterpret_cast<sockaddr*>(&storage), &length) != 0) return {};
  char text[INET6_ADDRSTRLEN] = {};
  if (storage.ss_family == AF_INET) {
    const auto* v4 = reinterpret_cast<const sockaddr_in*>(&storage);
    inet_ntop(AF_INET, &v4->sin_addr, text, sizeof text);
    return {text, ntohs(v4->sin_port)};
  }
  if (storage.ss_family == AF_INET6) {
    const auto* v6 = reinterpret_cast<const sockaddr_in6*>(&storage);
    inet_ntop(AF_INET6, &v6->sin6_addr, text, sizeof text);
    return {text, ntohs(v6->sin6_port)};
  }
  return {};
}

}  // namespace

SocketAddress peer_address(int fd) { return address_of(fd, getpeername); }

SocketAddress local_address(int fd) { return address_of(fd, getsockname); }

}  // namespace tamrik::platform
