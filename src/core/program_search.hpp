#pragma once
// Finding an executable the way a shell would, before deciding to run it.

#include <filesystem>
#include <optional>
#include <string_view>

namespace tamrik::core {

// The first executable regular file named `program` in the absolute
// directories of PATH, or nullopt (also when PATH is unset). Empty and
// relative entries are passed over, unlike a shell: they would name a
// directory of the repository tamrik runs in. A name holding a slash is
// not searched for.
std::optional<std::filesystem::path> find_on_path(std::string_view program);

}  // namespace tamrik::core
