#include "host/services/ledger_service.hpp"

#include "core/file_io.hpp"
#include "core/file_lock.hpp"
#include "core/text.hpp"
#include "core/time_text.hpp"
#include "host/paths.hpp"

#include <algorithm>
#include <stdexcept>

namespace tamrik::services::ledger_service {

namespace {

path slug_ledger(const path& repo_root, std::string_view slug) {
  if (!paths::is_safe_slug(slug)) throw std::invalid_argument("unsafe change slug");
  return paths::ledger_jsonl(repo_root, slug);
}

path pointers_file(const path& repo_root) { return paths::tamrik_dir(repo_root) / "ledgers" / "pointers.json"; }

// The events of a live ledger that parse as objects, in order.
std::vector<Json> read_events(const path& ledger) {
  std::vector<Json> events;
  const std::optional<std::string> text = core::try_read_file(ledger, core::kDocumentFileCap);
  if (!text) return events;
  for (std::string_view line : core::lines_of(*text)) {
    if (std::optional<Json> event = core::parse_json(line)) {
      if (event->is_object()) events.push_back(std::move(*event));
    }
  }
  return events;
}

void write_pointers(const path& repo_root, const Json& pointers) {
  core::make_dirs(pointers_file(repo_root).parent_path());
  core::replace_file_atomically(pointers_file(repo_root), core::to_json_line(pointers) + "\n", core::Durability::flush,
                                core::ReplacedMode::keep_target);
}

}  // namespace

bool is_sealed(const path& repo_root, std::string_view slug) {
  const std::vector<Json> events = read_events(slug_ledger(repo_root, slug));
  return std::any_of(events.begin(), events.end(),
                     [](const Json& event) { return core::get_text(event, "milestone") == "sealed"; });
}

void mark_milestone(const path& repo_root, std::string_view slug, std::string_view milestone, const Json& evidence) {
  const path ledger = slug_ledger(repo_root, slug);
  core::make_dirs(ledger.parent_path());
  Json event = Json::object();
  event["milestone"] = milestone;
  event["timestamp"] = core::utc_now_text();
  event["evidence"] = evidence;
  const core::LockGuard guard = core::locked(ledger);
  core::append_line(ledger, core::to_json_line(event) + "\n");
}

Json read_pointers(const path& repo_root) {
  const std::optional<std::string> text = core::try_read_file(pointers_file(repo_root), core::kSmallFileCap);
  std::optional<Json> pointers = text ? core::parse_json(*text) : std::nullopt;
  return pointers && pointers->is_object() ? *pointers : Json::object();
}

void set_pointer(const path& repo_root, std::string_view name, std::string_view slug) {
  slug_ledger(repo_root, slug);  // refuses an unsafe slug
  Json pointers = read_pointers(repo_root);
  pointers[std::string(name)] = slug;
  write_pointers(repo_root, pointers);
}

void clear_pointers_for_slug(const path& repo_root, std::string_view slug) {
  Json pointers = read_pointers(repo_root);
  const Json kept = core::filter_members(
      pointers, [&](const Json& value) { return !value.is_string() || value.get_ref<const std::string&>() != slug; });
  if (kept.size() != pointers.size()) write_pointers(repo_root, kept);
}

std::optional<Json> derive_process_section(const path& repo_root, std::string_view slug) {
  const std::vector<Json> events = read_events(slug_ledger(repo_root, slug));
  if (events.empty()) return std::nullopt;
  Json milestones = Json::array();
  for (const Json& event : events) {
    const std::string name = core::get_text(event, "milestone");
    if (!name.empty() && std::find(milestones.begin(), milestones.end(), name) == milestones.end()) {
      milestones.push_back(name);
    }
  }
  Json section = Json::object();
  section["slug"] = slug;
  section["milestones"] = milestones;
  section["events"] = events.size();
  section["started_at"] = core::get_text(events.front(), "timestamp");
  section["updated_at"] = core::get_text(events.back(), "timestamp");
  return section;
}

}  // namespace tamrik::services::ledger_service
