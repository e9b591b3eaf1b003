#pragma once
// The count behind requests_in_flight(): each platform request is entered
// while it is under way. Internal to the client.

#include <cstdint>
#include <string>

namespace tamrik::protocol::http_client::detail {

// Counts one request from construction to destruction.
class CountedRequest {
 public:
  CountedRequest(std::string method, std::string api_url, std::string path);
  ~CountedRequest();
  CountedRequest(const CountedRequest&) = delete;
  CountedRequest& operator=(const CountedRequest&) = delete;

 private:
  std::uint64_t id_;
};

}  // namespace tamrik::protocol::http_client::detail
