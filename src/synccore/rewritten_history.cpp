#include "synccore/rewritten_history.hpp"

#include "core/file_io.hpp"
#include "core/json.hpp"
#include "core/yaml.hpp"
#include "host/paths.hpp"
#include "synccore/capture.hpp"
#include "synccore/ledger.hpp"
#include "synccore/ledger_text.hpp"

#include <algorithm>
#include <array>
#include <map>
#include <optional>
#include <utility>

namespace tamrik::synccore {

namespace {

using core::Json;

// What names who made a commit, on a ledger line and in its archive.
constexpr std::array<const char*, 6> kAttributionKeys = {
    "agent", "agent_provider", "agent_id", "agent_session_id", "agent_model", "telemetry"};

bool names_an_agent(const Json& entry) {
  const std::string agent = core::get_text(entry, "agent");
  return !agent.empty() && agent != "unknown";
}

std::vector<std::string> texts_of(const Json& entry, const char* key) {
  std::vector<std::string> texts;
  const auto list = entry.find(key);
  if (list == entry.end() || !list->is_array()) return texts;
  for (const Json& item : *list) {
    if (item.is_string()) texts.push_back(item.get<std::string>());
  }
  return texts;
}

path archive_of(const path& home, const std::string& commit) {
  return paths::attestations_dir(home) / (commit + ".yaml");
}

// A commit's archived document; nullopt when it is missing or unreadable.
std::optional<Json> read_archive(const path& home, const std::string& commit) {
  const std::optional<std::string> text = core::try_read_file(archive_of(home, commit), core::kDocumentFileCap);
  if (!text) return std::nullopt;
  Json document = _parse_attestation_yaml(*text);
  if (!document.is_object() || document.empty()) return std::nullopt;
  return document;
}

// The attestations a record holds, in history order: the list its archive
// keeps when it carries several, else the archive itself; none for a record
// without an attestation.
std::vector<Json> attestations_of(const path& home, const Json& entry) {
  if (!_carries_attestation(entry)) return {};
  std::optional<Json> document = read_archive(home, core::get_text(entry, "commit"));
  if (!document) return {};
  const auto listed = document->find("attestations");
  if (listed != document->end() && listed->is_array()) return std::vector<Json>(listed->begin(), listed->end());
  return {std::move(*document)};
}

void copy_keys(Json& to, const Json& from) {
  for (const char* key : kAttributionKeys) {
    to.erase(key);
    if (core::is_set(from, key)) to[key] = from[key];
  }
}

struct CarriedRecord {
  Json line;
  std::optional<Json> archive;  // nullopt: the archive stays as it is
};

// The attestations the new commit's record is to carry, in history order,
// with the record that holds the first. `sources` are the records of the
// commits it was made from, in history order; those it carried before
// (`linked`) are already in its own record, which takes the place of the
// first of them, or else comes last (its own attestation, if any).
std::pair<std::vector<Json>, const Json*> attestations_in_order(const path& home, const Json& current,
                                                                const std::vector<Json>& sources,
                                                                const std::vector<std::string>& linked) {
  std::vector<Json> attestations;
  const Json* first = nullptr;
  bool current_placed = false;
  const auto add = [&](const Json& record) {
    std::vector<Json> held = attestations_of(home, record);
    if (!held.empty() && first == nullptr) first = &record;
    attestations.insert(attestations.end(), held.begin(), held.end());
  };
  for (const Json& source : sources) {
    if (std::find(linked.begin(), linked.end(), core::get_text(source, "commit")) == linked.end()) {
      add(source);
    } else if (!current_placed) {
      add(current);
      current_placed = true;
    }
  }
  if (!current_placed) add(current);
  return {std::move(attestations), first};
}

// The new commit's record made from its own (`current`) and the records of
// the commits it was made from (`sources`, in history order), some of which
// it may have carried before.
CarriedRecord carried_record(const path& home, const Json& current, const std::vector<Json>& sources,
                             const char* link) {
  const std::vector<std::string> linked = texts_of(current, link);
  auto [attestations, first_attested] = attestations_in_order(home, current, sources, linked);

  const std::string commit = core::get_text(current, "commit");
  CarriedRecord carried{.line = first_attested != nullptr ? *first_attested : current};
  Json& line = carried.line;
  line["commit"] = commit;
  line["branch"] = current.contains("branch") ? current["branch"] : Json("");
  for (const char* key : {"synced", "uploaded", "rewritten_to", "rewritten_from", "cherry_picked_from"})
    line.erase(key);
  line["synced"] = false;
  for (const char* key : {"rewritten_from", "cherry_picked_from"}) {
    if (current.contains(key)) line[key] = current[key];
  }
  std::vector<std::string> links = linked;
  for (const Json& source : sources) {
    const std::string from = core::get_text(source, "commit");
    if (std::find(links.begin(), links.end(), from) == links.end()) links.push_back(from);
  }
  line[link] = links;

  if (!attestations.empty()) {
    carried.archive = attestations.front();
    if (attestations.size() > 1) (*carried.archive)["attestations"] = attestations;
    return carried;
  }
  // No attestation to carry: the agent that made the old commit still made
  // the change.
  const auto named = std::find_if(sources.begin(), sources.end(), names_an_agent);
  if (named == sources.end()) return carried;
  copy_keys(line, *named);
  std::optional<Json> document = read_archive(home, commit);
  const std::optional<Json> source_document = read_archive(home, core::get_text(*named, "commit"));
  if (document && source_document) {
    copy_keys(*document, *source_document);
    carried.archive = std::move(document);
  }
  return carried;
}

// The new commit's ledger entry, recording the commit first when no trigger
// has; nullopt when it cannot be recorded.
std::optional<Json> entry_of_new_commit(const Checkout& checkout, const std::string& commit,
                                        const std::map<std::string, Json>& entries) {
  if (const auto found = entries.find(commit); found != entries.end()) return found->second;
  capture_commit(checkout, commit, {.source = "post_rewrite", .consume_pending = false});
  std::map<std::string, Json> recorded = _find_log_entries(paths::log_jsonl(checkout.home), {commit});
  if (recorded.empty()) return std::nullopt;
  return recorded.begin()->second;
}

}  // namespace

std::vector<MadeFrom> parse_rewritten_list(std::string_view text) {
  std::vector<MadeFrom> made;
  for (std::string_view line : detail::split_lines(text)) {
    line = detail::trim(line);
    const size_t gap = line.find(' ');
    if (gap == std::string_view::npos) continue;
    const std::string old_commit(line.substr(0, gap));
    std::string_view rest = line.substr(gap + 1);
    const std::string new_commit(rest.substr(0, rest.find(' ')));
    if (!_is_valid_commit_hash(old_commit) || !_is_valid_commit_hash(new_commit) || old_commit == new_commit) continue;
    auto into = std::find_if(made.begin(), made.end(), [&](const MadeFrom& m) { return m.commit == new_commit; });
    if (into == made.end()) into = made.insert(made.end(), MadeFrom{.commit = new_commit});
    if (std::find(into->from.begin(), into->from.end(), old_commit) == into->from.end())
      into->from.push_back(old_commit);
  }
  return made;
}

bool carry_records(const Checkout& checkout, const std::vector<MadeFrom>& made, CarryKind kind) {
  const path& home = checkout.home;
  const char* link = kind == CarryKind::rewrite ? "rewritten_from" : "cherry_picked_from";
  const path log_path = paths::log_jsonl(home);
  std::vector<std::string> wanted;
  for (const MadeFrom& m : made) {
    wanted.push_back(m.commit);
    wanted.insert(wanted.end(), m.from.begin(), m.from.end());
  }
  std::map<std::string, Json> entries = _find_log_entries(log_path, wanted);

  std::vector<Json> lines;  // new records and marked old ones, rewritten in one pass
  std::map<std::string, std::optional<std::string>> archives_before;  // to put back when a line stays
  for (const MadeFrom& m : made) {
    std::vector<Json> sources;
    for (const std::string& old_commit : m.from) {
      if (const auto found = entries.find(old_commit); found != entries.end() && old_commit != m.commit) {
        sources.push_back(found->second);
      }
    }
    if (sources.empty()) continue;  // nothing recorded to carry
    const std::optional<Json> current = entry_of_new_commit(checkout, m.commit, entries);
    if (!current) continue;
    const std::vector<std::string> linked = texts_of(*current, link);
    const bool carried_before = std::all_of(sources.begin(), sources.end(), [&](const Json& source) {
      return std::find(linked.begin(), linked.end(), core::get_text(source, "commit")) != linked.end();
    });
    if (carried_before) continue;

    CarriedRecord carried = carried_record(home, *current, sources, link);
    if (carried.archive) {
      const path archive = archive_of(home, m.commit);
      archives_before[m.commit] = core::try_read_file(archive, core::kDocumentFileCap);
      core::make_dirs(archive.parent_path());
      core::replace_file_atomically(archive, core::emit_yaml(*carried.archive), core::Durability::flush,
                                    core::ReplacedMode::keep_target);
    }
    lines.push_back(std::move(carried.line));
    if (kind != CarryKind::rewrite) continue;
    for (Json& source : sources) {
      if (core::get_text(source, "rewritten_to") == m.commit) continue;
      source["rewritten_to"] = m.commit;
      lines.push_back(std::move(source));
    }
  }

  const std::vector<std::string> replaced = _replace_log_entries(log_path, lines);
  // An archive must go with its line: where the line could not be rewritten
  // (the lock was busy), the archive goes back to what it was.
  for (const auto& [commit, before] : archives_before) {
    if (std::find(replaced.begin(), replaced.end(), commit) != replaced.end()) continue;
    if (before) {
      core::replace_file_atomically(archive_of(home, commit), *before, core::Durability::flush,
                                    core::ReplacedMode::keep_target);
    } else {
      core::remove_file(archive_of(home, commit));
    }
  }
  return !replaced.empty();
}

}  // namespace tamrik::synccore
