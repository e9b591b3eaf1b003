#include "synccore/rules_cache.hpp"

#include "core/errors.hpp"
#include "core/file_io.hpp"
#include "core/json.hpp"
#include "core/log.hpp"
#include "core/utf8.hpp"
#include "core/yaml.hpp"
#include "host/hooks/scripts.hpp"
#include "host/paths.hpp"
#include "synccore/diagnostics.hpp"
#include "synccore/ledger.hpp"

#include <sys/stat.h>

#include <ctime>
#include <vector>

namespace tamrik::synccore {

using core::Json;

namespace {

// The YAML document in `file`, or nullopt when it is missing, unreadable or
// malformed.
std::optional<Json> load_yaml_file(const path& file) {
  const std::optional<std::string> text = core::try_read_file(file, core::kDocumentFileCap);
  // YAML is Unicode text: bytes that do not decode make the file unreadable,
  // not a document to count.
  if (!text || !core::is_valid_utf8(*text)) return std::nullopt;
  try {
    return core::load_yaml(*text);
  } catch (const core::Error&) {
    return std::nullopt;
  }
}

// map[key] when it is a map, or an empty map when it is missing or empty.
const Json& member_or_empty(const Json& map, const char* key) {
  static const Json empty = Json::object();
  const auto it = map.find(key);
  if (it == map.end() || !core::is_set(*it)) return empty;
  return *it;
}

std::optional<long long> recorded_fetch_status(const path& cache_dir) {
  const std::optional<Json> config = load_yaml_file(cache_dir / "config.yaml");
  if (!config || !config->is_object()) return std::nullopt;
  const Json& cache = member_or_empty(*config, "cache");
  if (!cache.is_object()) return std::nullopt;
  const Json& statuses = member_or_empty(cache, "fetch_status");
  if (!statuses.is_object()) return std::nullopt;
  const auto status = statuses.find("tamrikrules");
  if (status == statuses.end() || !status->is_number_integer()) return std::nullopt;
  return status->get<long long>();
}

// Seconds since `file` was last written, or nullopt when it does not exist.
std::optional<double> age_of(const path& file, std::time_t now) {
  const std::optional<struct stat> st = core::file_status(file);
  if (!st) return std::nullopt;
  return static_cast<double>(now) - static_cast<double>(st->st_mtim.tv_sec) - st->st_mtim.tv_nsec / 1e9;
}

long long count_elements(const path& cache_dir) {
  const std::optional<Json> state = load_yaml_file(cache_dir / "tamrikstate.yaml");
  if (!state || !state->is_object()) return 0;
  const Json& architecture = member_or_empty(*state, "architecture");
  if (!architecture.is_object()) return 0;
  const Json& elements = member_or_empty(architecture, "elements");
  if (!elements.is_object()) return 0;
  long long n = 0;
  for (const auto& item : elements.items()) n += item.value().is_object() ? 1 : 0;
  return n;
}

long long count_specs(const path& cache_dir) {
  std::error_code ec;
  long long n = 0;
  for (std::filesystem::directory_iterator it(cache_dir / "specs", ec), end; !ec && it != end; it.increment(ec)) {
    const std::string ext = it->path().extension().string();
    if (it->is_regular_file(ec) && (ext == ".md" || ext == ".yaml" || ext == ".yml")) ++n;
  }
  return n;
}

std::string cache_freshness(const path& cache_dir, const RulesCacheState& rules) {
  const std::time_t now = std::time(nullptr);
  const path state_file = cache_dir / "tamrikstate.yaml";
  const path rules_file = cache_dir / "tamrikrules.yaml";
  for (const path& file : {state_file, rules_file}) {
    const std::optional<double> age = age_of(file, now);
    if (age && *age > _STALE_THRESHOLD_SECONDS) return "  cache: stale \u2014 run 'tamrik sync' to refresh";
  }
  if (rules.fetch_failed() || rules.unreadable) return "  cache: incomplete \u2014 run 'tamrik sync' to refresh";
  if (core::path_exists(state_file) || core::path_exists(rules_file)) return "  cache: fresh";
  return "  cache: empty \u2014 run 'tamrik sync' to populate";
}

// The repository's ledger: log.jsonl beside the cached files, or, for the
// platform directory of a repository, the ledger of its .tamrik directory.
path ledger_for(const path& cache_dir) {
  path beside = cache_dir / "log.jsonl";
  if (core::path_exists(beside)) return beside;
  const path parent = cache_dir.parent_path();
  if (cache_dir.filename() == ".platform" && parent.filename() == ".tamrik") return parent / "log.jsonl";
  return beside;
}

}  // namespace

bool RulesCacheState::fetch_failed() const {
  return last_fetch_status && *last_fetch_status != 200 && *last_fetch_status != 304;
}

bool RulesCacheState::trustworthy() const { return count && !unreadable && !fetch_failed(); }

std::string RulesCacheState::describe() const {
  if (unreadable) return "unreadable \u2014 run 'tamrik sync' to repair the cache";
  if (!count && fetch_failed()) return "unavailable \u2014 last sync could not reach tamrik";
  if (!count) return "not cached \u2014 run 'tamrik sync'";
  if (fetch_failed()) return std::to_string(*count) + " (stale \u2014 last sync could not reach tamrik)";
  return std::to_string(*count);
}

RulesCacheState read_rules_cache_state(const path& cache_dir) {
  RulesCacheState state;
  state.last_fetch_status = recorded_fetch_status(cache_dir);
  const path rules_file = cache_dir / "tamrikrules.yaml";
  if (!core::path_exists(rules_file)) return state;
  const std::optional<Json> rules = load_yaml_file(rules_file);
  if (!rules) {
    state.unreadable = true;
    return state;
  }
  if (rules->is_null()) {
    state.count = 0;
    return state;
  }
  if (!rules->is_object()) {
    state.unreadable = true;
    return state;
  }
  long long count = 0;
  for (std::string_view section : _RULE_SECTIONS) {
    const Json& entries = member_or_empty(*rules, std::string(section).c_str());
    if (entries.is_object()) count += static_cast<long long>(entries.size());
  }
  state.count = count;
  return state;
}

std::string generate_session_summary(const path& cache_dir, std::string_view project_id, std::string_view agent_name) {
  std::vector<std::string> lines{"tamrik session context loaded"};
  if (!project_id.empty()) lines.push_back("  project: " + std::string(project_id));
  if (!agent_name.empty()) lines.push_back("  agent: " + std::string(agent_name));
  lines.push_back("  elements: " + std::to_string(count_elements(cache_dir)));
  const RulesCacheState rules = read_rules_cache_state(cache_dir);
  lines.push_back("  rules: " + rules.describe());
  lines.push_back("  specs: " + std::to_string(count_specs(cache_dir)));
  lines.push_back(cache_freshness(cache_dir, rules));
  const size_t pending = count_attestation_log(ledger_for(cache_dir)).size();
  if (pending > 0) {
    lines.push_back(project_id.empty()
                        ? "  " + std::to_string(pending) + " attestation(s) recorded locally, waiting for a project"
                        : "  " + std::to_string(pending) + " attestation(s) pending upload \u2014 run 'tamrik sync'");
  }
  std::string out;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (i > 0) out += "\n";
    out += lines[i];
  }
  return out;
}

void _refresh_local_static_files(const path& repo_root) {
  try {
    const path target = paths::example_attestation(repo_root);
    const std::string_view text = hooks::scripts::example_attestation();
    if (core::try_read_file(target, core::kSmallFileCap) == text) return;
    core::make_dirs(target.parent_path());
    core::replace_file_atomically(target, text, core::Durability::no_flush, core::ReplacedMode::keep_target);
  } catch (const std::exception& e) {
    logger.debug("Failed to refresh example-attestation.yaml", {}, e);
  }
}

}  // namespace tamrik::synccore
