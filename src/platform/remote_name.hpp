#pragma once
// The identity of a repository, taken from its origin remote URL.

#include <optional>
#include <string>
#include <string_view>

namespace tamrik::platform {

// "host/org/repo" for every spelling of one repository: scp-like
// ("git@host:org/repo.git"), ssh://, git://, http(s)://. The host's case,
// credentials, a port, a ".git" suffix and trailing or doubled slashes do not
// matter; the path keeps its case. nullopt for what names no remote
// repository: empty text, local paths, file:// and other schemes, a missing
// host or path.
std::optional<std::string> normalise_remote(std::string_view remote);

// The last path segment of a normalised remote ("repo"), for a title.
std::string repository_name(std::string_view normalised);

}  // namespace tamrik::platform
