#include "host/services/session_context.hpp"

#include "core/file_io.hpp"
#include "host/services/local_config.hpp"

#include <cstdlib>

namespace tamrik::services::session_context {

namespace {

using core::Json;

std::string environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

// A project id as the configuration may hold it: a positive integer, or
// text that is not blank. Anything else is not a link.
Json usable_project_id(const Json& value) {
  if (value.is_number_integer() && value.get<long long>() > 0) return value;
  if (value.is_string() && value.get<std::string>().find_first_not_of(" \t") != std::string::npos) return value;
  return nullptr;
}

Json stored_credentials() {
  const std::optional<std::filesystem::path> file = credentials_file();
  if (!file) return Json::object();
  const std::optional<std::string> text = core::try_read_file(*file, core::kDocumentFileCap);
  if (!text) return Json::object();
  std::optional<Json> parsed = core::parse_json(*text);
  return parsed && parsed->is_object() ? std::move(*parsed) : Json::object();
}

Json project_id_of(const std::filesystem::path& repo_root) {
  try {
    return usable_project_id(read_local_config(repo_root).project_id);
  } catch (const std::exception&) {
    return nullptr;
  }
}

}  // namespace

std::optional<std::filesystem::path> credentials_file() {
  // A relative XDG_CONFIG_HOME is invalid and ignored, as the XDG rules say.
  const std::filesystem::path xdg = environment("XDG_CONFIG_HOME");
  if (xdg.is_absolute()) return xdg / "tamrik" / "credentials.json";
  const std::string home = environment("HOME");
  if (!home.empty()) return std::filesystem::path(home) / ".config" / "tamrik" / "credentials.json";
  return std::nullopt;
}

Session resolve_session(const std::filesystem::path& repo_root) {
  Session session;
  try {
    const Json stored = stored_credentials();
    session.api_key = environment("TAMRIK_API_KEY");
    if (session.api_key.empty()) session.api_key = core::get_text(stored, "api_key");
    session.api_url = environment("TAMRIK_API_URL");
    if (session.api_url.empty()) session.api_url = core::get_text(stored, "api_url");
    session.project_id = project_id_of(repo_root);
  } catch (const std::exception&) {
    // Out of memory or the like: not connected, and the hook goes on.
    session = Session{};
  }
  session.connected = session.signed_in() && session.linked();
  return session;
}

}  // namespace tamrik::services::session_context
