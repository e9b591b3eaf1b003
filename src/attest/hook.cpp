#include "attest/hook.hpp"

#include "attest/nudge.hpp"
#include "synccore/synccore.hpp"

#include <sys/stat.h>

#include <climits>
#include <unistd.h>

#include <charconv>
#include <chrono>

namespace tamrik::attest {

namespace {

// Whether the character before `at` / from `at` in `line` is a word character
// (a line's ends count as non-word).
bool word_before(std::string_view line, size_t at) {
  return at > 0 && core::is_word_character(core::decode_utf8_char_before(line, at).code_point);
}

bool word_from(std::string_view line, size_t at) {
  return at < line.size() && core::is_word_character(core::decode_utf8_char(line, at).code_point);
}

// The first occurrence of `word` at or after `from` in `line` with a word
// boundary on both sides (\bword\b, Unicode word characters); npos when there
// is none.
size_t find_word(std::string_view line, std::string_view word, size_t from) {
  for (size_t at = line.find(word, from); at != std::string_view::npos; at = line.find(word, at + 1)) {
    if (!word_before(line, at) && !word_from(line, at + word.size())) return at;
  }
  return std::string_view::npos;
}

std::optional<long long> parse_seconds(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  if (text.starts_with('+')) text.remove_prefix(1);
  long long value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

double seconds_now() {
  return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

// Where the hook's tool call ran.
std::optional<services::Checkout> repository_of(const Json& payload) {
  const std::optional<std::string> cwd = core::text_member(payload, "cwd");
  return _set_up_checkout_for(cwd && !cwd->empty() ? path(*cwd) : std::filesystem::current_path());
}

// Steps 1 to 5: the checkout when this payload reports a `git commit` that
// finished cleanly and moved its HEAD just now, else nullopt.
std::optional<services::Checkout> committed_repository(const Json& payload) {
  if (!payload.is_object() || core::text_member(payload, "tool_name") != "Bash") return std::nullopt;
  const std::optional<std::string> command = core::text_member(core::member(payload, "tool_input"), "command");
  if (!command || !_is_git_commit(*command) || _tool_failed(payload)) return std::nullopt;
  std::optional<services::Checkout> checkout = repository_of(payload);
  if (!checkout || !_head_is_fresh(checkout->work_tree)) return std::nullopt;
  return checkout;
}

void record_head(const services::Checkout& checkout, const Json& payload, const std::optional<std::string>& agent) {
  const synccore::BackfillResult result = synccore::capture_commit(
      checkout, "HEAD", {.session_id = core::text_member(payload, "session_id"), .agent = agent});
  if (result.written) {
    // The nudge below matters more than an upload the next sync repeats.
    core::best_effort("attestation upload from the commit hook failed", [&] { _upload_from_disk(checkout.home); });
    if (!result.attested) {
      _nudge(result.commit);
    } else if (result.mismatched) {
      _nudge(result.commit, NudgeReason::mismatched);
    }
  } else if (result.outcome == synccore::RecordOutcome::already_recorded) {
    // The post-commit hook recorded it a moment ago, unattested or with a
    // mismatching attestation, and already started the upload.
    if (const std::optional<NudgeReason> reason = claim_unattested_head(checkout.work_tree, result.commit)) {
      _nudge(result.commit, *reason);
    }
  }
}

}  // namespace

bool _may_be_git_commit_payload(std::string_view text) {
  const auto has = [text](std::string_view part) { return text.find(part) != std::string_view::npos; };
  return has("\\u") || (has("Bash") && has("git") && has("commit"));
}

bool _is_git_commit(std::string_view command) {
  for (std::string_view line : core::lines_of(command)) {
    const size_t git = find_word(line, "git", 0);
    if (git != std::string_view::npos && find_word(line, "commit", git + 3) != std::string_view::npos) return true;
  }
  return false;
}

bool _tool_failed(const Json& payload) {
  const Json& response = core::member(payload, "tool_response");
  const Json& interrupted = core::member(response, "interrupted");
  if (interrupted.is_boolean() && interrupted.get<bool>()) return true;
  for (std::string_view key : {"exit_code", "exitCode"}) {
    const Json& code = core::member(response, key);
    if (code.is_number_integer() && code != 0) return true;
  }
  return false;
}

std::optional<path> _repo_root_for(const path& start) {
  // The file system sees a path only up to a NUL byte: such a path names no
  // directory, least of all the one its first part names.
  if (start.native().find('\0') != std::string::npos) return std::nullopt;
  // Nor one longer than any path the kernel resolves: walking up its
  // thousands of parts, each lookup failing, would only cost time.
  if (start.native().size() >= PATH_MAX) return std::nullopt;
  for (path dir = start; !dir.empty(); dir = dir.parent_path()) {
    struct stat entry {};
    if (::lstat((dir / ".git").c_str(), &entry) == 0) return dir;
    if (dir == dir.parent_path()) break;
  }
  return std::nullopt;
}

std::optional<services::Checkout> _set_up_checkout_for(const path& start) {
  const std::optional<path> top = _repo_root_for(start);
  if (!top) return std::nullopt;
  std::optional<services::Checkout> checkout = services::checkout_at(*top);
  if (!checkout || !services::setup_list::is_set_up(checkout->home)) return std::nullopt;
  return checkout;
}

bool _head_is_fresh(const path& work_tree) { return _head_is_fresh(work_tree, seconds_now()); }

bool _head_is_fresh(const path& work_tree, double now) {
  const std::optional<long long> committed =
      parse_seconds(synccore::_git({"log", "-1", "--format=%ct", "HEAD"}, work_tree));
  if (!committed) return false;
  const double age = now - static_cast<double>(*committed);
  return age >= 0 && age <= static_cast<double>(_FRESH_HEAD_SECONDS);
}

void _upload_from_disk(const path& repo_root) {
  const auto budget = protocol::http_client::network_budget(_HOOK_UPLOAD_BUDGET);
  const services::session_context::Session session = services::session_context::resolve_session(repo_root);
  if (!session.connected) return;
  synccore::upload_attestations(session.api_key, session.api_url, repo_root, paths::attestations_dir(repo_root),
                                session.project_id);
}

void _add_from_hook(const std::optional<std::string>& agent) {
  // A hook never fails the agent's tool call.
  core::best_effort("Recording a commit from the tool call failed", [&] {
    const std::optional<std::string> input = services::shared::read_hook_input(STDIN_FILENO);
    if (!input || !_may_be_git_commit_payload(*input)) return;
    const std::optional<Json> payload = core::parse_json(*input);
    if (!payload) return;
    if (const std::optional<services::Checkout> checkout = committed_repository(*payload)) {
      record_head(*checkout, *payload, agent);
    }
  });
}

}  // namespace tamrik::attest
