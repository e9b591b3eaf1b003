#pragma once
// Change ledgers: the live, per-change ledger of work in flight
// (.tamrik/ledgers/<slug>.jsonl), one JSON line per event:
//
//   {"milestone": "<name>", "timestamp": "<UTC>", "evidence": {...}}
//
// and the pointers file (.tamrik/ledgers/pointers.json), a JSON object that
// maps a name (a session, a branch) to the slug it is working on. A change
// is sealed once its ledger holds a "sealed" milestone; the commit that
// completes it then archives the ledger beside its attestation.
//
// Every slug must pass paths::is_safe_slug; operations given another one
// throw std::invalid_argument rather than build a path from it.

#include "core/json.hpp"

#include <filesystem>
#include <optional>
#include <string_view>

namespace tamrik::services::ledger_service {

using core::Json;
using std::filesystem::path;

bool is_sealed(const path& repo_root, std::string_view slug);

// Appends a milestone event to the slug's live ledger (creating it), under
// the ledger's lock. Throws OSError.
void mark_milestone(const path& repo_root, std::string_view slug, std::string_view milestone, const Json& evidence);

// Removes every pointer to `slug`. A missing pointers file is fine.
void clear_pointers_for_slug(const path& repo_root, std::string_view slug);

// Points `name` at `slug` (for the commands that start work on a change).
void set_pointer(const path& repo_root, std::string_view name, std::string_view slug);
Json read_pointers(const path& repo_root);

// The `process` section of an attestation, derived from the slug's live
// ledger: slug, milestones (in order, without repeats), events (count),
// started_at and updated_at (first and last timestamps). nullopt when the
// ledger is missing or holds no event.
std::optional<Json> derive_process_section(const path& repo_root, std::string_view slug);

}  // namespace tamrik::services::ledger_service
