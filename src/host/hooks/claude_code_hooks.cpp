#include "host/hooks/claude_code_hooks.hpp"

#include "core/json.hpp"
#include "host/hooks/shell_words.hpp"
#include "host/utils/json_file.hpp"
#include "host/utils/user_file.hpp"

#include <string>
#include <string_view>

namespace tamrik::hooks::installer {

namespace {

using core::Json;
namespace json_file = utils::json_file;
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

core::JsonTextEditor open_settings(const path& file) {
  try {
    return json_file::open(file);
  } catch (const core::JSONDecodeError& e) {
    throw SettingsFormatError(e.what());
  }
}

// The groups of `event`, checked for the shape the harness reads: `hooks`
// an object, the event's entry a list. Empty when there are none yet.
Json groups_of(const core::JsonTextEditor& settings, std::string_view event, const path& file) {
  const std::optional<Json> hooks = settings.get({"hooks"});
  if (hooks && !hooks->is_object()) {
    throw SettingsFormatError(file.string() + ": \"hooks\" is not an object; fix it, then run `tamrik setup` again");
  }
  const std::optional<Json> groups = settings.get({"hooks", std::string(event)});
  if (groups && !groups->is_array()) {
    throw SettingsFormatError(file.string() + ": \"hooks\"." + std::string(event) +
                              " is not a list; fix it, then run `tamrik setup` again");
  }
  return groups.value_or(Json::array());
}

struct Place {
  size_t group;
  size_t handler;
};

// Where our handlers of `row` are, in the file's order.
std::vector<Place> ours_in(const Json& groups, const HookRow& row) {
  std::vector<Place> places;
  for (size_t g = 0; g < groups.size(); ++g) {
    const Json* handlers = member(groups[g], "hooks");
    if (handlers == nullptr || !handlers->is_array()) continue;
    for (size_t h = 0; h < handlers->size(); ++h) {
      if (is_ours((*handlers)[h], row)) places.push_back({g, h});
    }
  }
  return places;
}

core::JsonPath group_path(std::string_view event, size_t group) { return {"hooks", std::string(event), group}; }

// Removes our handlers at `places` except `keep`, last first so the places
// before stay valid; a group left without handlers goes with them.
void remove_ours(core::JsonTextEditor& settings, std::string_view event, const std::vector<Place>& places,
                 std::optional<size_t> keep) {
  for (size_t i = places.size(); i-- > 0;) {
    if (keep && *keep == i) continue;
    const Place& place = places[i];
    core::JsonPath handler = group_path(event, place.group);
    handler.insert(handler.end(), {"hooks", place.handler});
    settings.remove(handler);
    const bool last_in_group = i == 0 || places[i - 1].group != place.group;
    if (last_in_group && settings.get(group_path(event, place.group))->at("hooks").empty()) {
      settings.remove(group_path(event, place.group));
    }
  }
}

void remove_if_empty(core::JsonTextEditor& settings, const core::JsonPath& at) {
  const std::optional<Json> value = settings.get(at);
  if (value && value->empty()) settings.remove(at);
}

}  // namespace

bool install_hook_rows(const path& file, std::span<const HookRow> rows, const path& program) {
  core::JsonTextEditor settings = open_settings(file);
  for (const HookRow& row : rows) {
    const Json groups = groups_of(settings, row.event, file);
    const std::vector<Place> places = ours_in(groups, row);
    // Our first handler in a group with the row's matcher stays, and only
    // its command (the program may have moved) is ours to set: keys the
    // person added to it are theirs.
    std::optional<size_t> keep;
    for (size_t i = 0; i < places.size() && !keep; ++i) {
      if (core::get_text(groups[places[i].group], "matcher") == row.matcher) keep = i;
    }
    const Json handler = handler_for(row, program);
    if (keep) {
      core::JsonPath command = group_path(row.event, places[*keep].group);
      command.insert(command.end(), {"hooks", places[*keep].handler, "command"});
      if (settings.get(command) != handler["command"]) settings.replace(command, handler["command"]);
    }
    remove_ours(settings, row.event, places, keep);
    if (keep) continue;
    Json group = Json::object();
    group["matcher"] = std::string(row.matcher);
    group["hooks"] = Json::array({handler});
    if (!settings.get({"hooks"})) {
      settings.set_member({}, "hooks", Json{{std::string(row.event), Json::array({group})}});
    } else if (!settings.get({"hooks", std::string(row.event)})) {
      settings.set_member({"hooks"}, std::string(row.event), Json::array({group}));
    } else {
      settings.append({"hooks", std::string(row.event)}, group);
    }
  }
  return json_file::save(file, settings, 0644);
}

bool uninstall_hook_rows(const path& file, std::span<const HookRow> rows) {
  if (!user_file::read_if_exists(file)) return false;
  core::JsonTextEditor settings = open_settings(file);
  const std::optional<Json> hooks = settings.get({"hooks"});
  if (!hooks || !hooks->is_object()) return false;
  for (const HookRow& row : rows) {
    const std::optional<Json> groups = settings.get({"hooks", std::string(row.event)});
    if (!groups || !groups->is_array()) continue;
    const std::vector<Place> places = ours_in(*groups, row);
    if (places.empty()) continue;
    remove_ours(settings, row.event, places, std::nullopt);
    remove_if_empty(settings, {"hooks", std::string(row.event)});
  }
  remove_if_empty(settings, {"hooks"});
  return json_file::save(file, settings, 0644, true);
}

bool hook_rows_installed(const path& file, std::span<const HookRow> rows) {
  try {
    const Json settings = *open_settings(file).get({});
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
