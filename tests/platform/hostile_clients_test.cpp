// tamrik-platform against slow and hostile clients, over real connections:
// clients trickling their requests are cut off while others are answered,
// one address holds a bounded number of connections, and a request the
// server refuses is answered before its body is sent.

#include "platform/platform_process.hpp"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <stdexcept>
#include <thread>

namespace tamrik::testing {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// Generous bounds, not speeds: an answer on loopback takes milliseconds,
// and a slow client is cut off within the server's limits of a few seconds.
constexpr auto kAnswerLimit = 1s;
constexpr auto kCutOffLimit = 10s;

// A connection to the server from `source`. Every 127.0.0.0/8 address is
// this machine's, so each source stands for a different client.
class RawConnection {
 public:
  RawConnection(const std::string& source, int port) : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in from{};
    from.sin_family = AF_INET;
    inet_pton(AF_INET, source.c_str(), &from.sin_addr);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
    if (fd_ < 0 || bind(fd_, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0 ||
        connect(fd_, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
      if (fd_ >= 0) close(fd_);
      throw std::runtime_error("cannot connect from " + source);
    }
  }
  ~RawConnection() { close(fd_); }
  RawConnection(const RawConnection&) = delete;
  RawConnection& operator=(const RawConnection&) = delete;

  void send(std::string_view bytes) {
    if (::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) < 0) closed_ = true;
  }

  // Takes in what the server sends until it closes the connection or
  // `limit` has passed (at least one look either way).
  void receive(Clock::duration limit) {
    const auto until = Clock::now() + limit;
    while (!closed_) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
      pollfd readable{fd_, POLLIN, 0};
      if (poll(&readable, 1, static_cast<int>(std::max<long>(left.count(), 0))) <= 0) return;
      char buffer[4096];
      const ssize_t got = recv(fd_, buffer, sizeof buffer, 0);
      if (got <= 0) closed_ = true;
      if (got > 0) received_.append(buffer, static_cast<size_t>(got));
    }
  }

  // Whether the server closed (or reset) the connection.
  bool closed() const { return closed_; }
  const std::string& received() const { return received_; }

 private:
  int fd_;
  bool closed_ = false;
  std::string received_;
};

std::string address(int n) { return "127.0.0." + std::to_string(n); }

httplib::Headers auth(const PlatformProcess& platform) { return {{"Authorization", "Bearer " + platform.key()}}; }

// A client that gives up after kAnswerLimit.
std::unique_ptr<httplib::Client> impatient_client(const PlatformProcess& platform) {
  auto client = std::make_unique<httplib::Client>("127.0.0.1", platform.port());
  client->set_connection_timeout(kAnswerLimit);
  client->set_read_timeout(kAnswerLimit);
  client->set_write_timeout(kAnswerLimit);
  return client;
}

TEST(PlatformHostileClients, ClientsTricklingTheirRequestsAreCutOffWhileOthersAreAnswered) {
  PlatformOptions options;
  options.args = {"--header-timeout", "3"};
  PlatformProcess platform(options);
  const auto resolved = impatient_client(platform)->Post("/v1/projects/resolve", auth(platform),
                                                         R"({"remote": "git@h:o/r"})", "application/json");
  ASSERT_TRUE(resolved);
  ASSERT_EQ(resolved->status, 200);

  // Fifty trickle headers, from five addresses (within the bound per
  // client, so each holds a worker); five more trickle a body.
  std::vector<std::unique_ptr<RawConnection>> slow;
  for (int i = 0; i < 50; ++i) {
    slow.push_back(std::make_unique<RawConnection>(address(2 + i % 5), platform.port()));
    slow.back()->send("GET /v1/projects/1/state HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Slow: ");
  }
  for (int i = 0; i < 5; ++i) {
    slow.push_back(std::make_unique<RawConnection>(address(7), platform.port()));
    slow.back()->send(
        "POST /v1/projects/resolve HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 1000\r\n"
        "Authorization: Bearer " +
        platform.key() + "\r\n\r\n{");
  }
  std::thread trickle([&slow] {
    const auto until = Clock::now() + kCutOffLimit;
    size_t open = slow.size();
    while (open > 0 && Clock::now() < until) {
      open = 0;
      for (const auto& connection : slow) {
        connection->send("x");
        connection->receive(0s);
        open += connection->closed() ? 0 : 1;
      }
      std::this_thread::sleep_for(100ms);
    }
  });

  for (int i = 0; i < 20; ++i) {
    const auto answer = impatient_client(platform)->Get("/v1/projects/1/state", auth(platform));
    ASSERT_TRUE(answer) << "request " << i << ": " << httplib::to_string(answer.error());
    EXPECT_EQ(answer->status, 200);
    std::this_thread::sleep_for(50ms);
  }
  trickle.join();
  for (size_t i = 0; i < slow.size(); ++i) EXPECT_TRUE(slow[i]->closed()) << "slow client " << i;
}

TEST(PlatformHostileClients, OneAddressHoldsABoundedNumberOfConnections) {
  PlatformOptions options;
  options.args = {"--max-connections-per-client", "4", "--header-timeout", "60"};
  PlatformProcess platform(options);
  std::vector<std::unique_ptr<RawConnection>> held;
  for (int i = 0; i < 10; ++i) {
    held.push_back(std::make_unique<RawConnection>(address(9), platform.port()));
    held.back()->send("G");
  }
  const auto closed_count = [&held] {
    return std::count_if(held.begin(), held.end(), [](const auto& connection) { return connection->closed(); });
  };
  const auto until = Clock::now() + kCutOffLimit;
  while (closed_count() < 6 && Clock::now() < until) {
    for (const auto& connection : held) connection->receive(10ms);
  }
  for (const auto& connection : held) connection->receive(200ms);
  EXPECT_EQ(closed_count(), 6);

  const auto other = impatient_client(platform)->Get("/v1/projects/1/state", auth(platform));
  ASSERT_TRUE(other);
  EXPECT_EQ(other->status, 404);

  // A connection that ends gives its place back.
  std::erase_if(held, [](const auto& connection) { return connection->closed(); });
  held.pop_back();
  bool served = false;
  while (!served && Clock::now() < until) {
    RawConnection again(address(9), platform.port());
    again.send("GET /v1/projects/1/state HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
    again.receive(kAnswerLimit);
    served = again.received().starts_with("HTTP/1.1 ");
  }
  EXPECT_TRUE(served);
}

TEST(PlatformHostileClients, RequestsAreRefusedBeforeTheirBodyIsSent) {
  PlatformProcess platform;
  const std::string key = "Authorization: Bearer " + platform.key() + "\r\n";
  struct Case {
    std::string head;
    std::string status;
    std::string code;
  };
  const std::vector<Case> cases = {
      {"POST /v1/projects/resolve HTTP/1.1\r\nContent-Length: 8000000\r\n", "401", "key_rejected"},
      {"POST /v1/projects/resolve HTTP/1.1\r\nContent-Length: 8000000\r\nAuthorization: Bearer wrong\r\n", "401",
       "key_rejected"},
      {"POST /v1/projects/resolve HTTP/1.1\r\nContent-Length: 8388609\r\n" + key, "413", "too_large"},
      {"POST /v1/nothing-here HTTP/1.1\r\nContent-Length: 8000000\r\n" + key, "404", "not_found"},
      {"POST /v1/projects/resolve HTTP/1.1\r\nContent-Length: 100\r\nExpect: 100-continue\r\n", "401", "key_rejected"},
  };
  for (const Case& refused : cases) {
    RawConnection connection(address(1), platform.port());
    connection.send(refused.head + "Host: 127.0.0.1\r\n\r\n");
    connection.receive(kAnswerLimit);
    const std::string& answer = connection.received();
    EXPECT_TRUE(answer.starts_with("HTTP/1.1 " + refused.status)) << refused.head << answer;
    EXPECT_NE(answer.find("\"" + refused.code + "\""), std::string::npos) << refused.head << answer;
    // The body was never read, so the connection cannot carry another request.
    EXPECT_NE(answer.find("Connection: close"), std::string::npos) << refused.head << answer;
    EXPECT_TRUE(connection.closed()) << refused.head;
  }
}

}  // namespace
}  // namespace tamrik::testing
