#pragma once
// The project context documents the platform serves, read from a directory
// of YAML and Markdown files at each request (edits show without a
// restart). Without a directory every document is empty.
//
//   rules.yaml           the rules document (principles, adrs, checks, ...)
//   state.yaml           the declarative state
//   guardrails.yaml      a map
//   memories.yaml        a list
//   specs/*.md           one spec per file
//   docs/*.md            one document per file
//   skills/<name>/...    one skill per directory, every file in it
//   systems/<name>.yaml  one system's context per file

#include "core/errors.hpp"
#include "core/json.hpp"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace tamrik::platform {

// A context file that cannot be read or is not what its name promises.
class ContextFileError : public core::Error {
 public:
  explicit ContextFileError(const std::string& message) : core::Error("ContextFileError", message) {}
};

class ContextFiles {
 public:
  explicit ContextFiles(std::optional<std::filesystem::path> dir) : dir_(std::move(dir)) {}

  core::Json rules() const;       // a map; the six empty sections when absent
  core::Json state() const;       // a map
  core::Json specs() const;       // {"specs": [{"name", "content"}]}
  core::Json docs() const;        // {"docs": [{"name", "content"}]}
  core::Json skills() const;      // {"skills": [{"name", "files": {path: text}}]}
  core::Json memories() const;    // {"memories": [...]}
  core::Json guardrails() const;  // {"guardrails": {...}}
  std::vector<std::string> system_names() const;
  // {"systems": {name: map}} for the named systems that exist.
  core::Json systems(const std::vector<std::string>& names) const;

 private:
  std::optional<std::filesystem::path> dir_;
};

// A strong entity tag for a document: a quoted digest of its JSON form.
std::string etag_of(const core::Json& document);

// A name that may name a file in one of the directories: [A-Za-z0-9._-],
// not starting with a dot.
bool is_plain_name(std::string_view name);

}  // namespace tamrik::platform
