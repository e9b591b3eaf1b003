#pragma once
// The dashboard: pages for people on the API's port, under /dashboard.
// A person signs in with an API key on a form and gets a session cookie;
// every page checks the key again and shows only the projects of its
// member's teams, as the API does.

#include <cstddef>
#include <string_view>

namespace httplib {
class Server;
}

namespace tamrik::platform {

class Callers;
class Storage;

// The largest form body a dashboard page takes.
inline constexpr size_t kMaxFormBytes = 16 * 1024;

// Whether a request is for the dashboard rather than the API ("/" leads
// to it too): such requests carry no Authorization header.
bool is_dashboard_path(std::string_view path);

// Installs the pages. The arguments must outlive the server.
void install_dashboard(httplib::Server& server, Storage& storage, const Callers& callers);

}  // namespace tamrik::platform
