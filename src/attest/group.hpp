#pragma once
// `tamrik attest`: check that the staged diff is the one the agent
// described, build the attestation document from the flags, and write it as
// the pending attestation for the commit hooks to file.

#include "synccore/synccore.hpp"

#include <optional>
#include <string>

namespace tamrik::attest {

// Flag values; an absent option is nullopt, an empty value is "".
struct AttestOptions {
  bool show_example = false;
  std::optional<std::string> staged_diff_hash;
  std::optional<std::string> agent;
  std::optional<std::string> provider;
  std::optional<std::string> model;
  std::optional<std::string> summary;
  std::optional<std::string> agent_id;
  std::optional<std::string> rules;
  std::optional<std::string> arch_changes;
  std::optional<std::string> provenance;
  std::optional<std::string> task_type;  // already checked against VALID_TASK_TYPES
  std::optional<std::string> timestamp;
  bool no_verify = false;
};

// The exit status: 0 written (or --example), 1 for a failure reported on
// the console. Failures of git, of the file system and of other components
// propagate.
int run_attest(const AttestOptions& options, const display::output::Console& console);

}  // namespace tamrik::attest
