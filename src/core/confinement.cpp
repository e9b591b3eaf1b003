#include "core/confinement.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <vector>

#include "core/errors.hpp"

namespace tamrik::core {

namespace fs = std::filesystem;

namespace {

// A repository's directory depth is small; a path deeper than this below a
// confined directory is refused rather than walked.
constexpr size_t kMaxConfinedDepth = 32;

struct Registry {
  std::mutex mutex;
  std::vector<fs::path> dirs;
};

Registry& registry() {
  static Registry instance;
  return instance;
}

// Absolute, normal, and without a trailing separator ("dir/" names "dir").
fs::path normal_absolute(const fs::path& file) {
  std::error_code ec;
  fs::path absolute = fs::absolute(file, ec);
  fs::path normal = (ec ? file : absolute).lexically_normal();
  if (!normal.has_filename() && normal.has_relative_path()) normal = normal.parent_path();
  return normal;
}

// The confined directory `file` is at or below, or nullopt.
std::optional<fs::path> confining_dir(const fs::path& file) {
  Registry& r = registry();
  const std::lock_guard lock(r.mutex);
  if (r.dirs.empty()) return std::nullopt;
  const std::string& text = file.native();
  for (const fs::path& dir : r.dirs) {
    const std::string& prefix = dir.native();
    if (text.size() >= prefix.size() && text.compare(0, prefix.size(), prefix) == 0 &&
        (text.size() == prefix.size() || text[prefix.size()] == '/')) {
      return dir;
    }
  }
  return std::nullopt;
}

UniqueFd open_dir_at(int parent, const char* name, const fs::path& shown) {
  int fd;
  do {
    fd = ::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) throw OSError("open " + shown.string(), errno);
  return lift_above_stdio(UniqueFd(fd), shown);
}

UniqueFd open_trusted_dir(const fs::path& dir) {
  const fs::path shown = dir.empty() ? fs::path(".") : dir;
  int fd;
  do {
    fd = ::open(shown.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) throw OSError("open " + shown.string(), errno);
  return lift_above_stdio(UniqueFd(fd), shown);
}

// Walks `steps` from `base` without following links; the last step is the
// name the caller acts on and is not opened here.
Located walk(const fs::path& base, const std::vector<std::string>& steps, bool create_parents) {
  UniqueFd dir = open_trusted_dir(base);
  fs::path shown = base;
  for (size_t i = 0; i + 1 < steps.size(); ++i) {
    shown /= steps[i];
    if (create_parents && ::mkdirat(dir.get(), steps[i].c_str(), 0755) != 0 && errno != EEXIST) {
      throw OSError("mkdir " + shown.string(), errno);
    }
    dir = open_dir_at(dir.get(), steps[i].c_str(), shown);
  }
  return {std::move(dir), steps.back(), true};
}

}  // namespace

void confine(const fs::path& dir) {
  fs::path normal = normal_absolute(dir);
  Registry& r = registry();
  const std::lock_guard lock(r.mutex);
  for (const fs::path& known : r.dirs) {
    if (known == normal) return;
  }
  r.dirs.push_back(std::move(normal));
}

bool is_confined(const fs::path& file) { return confining_dir(normal_absolute(file)).has_value(); }

std::optional<Located> locate_confined(const fs::path& file, bool create_parents) {
  const fs::path normal = normal_absolute(file);
  const std::optional<fs::path> dir = confining_dir(normal);
  if (!dir) return std::nullopt;
  std::vector<std::string> steps;
  for (const fs::path& part : normal.lexically_relative(dir->parent_path())) {
    steps.push_back(part.string());
    if (steps.size() > kMaxConfinedDepth) throw OSError("open " + file.string(), ENAMETOOLONG);
  }
  return walk(dir->parent_path(), steps, create_parents);
}

Located locate(const fs::path& file) {
  if (std::optional<Located> confined = locate_confined(file)) return std::move(*confined);
  return {open_trusted_dir(file.parent_path()), file.filename().string(), false};
}

}  // namespace tamrik::core
