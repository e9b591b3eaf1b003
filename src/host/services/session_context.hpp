#pragma once
// Whether this machine can upload a repository's records, decided from disk
// alone: no network round trip, so hooks can ask on every commit.
//
// Signed in: an API key and the platform's URL, from the environment
// (TAMRIK_API_KEY, TAMRIK_API_URL; for CI) or else from the user's
// credentials file,
//   $XDG_CONFIG_HOME/tamrik/credentials.json   (~/.config/... without XDG)
//   {"api_key": "...", "api_url": "https://..."}
// kept per user, mode 600, never inside a repository. Each variable
// overrides its own field only.
// Linked: the repository's local configuration names a `project_id`.

#include "core/json.hpp"

#include <filesystem>
#include <optional>
#include <string>

namespace tamrik::services::session_context {

struct Session {
  bool connected = false;  // signed in and linked: uploads can go out
  std::string api_key;
  std::string api_url;
  core::Json project_id;  // an integer or text; null when not linked

  bool signed_in() const { return !api_key.empty() && !api_url.empty(); }
  bool linked() const { return !project_id.is_null(); }
};

// The credentials file of this user, whether or not it exists; nullopt when
// neither XDG_CONFIG_HOME nor HOME is set.
std::optional<std::filesystem::path> credentials_file();

// Never throws: unreadable or malformed files count as absent.
Session resolve_session(const std::filesystem::path& repo_root);

}  // namespace tamrik::services::session_context
