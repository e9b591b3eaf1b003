#include "platform/context_files.hpp"

#include "core/file_io.hpp"
#include "core/sha256.hpp"
#include "core/yaml.hpp"

#include <algorithm>

namespace tamrik::platform {

namespace fs = std::filesystem;
using core::Json;

namespace {

// Loads a YAML file; nullopt when it does not exist.
std::optional<Json> load_yaml_file(const fs::path& file) {
  std::error_code error;
  if (!fs::exists(file, error)) return std::nullopt;
  try {
    return core::load_yaml(core::read_file(file, core::kDocumentFileCap));
  } catch (const core::Error& e) {
    throw ContextFileError("context file " + file.string() + " cannot be loaded: " + e.what());
  }
}

// Regular files of a directory, by name, in name order.
std::vector<fs::path> files_in(const fs::path& dir, std::string_view extension) {
  std::vector<fs::path> files;
  std::error_code error;
  if (!fs::is_directory(dir, error)) return files;
  for (const fs::directory_entry& entry : fs::directory_iterator(dir, error)) {
    const std::string name = entry.path().filename().string();
    if (entry.is_regular_file(error) && is_plain_name(name) && entry.path().extension() == extension) {
      files.push_back(entry.path());
    }
  }
  std::sort(files.begin(), files.end());
  return files;
}

Json named_texts(const fs::path& dir) {
  Json list = Json::array();
  for (const fs::path& file : files_in(dir, ".md")) {
    list.push_back({{"name", file.filename().string()}, {"content", core::read_file(file, core::kDocumentFileCap)}});
  }
  return list;
}

Json skill_files(const fs::path& skill_dir) {
  std::vector<fs::path> files;
  std::error_code error;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(skill_dir, error)) {
    if (entry.is_regular_file(error)) files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  Json map = Json::object();
  for (const fs::path& file : files)
    map[file.lexically_relative(skill_dir).string()] = core::read_file(file, core::kDocumentFileCap);
  return map;
}

}  // namespace

bool is_plain_name(std::string_view name) {
  return !name.empty() && name.front() != '.' && std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '_' ||
           c == '-';
  });
}

Json ContextFiles::rules() const {
  const std::optional<Json> loaded = dir_ ? load_yaml_file(*dir_ / "rules.yaml") : std::nullopt;
  if (!loaded) {
    return {{"principles", Json::object()}, {"adrs", Json::object()},        {"checks", Json::object()},
            {"invariants", Json::object()}, {"constraints", Json::object()}, {"guardrails", Json::object()}};
  }
  if (!loaded->is_object()) throw ContextFileError("context file rules.yaml must hold a map");
  return *loaded;
}

Json ContextFiles::state() const {
  const std::optional<Json> loaded = dir_ ? load_yaml_file(*dir_ / "state.yaml") : std::nullopt;
  if (!loaded || loaded->is_null()) return Json::object();
  if (!loaded->is_object()) throw ContextFileError("context file state.yaml must hold a map");
  return *loaded;
}

Json ContextFiles::specs() const { return {{"specs", dir_ ? named_texts(*dir_ / "specs") : Json::array()}}; }

Json ContextFiles::docs() const { return {{"docs", dir_ ? named_texts(*dir_ / "docs") : Json::array()}}; }

Json ContextFiles::skills() const {
  Json list = Json::array();
  std::error_code error;
  if (dir_ && fs::is_directory(*dir_ / "skills", error)) {
    std::vector<fs::path> skill_dirs;
    for (const fs::directory_entry& entry : fs::directory_iterator(*dir_ / "skills", error)) {
      if (entry.is_directory(error) && is_plain_name(entry.path().filename().string())) {
        skill_dirs.push_back(entry.path());
      }
    }
    std::sort(skill_dirs.begin(), skill_dirs.end());
    for (const fs::path& dir : skill_dirs) {
      list.push_back({{"name", dir.filename().string()}, {"files", skill_files(dir)}});
    }
  }
  return {{"skills", list}};
}

Json ContextFiles::memories() const {
  const std::optional<Json> loaded = dir_ ? load_yaml_file(*dir_ / "memories.yaml") : std::nullopt;
  if (!loaded || loaded->is_null()) return {{"memories", Json::array()}};
  if (!loaded->is_array()) throw ContextFileError("context file memories.yaml must hold a list");
  return {{"memories", *loaded}};
}

Json ContextFiles::guardrails() const {
  const std::optional<Json> loaded = dir_ ? load_yaml_file(*dir_ / "guardrails.yaml") : std::nullopt;
  if (!loaded || loaded->is_null()) return {{"guardrails", Json::object()}};
  if (!loaded->is_object()) throw ContextFileError("context file guardrails.yaml must hold a map");
  return {{"guardrails", *loaded}};
}

std::vector<std::string> ContextFiles::system_names() const {
  std::vector<std::string> names;
  if (!dir_) return names;
  for (const fs::path& file : files_in(*dir_ / "systems", ".yaml")) names.push_back(file.stem().string());
  return names;
}

Json ContextFiles::systems(const std::vector<std::string>& names) const {
  Json found = Json::object();
  for (const std::string& name : names) {
    if (!dir_ || !is_plain_name(name)) continue;
    std::optional<Json> loaded = load_yaml_file(*dir_ / "systems" / (name + ".yaml"));
    if (loaded) found[name] = std::move(*loaded);
  }
  return {{"systems", found}};
}

std::string etag_of(const Json& document) {
  return "\"" + core::sha256_hex(core::to_json_compact(document)).substr(0, 32) + "\"";
}

}  // namespace tamrik::platform
