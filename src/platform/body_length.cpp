#include "platform/body_length.hpp"
#include "core/text.hpp"

#include <httplib.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <string_view>

namespace tamrik::platform {

bool is_chunked(const httplib::Request& req) {
  const std::string coding = req.get_header_value("Transfer-Encoding");
  return core::equals_ignoring_case(coding, "chunked");
}

std::optional<size_t> declared_body_length(const httplib::Request& req) {
  if (req.has_header("Transfer-Encoding")) return std::nullopt;
  if (!req.has_header("Content-Length")) return 0;
  const std::string text = req.get_header_value("Content-Length");
  size_t length = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), length);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return length;
}

}  // namespace tamrik::platform
