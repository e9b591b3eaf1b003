#include "host/hooks/claude_code_hooks.hpp"

#include "core/json.hpp"
#include "host/hooks/shell_words.hpp"
#include "host/utils/user_file.hpp"

#include <string>
#include <string_view>

namespace tamrik::hooks::installer {

namespace {

using core::Json;
namespace user_file = utils::user_file;

Json handler_for(const HookRow& row, const path& program) {
  Json handler = Json::object();
  handler["type"] = "command";
  handler["command"] = shell_quote(program.string()) + " " + std::string(row.arguments);
  if (!row.if_filter.empty()) handler["if"] = std::string(row.if_filter);
  handler["timeout"] = row.timeout_seconds;
  return handler;
}

// obj[key] when obj is an object holding it, else nullptr.
template <typename J>
J* member(J& obj, std::string_view key) {
  if (!obj.is_object()) return nullptr;
  const auto it = obj.find(key);
  return it == obj.end() ? nullptr : &*it;
}

bool is_ours(const Json& handler, const HookRow& row) {
  if (!handler.is_object()) return false;
  const std::vector<std::string> words = split_words(core::get_text(handler, "command"));
  if (words.empty() || path(words[0]).filename() != "tamrik") return false;
  return std::vector<std::string>(words.begin() + 1, words.end()) == split_words(row.arguments);
}

Json load_settings(const path& file) {
  const std::optional<std::string> text = user_file::read_if_exists(file);
  if (!text || text->find_first_not_of(" \t\r\n") == std::string::npos) return Json::object();
  std::optional<Json> settings = core::parse_json(*text);
  if (!settings || !settings->is_object()) {
    throw SettingsFormatError(file.string() + " is not a JSON object; fix it (or move it away), then run `tamrik setup` again");
  }
  return std::move(*settings);
}

// The list of matcher groups of `event`, created when missing.
Json& groups_of(Json& settings, std::string_view event, const path& file) {
  Json& hooks = settings["hooks"];
  if (hooks.is_null()) hooks = Json::object();
  if (!hooks.is_object()) throw SettingsFormatError(file.string() + ": \"hooks\" is not an object; fix it, then run `tamrik setup` again");
  Json& groups = hooks[std::string(event)];
  if (groups.is_null()) groups = Json::array();
  if (!groups.is_array()) {
    throw SettingsFormatError(file.string() + ": \"hooks\"." + std::string(event) +
                              " is not a list; fix it, then run `tamrik setup` again");
  }
  return groups;
}

struct Rewrite {
  bool replaced = false;  // a handler of ours now holds the replacement
  bool removed = false;   // handlers of ours were taken out
};

// Walks the groups of one event: our first handler in a group with the
// row's matcher becomes `replacement` (when given); every other handler of
// ours goes, and so does a group we empty.
Rewrite rewrite_ours(Json& groups, const HookRow& row, const Json* replacement) {
  Rewrite rewrite;
  for (auto group = groups.begin(); group != groups.end();) {
    Json* handlers = member(*group, "hooks");
    if (handlers == nullptr || !handlers->is_array()) {
      ++group;
      continue;
    }
    const bool matcher_fits = core::get_text(*group, "matcher") == row.matcher;
    bool emptied_here = false;
    for (auto handler = handlers->begin(); handler != handlers->end();) {
      if (!is_ours(*handler, row)) {
        ++handler;
      } else if (replacement != nullptr && !rewrite.replaced && matcher_fits) {
        *handler = *replacement;
        rewrite.replaced = true;
        ++handler;
      } else {
        handler = handlers->erase(handler);
        rewrite.removed = true;
        emptied_here = handlers->empty();
      }
    }
    group = emptied_here ? groups.erase(group) : group + 1;
  }
  return rewrite;
}

void write_settings(const path& file, const Json& settings) {
  user_file::replace(file, settings.dump(2, ' ', false, Json::error_handler_t::replace) + "\n", 0644);
}

}  // namespace

bool install_hook_rows(const path& file, std::span<const HookRow> rows, const path& program) {
  const Json before = load_settings(file);
  Json settings = before;
  for (const HookRow& row : rows) {
    Json& groups = groups_of(settings, row.event, file);
    const Json handler = handler_for(row, program);
    if (!rewrite_ours(groups, row, &handler).replaced) {
      Json group = Json::object();
      group["matcher"] = std::string(row.matcher);
      group["hooks"] = Json::array({handler});
      groups.push_back(std::move(group));
    }
  }
  if (settings == before && user_file::read_if_exists(file)) return false;
  write_settings(file, settings);
  return true;
}

bool uninstall_hook_rows(const path& file, std::span<const HookRow> rows) {
  if (!user_file::read_if_exists(file)) return false;
  Json settings = load_settings(file);
  Json* hooks = member(settings, "hooks");
  if (hooks == nullptr || !hooks->is_object()) return false;
  bool changed = false;
  for (const HookRow& row : rows) {
    Json* groups = member(*hooks, row.event);
    if (groups == nullptr || !groups->is_array() || !rewrite_ours(*groups, row, nullptr).removed) continue;
    changed = true;
    if (groups->empty()) hooks->erase(std::string(row.event));
  }
  if (!changed) return false;
  if (hooks->empty()) settings.erase("hooks");
  if (settings.empty()) {
    user_file::remove(file);
  } else {
    write_settings(file, settings);
  }
  return true;
}

bool hook_rows_installed(const path& file, std::span<const HookRow> rows) {
  try {
    const Json settings = load_settings(file);
    const Json* hooks = member(settings, "hooks");
    for (const HookRow& row : rows) {
      const Json* groups = hooks != nullptr ? member(*hooks, row.event) : nullptr;
      if (groups == nullptr || !groups->is_array()) return false;
      bool found = false;
      for (const Json& group : *groups) {
        const Json* handlers = member(group, "hooks");
        if (handlers == nullptr || !handlers->is_array() || core::get_text(group, "matcher") != row.matcher) continue;
        for (const Json& handler : *handlers) found = found || is_ours(handler, row);
      }
      if (!found) return false;
    }
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace tamrik::hooks::installer
