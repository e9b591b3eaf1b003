#pragma once
// The local cache of a project's context, which agents read at session
// start. It lives in the platform directory (.tamrik/.platform):
//
//   tamrikrules.yaml    the rules (principles, adrs, checks, ...)
//   tamrikstate.yaml    the declarative state (architecture.elements, ...)
//   context.yaml        the project and the context of its systems
//   memories.yaml       a list
//   guardrails.yaml     a map
//   specs/<name>        one cached file per change spec
//   docs/<name>         one file per custom document
//   skills/<name>/...   one directory per skill, every file of it
//
// and the local configuration records the last fetch of each document:
//
//   cache.fetch_status.<document>   its HTTP status; 0 when no answer came
//   cache.etags.<document>          the entity tag of the cached copy
//
// Files are replaced one by one, each atomically, so a reader never sees
// half a file. Names from the platform are checked before they name a file.

#include "core/json.hpp"

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tamrik::services::context_cache {

using core::Json;
using std::filesystem::path;

// The documents, by the name the configuration records them under.
inline constexpr std::string_view RULES = "tamrikrules";
inline constexpr std::string_view STATE = "tamrikstate";
inline constexpr std::string_view CONTEXT = "context";
inline constexpr std::string_view MEMORIES = "memories";
inline constexpr std::string_view GUARDRAILS = "guardrails";
inline constexpr std::string_view SPECS = "specs";
inline constexpr std::string_view CUSTOM_DOCS = "custom_docs";
inline constexpr std::string_view SKILLS = "skills";

// The outcome of one document's fetch.
struct Document {
  int status = 0;                   // HTTP status; 0 when no answer came
  std::optional<std::string> etag;  // the tag of the copy a 200 or 304 speaks of
  // With status 200, the document in its cached form: a map for the rules,
  // state, context and guardrails; a list for the memories; a list of
  // {"name", "content"} for specs and custom docs; a list of {"name",
  // "files": {relative path: text}} for skills. Null otherwise.
  Json content;
};
using Documents = std::map<std::string, Document, std::less<>>;

// A file the platform named: `name` is a relative path that stays inside
// its directory.
struct NamedText {
  path name;
  std::string text;
};

struct Skill {
  std::string name;
  std::vector<NamedText> files;
};

// The skills of a `skills` document with usable names; entries or files
// whose names could leave their directory are left out.
std::vector<Skill> skills_of(const Json& content);

// The tags of earlier fetches, by document, for the documents whose cached
// copy is still on disk: a tag sent for a copy that is gone would earn a
// 304 and leave the cache empty. Throws what load_local_config throws.
std::map<std::string, std::string> stored_etags(const path& repo_root);

// Writes the cache file (or directory) of each document fetched with 200;
// a document answered 304 keeps its copy, whose modification time is set
// to now (the platform has just confirmed it); any other outcome leaves
// the copy alone. Throws OSError.
void write_documents(const path& repo_root, const Documents& documents);

// Records each document's status, and its tag when a 200 or 304 gave one,
// in the local configuration, keeping everything else in it. Throws
// OSError, or what load_local_config throws.
void record_fetches(const path& repo_root, const Documents& documents);

}  // namespace tamrik::services::context_cache
