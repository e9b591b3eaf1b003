#include "host/hooks/scripts.hpp"

namespace tamrik::hooks::scripts {

namespace {

// The keys in the order `tamrik attest` writes them.
constexpr std::string_view kExampleAttestation = R"(---
# Attestation of the change you are about to commit. Write it with
# `tamrik attest` right before `git commit`; each flag fills one field.
# Developer identity, agent session id and telemetry are filled in after the
# commit: do not write them.

# SHA-256 of the staged diff:
#   git diff --staged | shasum -a 256 | cut -d' ' -f1
staged_diff_hash: 50d858e0985ecc7f60418aaf0cc5ab587f42c2570a884095a9e8ccacd0f6545c
# UTC, to the second. Left out, the current time is used.
timestamp: '2025-01-15T14:30:00Z'
agent_model: claude-opus-4-6
# Optional: filled in from the active agent when left out.
agent: claude-code
agent_provider: anthropic
# Where the request came from: spec, ticket, bug-fix or ad-hoc; `ref` names it.
provenance:
  type: ticket
  ref: PROJ-142
# What kind of change this is: feature, bug-fix, refactor, docs, test or chore.
task_type: feature
# The project rules you checked the change against.
rules:
  checked: true
  applicable:
    - public-api-errors-use-problem-json
    - every-endpoint-has-an-integration-test
# What changed in the system. Change primitives: architecture, data_model,
# api, dependencies, configuration. Architecture elements are added,
# modified or removed, each with the facts it adds, updates or removes.
changes:
  architecture:
    elements:
      - name: RateLimiter
        change: added
        description: Token-bucket limiter in front of the public API
        fact_changes:
          add:
            - Public API requests are limited to 100 per minute per API key
          update: []
          remove: []
      - name: ApiGateway
        change: modified
        description: Calls the RateLimiter before routing a request
        fact_changes:
          add: []
          update:
            - A rejected request answers 429 with a Retry-After header
          remove: []
# One line: the impact of the change.
summary: Rate-limit the public API per API key
---
)";

}  // namespace

std::string_view example_attestation() { return kExampleAttestation; }

}  // namespace tamrik::hooks::scripts
