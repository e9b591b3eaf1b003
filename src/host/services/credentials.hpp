#pragma once
// Storing and removing the user's sign-in: the API key and the platform's
// URL, in the credentials file session_context reads (per user, under the
// XDG configuration directory, never inside a repository). The file is
// readable by its owner only; its directory is created private.

#include <filesystem>
#include <string_view>

namespace tamrik::services::credentials {

// Writes both values atomically with mode 600 and returns the file's path.
// Throws OSError, or a core::Error named "NoConfigDirError" when neither
// XDG_CONFIG_HOME nor HOME says where the file goes.
std::filesystem::path save_credentials(std::string_view api_key, std::string_view api_url);

// Removes the file. Returns whether there was one. Throws OSError, or
// NoConfigDirError as above.
bool remove_credentials();

}  // namespace tamrik::services::credentials
