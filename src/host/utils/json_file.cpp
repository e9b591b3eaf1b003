#include "host/utils/json_file.hpp"

#include "core/errors.hpp"
#include "host/utils/user_file.hpp"

namespace tamrik::utils::json_file {

namespace {

constexpr std::string_view kEmpty = "{}\n";

bool is_blank(const std::string& text) { return text.find_first_not_of(" \t\r\n") == std::string::npos; }

}  // namespace

core::JsonTextEditor open(const std::filesystem::path& file) {
  const std::optional<std::string> text = user_file::read_if_exists(file);
  if (!text || is_blank(*text)) return core::JsonTextEditor(std::string(kEmpty));
  try {
    return core::JsonTextEditor(*text);
  } catch (const core::JSONDecodeError&) {
    throw core::JSONDecodeError(file.string() +
                                " is not a JSON object; fix it (or move it away), then run `tamrik setup` again");
  }
}

bool save(const std::filesystem::path& file, const core::JsonTextEditor& editor, mode_t mode_when_new,
          bool remove_when_empty) {
  const std::optional<std::string> before = user_file::read_if_exists(file);
  const std::string& after = editor.text();
  if (before ? *before == after : after == kEmpty) return false;
  std::error_code error;
  if (remove_when_empty && editor.get({}) == core::Json::object() && !std::filesystem::is_symlink(file, error)) {
    if (!before) return false;
    user_file::remove(file);
    return true;
  }
  user_file::replace(file, after, mode_when_new);
  return true;
}

}  // namespace tamrik::utils::json_file
