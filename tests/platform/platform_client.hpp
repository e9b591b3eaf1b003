#pragma once
// A test talking to its own tamrik-platform over HTTP with the server's key.

#include "core/json.hpp"
#include "platform/platform_process.hpp"

#include <gtest/gtest.h>
#include <httplib.h>

namespace tamrik::testing {

struct Answer {
  int status = 0;
  core::Json body;
};

inline Answer answer_of(const httplib::Result& result) {
  if (!result) return {0, nullptr};
  return {result->status, core::parse_json(result->body).value_or(core::Json(result->body))};
}

inline std::string error_code(const Answer& answer) { return core::get_text(answer.body["error"], "code"); }

class PlatformClientTest : public ::testing::Test {
 protected:
  explicit PlatformClientTest(PlatformOptions options = {}) : platform_(std::move(options)) {}

  Answer post(const std::string& path, const std::string& body, const std::string& key) {
    httplib::Client client("127.0.0.1", platform_.port());
    return answer_of(client.Post(path, {{"Authorization", "Bearer " + key}}, body, "application/json"));
  }
  Answer post(const std::string& path, const core::Json& body) {
    return post(path, core::to_json_compact(body), key());
  }
  Answer get(const std::string& path, const std::string& key) {
    httplib::Client client("127.0.0.1", platform_.port());
    return answer_of(client.Get(path, {{"Authorization", "Bearer " + key}}));
  }
  Answer get(const std::string& path) { return get(path, key()); }

  long long project(const std::string& remote) {
    return post("/v1/projects/resolve", core::Json{{"remote", remote}}).body["projectId"].get<long long>();
  }
  static std::string attestations(long long id) { return "/v1/projects/" + std::to_string(id) + "/attestations"; }
  const std::string& key() const { return platform_.key(); }

  PlatformProcess platform_;
};

}  // namespace tamrik::testing
