#pragma once
// The HTTP endpoints of the platform API, version 1.1.

#include <cstddef>

namespace httplib {
class Server;
}

namespace tamrik::platform {

class Callers;
class ContextFiles;
class Storage;

// The largest request body accepted; larger ones get 413 too_large.
inline constexpr size_t kMaxRequestBytes = 8u << 20;

// Installs every endpoint, the refusals answered before a request's body is
// read (unknown endpoint, key not accepted, body declared over the limit),
// JSON error pages, every project but those of the caller's teams answered
// as not there, one log line per request on stderr, and the body limit
// and connection settings. Leaves the post-routing hook to the server. The
// arguments must outlive the server.
void install_routes(httplib::Server& server, Storage& storage, const ContextFiles& context, const Callers& callers);

}  // namespace tamrik::platform
