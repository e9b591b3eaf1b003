#pragma once
// Project resolution: which platform project this repository's records go
// to. Asked once per repository — the answer is saved in the local
// configuration — and only from the sync paths.
//
// Resolution never throws: the caller holds attestations, and the only safe
// answer to "could not resolve" is to keep holding them. Every failure is a
// reason and a code, and each code has a remedy for the user.

#include "host/protocol/http_client.hpp"
#include "synccore/pending.hpp"

#include <array>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace tamrik::synccore {

using std::filesystem::path;

// Failure codes of this module; the platform client's CODE_* are the others.
inline constexpr std::string_view NOT_SIGNED_IN = "not_signed_in";
inline constexpr std::string_view NO_ORIGIN = "no_origin";
inline constexpr std::string_view CONFIG_UNWRITABLE = "config_unwritable";
// A request the client would not send as configured (an http:// URL to
// another machine, say): nothing reached the platform, and waiting will
// not help.
inline constexpr std::string_view BAD_CONFIGURATION = "bad_configuration";
// No usable answer from the platform.
inline constexpr std::string_view UNREACHABLE = "unreachable";

// The outcome of asking the server which project this repo belongs to.
struct ProjectResolution {
  std::optional<long long> project_id;
  std::optional<std::string> title;   // as the server gave it
  bool created = false;               // the server created the project for this call
  std::optional<std::string> reason;  // human-readable failure
  std::optional<std::string> code;    // failure code, the key of _REMEDIES

  bool ok() const { return project_id.has_value(); }
};

// What the user can do about each failure code.
inline constexpr std::array<std::pair<std::string_view, std::string_view>, 12> _REMEDIES{{
    {protocol::http_client::CODE_KEY_REJECTED, "Run `tamrik auth login`."},
    {protocol::http_client::CODE_ACCOUNT_INACTIVE,
     "Add a payment method to activate the account, then run `tamrik sync`."},
    {protocol::http_client::CODE_AMBIGUOUS_TEAM,
     "You belong to several teams. Retry naming one of the ids above — `tamrik sync --team-id <id>` on "
     "the CLI, the `team_id` argument on the MCP sync tool. It is saved, so this is asked once."},
    {protocol::http_client::CODE_REPO_AMBIGUOUS,
     "Two projects on your team claim this repository. Someone has to decide which one owns it before this "
     "repo can sync."},
    {protocol::http_client::CODE_REPO_CONFLICT,
     "This repository already has a project. Run `tamrik sync` again; the next resolve should find it."},
    {protocol::http_client::CODE_NOT_A_MEMBER, "Ask a team admin to add you, or pass a `--team-id` you belong to."},
    {protocol::http_client::CODE_CAPACITY,
     "This team is at its project limit. Link this repo to an existing project with `tamrik setup project "
     "<id>`, or contact tamrik."},
    {protocol::http_client::CODE_BAD_REMOTE, "tamrik identifies a repo by its origin remote. Check `git remote -v`."},
    {NOT_SIGNED_IN, "Run `tamrik auth login` and they upload on the next `tamrik sync`."},
    {NO_ORIGIN,
     "tamrik identifies a repo by its origin remote, and this one has none. Add one with `git remote add "
     "origin <url>`."},
    {CONFIG_UNWRITABLE,
     "The project resolved but the id could not be saved. Fix permissions on .tamrik/.platform/config.yaml "
     "— until then every sync re-resolves."},
    {BAD_CONFIGURATION,
     "The API URL or key you signed in with cannot be used: http:// is accepted only for this machine "
     "(localhost, 127.0.0.1, ::1), another host needs https://. `tamrik auth status` shows the URL; sign in "
     "again with `tamrik auth login --api-url URL`."},
}};
// The remedy of every code not in _REMEDIES ("unreachable", "bad_response", none).
inline constexpr std::string_view _REMEDY_UNREACHABLE =
    "They will upload on the next `tamrik sync` that can reach a project.";

// Asks the platform for the project of repo_root's origin remote and saves
// its id (and `team_id`, when known) in the local configuration. Without a
// team id the configuration's is used.
ProjectResolution resolve_project_id(const path& repo_root, std::string_view api_key, std::string_view api_url,
                                     std::optional<long long> team_id = std::nullopt);

// Files the pending attestation first — an offline local write that must
// never wait behind the network — then resolves when the configuration
// names no project. The second element is nullopt when it already does.
// An attestation for a staged change not committed yet stays pending (see
// _file_committed_attestation): found, with no matched commit and no error.
std::pair<AttestationResult, std::optional<ProjectResolution>> resolve_if_unlinked(
    const Checkout& checkout, std::string_view api_key, std::string_view api_url,
    std::optional<long long> team_id = std::nullopt);

// The remedy text for `code`; _REMEDY_UNREACHABLE when it has none.
std::string remedy(std::optional<std::string_view> code);

// The failure code of an error a platform request raised: the refusal's own
// code (none when it carried none), BAD_CONFIGURATION when the request could
// not be sent as configured, UNREACHABLE for anything else.
std::optional<std::string> failure_code(const std::exception& error);

// The line that follows a failed platform request of a sync step: its
// cause and what to do ("API key rejected: run `tamrik auth login`."), or
// nullopt when the code has nothing to add to the failure's own line.
std::optional<std::string> failure_advice(std::optional<std::string_view> code);

}  // namespace tamrik::synccore
