#include "core/program_search.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace tamrik::core {

namespace {

bool is_executable_file(const std::filesystem::path& file) {
  struct stat st {};
  return ::stat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(file.c_str(), X_OK) == 0;
}

}  // namespace

std::optional<std::filesystem::path> find_on_path(std::string_view program) {
  if (program.empty() || program.find('/') != std::string_view::npos) return std::nullopt;
  const char* raw = std::getenv("PATH");
  if (raw == nullptr) return std::nullopt;
  const std::string_view search = raw;
  size_t start = 0;
  while (start <= search.size()) {
    size_t stop = search.find(':', start);
    if (stop == std::string_view::npos) stop = search.size();
    // An empty or relative entry names a directory of wherever tamrik runs,
    // often a repository someone else wrote: never searched.
    const std::string_view dir = search.substr(start, stop - start);
    const std::filesystem::path candidate = std::filesystem::path(std::string(dir)) / program;
    if (dir.starts_with('/') && is_executable_file(candidate)) return candidate;
    start = stop + 1;
  }
  return std::nullopt;
}

}  // namespace tamrik::core
