#pragma once
// What a request's headers say about the length of its body.

#include <cstddef>
#include <optional>

namespace httplib {
struct Request;
}

namespace tamrik::platform {

// Whether the body comes in chunks (the only transfer coding understood).
bool is_chunked(const httplib::Request& req);

// The declared length: 0 without a body; none when the body is chunked or
// the Content-Length is not a plain number.
std::optional<size_t> declared_body_length(const httplib::Request& req);

}  // namespace tamrik::platform
