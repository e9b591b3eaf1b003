#pragma once
// What libsynccore.so offers its callers, libattest.so and the tamrik
// executable: the one header they include from it (scripts/check-includes
// holds them to that). exports.map lists the same names for the linker;
// everything else in the library, core and host included, is its own.

// Building blocks with no tamrik knowledge.
#include "core/best_effort.hpp"     // letting a step fail without failing its caller
#include "core/deferred_flush.hpp"  // flushes a hook leaves to a child it does not wait for
#include "core/errors.hpp"          // named errors
#include "core/file_io.hpp"         // bounded reads, atomic replaces, confined writes
#include "core/json.hpp"            // JSON values and member lookups
#include "core/log.hpp"             // debug and warning lines on stderr
#include "core/program_search.hpp"  // finding an executable as a shell would
#include "core/text.hpp"            // trimming, case, line splitting
#include "core/time_text.hpp"       // UTC time as text
#include "core/utf8.hpp"            // UTF-8 one character at a time
#include "core/yaml.hpp"            // YAML at the file boundary

// The machine and the tools around the repository.
#include "host/agents/registry.hpp"              // the agent harnesses and which one is running
#include "host/commands/hook_output.hpp"         // what a hook prints for its harness
#include "host/display/output.hpp"               // the console commands print to
#include "host/hooks/git_hook.hpp"               // tamrik's blocks in git's hooks
#include "host/hooks/installer.hpp"              // what setup puts in place, and takes away
#include "host/hooks/scripts.hpp"                // texts handed to agents
#include "host/paths.hpp"                        // every file tamrik keeps in a repository
#include "host/protocol/http_client.hpp"         // the platform API client
#include "host/services/attestation_fields.hpp"  // an attestation's fields
#include "host/services/checkout.hpp"            // the checkout and its repository home
#include "host/services/credentials.hpp"         // the user's sign-in
#include "host/services/git_identity.hpp"        // who commits here
#include "host/services/gitignore.hpp"           // keeping tamrik's files out of commits
#include "host/services/hook_payload.hpp"        // what a harness hands a hook
#include "host/services/local_config.hpp"        // the repository's local configuration
#include "host/services/session_context.hpp"     // whether this machine can upload
#include "host/services/setup_list.hpp"          // the repositories set up on this machine
#include "host/services/shared.hpp"              // small shared services

// The record.
#include "synccore/attestation_archive.hpp"  // attestations of recorded commits
#include "synccore/capture.hpp"              // recording a commit, from every trigger
#include "synccore/catch_up.hpp"             // the walk that records what was missed
#include "synccore/git.hpp"                  // the git questions synccore asks
#include "synccore/ledger.hpp"               // the ledger and its writers
#include "synccore/ledger_stats.hpp"         // `tamrik stats`' numbers
#include "synccore/ledger_view.hpp"          // the ledger read for people
#include "synccore/pending.hpp"              // the pending attestation
#include "synccore/project.hpp"              // which platform project the records go to
#include "synccore/record_filter.hpp"        // which records a person asked to see
#include "synccore/recorded_commits.hpp"     // commits beside their records
#include "synccore/rewritten_history.hpp"    // carrying records across amends and rebases
#include "synccore/rules_cache.hpp"          // the cached project rules
#include "synccore/sync.hpp"                 // the sync run
#include "synccore/too_large.hpp"            // records too large for the platform
#include "synccore/upload.hpp"               // uploading pending records
