#pragma once
// Entries and hashes for ledger tests.

#include "core/json.hpp"
#include "core/sha256.hpp"

#include <string>

namespace tamrik::testing {

// A well-formed 40-digit hash derived from `n`.
inline std::string fake_sha(int n) { return core::sha256_hex("commit " + std::to_string(n)).substr(0, 40); }

inline core::Json ledger_entry(const std::string& commit, bool synced = false) {
  core::Json entry = core::Json::object();
  entry["commit"] = commit;
  entry["branch"] = "main";
  entry["timestamp"] = "2024-05-01T10:00:00Z";
  entry["agent"] = "claude-code";
  entry["summary"] = "Add the login form";
  entry["synced"] = synced;
  return entry;
}

}  // namespace tamrik::testing
