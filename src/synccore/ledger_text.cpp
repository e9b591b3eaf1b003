#include "synccore/ledger_text.hpp"

#include "core/file_io.hpp"
#include "core/json.hpp"

#include <fcntl.h>
#include <cerrno>

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <random>

namespace tamrik::synccore::detail {

std::chrono::milliseconds ledger_lock_timeout{10'000};

namespace {

// Length of the line separator starting at text[i], or 0.
size_t separator_length(std::string_view text, size_t i) {
  const auto c = static_cast<unsigned char>(text[i]);
  switch (c) {
    case '\n': case '\v': case '\f': case 0x1c: case 0x1d: case 0x1e:
      return 1;
    case '\r':
      return (i + 1 < text.size() && text[i + 1] == '\n') ? 2 : 1;
    case 0xc2:
      return (i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0x85) ? 2 : 0;
    case 0xe2:
      return (i + 2 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0x80 &&
              (static_cast<unsigned char>(text[i + 2]) == 0xa8 || static_cast<unsigned char>(text[i + 2]) == 0xa9))
                 ? 3
                 : 0;
    default:
      return 0;
  }
}

bool may_start_separator(unsigned char c) {
  return c == '\n' || c == '\r' || c == '\v' || c == '\f' || (c >= 0x1c && c <= 0x1e) || c == 0xc2 || c == 0xe2;
}

// Whether the rest of a line could hold a second "commit" key, which a
// parser would keep instead of the first: the key itself, or an escaped
// printable ASCII character (\u0020-\u007f), which our writers never write
// and which could spell it.
bool may_name_commit_again(std::string_view rest) {
  if (rest.find(R"("commit")") != std::string_view::npos) return true;
  for (size_t at = rest.find("\\u00"); at != std::string_view::npos; at = rest.find("\\u00", at + 1)) {
    if (at + 4 < rest.size() && rest[at + 4] >= '2' && rest[at + 4] <= '7') return true;
  }
  return false;
}

}  // namespace

std::vector<std::string_view> split_lines(std::string_view text) {
  std::vector<std::string_view> lines;
  size_t start = 0;
  size_t i = 0;
  while (i < text.size()) {
    if (!may_start_separator(static_cast<unsigned char>(text[i]))) {
      ++i;
      continue;
    }
    const size_t sep = separator_length(text, i);
    if (sep == 0) {
      ++i;
      continue;
    }
    lines.push_back(text.substr(start, i - start));
    i += sep;
    start = i;
  }
  if (start < text.size()) lines.push_back(text.substr(start));
  return lines;
}

std::string_view trim(std::string_view text) {
  const auto is_space = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; };
  while (!text.empty() && is_space(text.front())) text.remove_prefix(1);
  while (!text.empty() && is_space(text.back())) text.remove_suffix(1);
  return text;
}

std::string_view leading_commit(std::string_view line) {
  constexpr std::string_view prefix = R"({"commit": ")";
  if (line.substr(0, prefix.size()) != prefix) return {};
  const std::string_view rest = line.substr(prefix.size());
  const size_t end = rest.find_first_of("\"\\");
  if (end == std::string_view::npos || rest[end] != '"') return {};
  if (may_name_commit_again(rest.substr(end + 1))) return {};
  return rest.substr(0, end);
}

bool text_holds_commit(std::string_view text, std::string_view commit) {
  if (commit.empty()) return false;
  size_t from = 0;
  while (from < text.size()) {
    const void* hit = ::memmem(text.data() + from, text.size() - from, commit.data(), commit.size());
    if (hit == nullptr) return false;
    const size_t at = static_cast<size_t>(static_cast<const char*>(hit) - text.data());
    const size_t newline_before = text.rfind('\n', at);
    const size_t line_start = newline_before == std::string_view::npos ? 0 : newline_before + 1;
    const size_t line_end = std::min(text.find('\n', at), text.size());
    // The candidate may hold other separators; each piece is a line of its own.
    for (std::string_view line : split_lines(text.substr(line_start, line_end - line_start))) {
      const std::optional<core::Json> entry = core::parse_json(trim(line));
      if (!entry || !entry->is_object()) continue;
      const auto value = entry->find("commit");
      if (value != entry->end() && value->is_string() && value->get_ref<const std::string&>() == commit) return true;
    }
    from = line_end + 1;
  }
  return false;
}

bool file_holds_commit(const std::filesystem::path& file, std::string_view commit) {
  if (commit.empty()) return false;
  core::UniqueFd fd;
  try {
    fd = core::open_file(file, O_RDONLY);
  } catch (const std::exception&) {
    return false;
  }
  constexpr size_t kBlock = 256 * 1024;
  // Left uninitialised: only the bytes read are touched, so a small ledger
  // costs the commit hook one fresh page instead of the block's sixty-four.
  size_t capacity = kBlock;
  std::unique_ptr<char[]> buffer = std::make_unique_for_overwrite<char[]>(capacity);
  size_t filled = 0;  // bytes of buffer holding file data; a partial last line stays at the front
  for (;;) {
    if (capacity - filled < kBlock / 2) {  // a very long line
      std::unique_ptr<char[]> larger = std::make_unique_for_overwrite<char[]>(capacity * 2);
      std::memcpy(larger.get(), buffer.get(), filled);
      buffer = std::move(larger);
      capacity *= 2;
    }
    const ssize_t n = ::read(fd.get(), buffer.get() + filled, capacity - filled);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return text_holds_commit(std::string_view(buffer.get(), filled), commit);
    filled += static_cast<size_t>(n);
    // Search whole lines only, so a candidate line is never cut in two.
    const std::string_view data(buffer.get(), filled);
    const size_t last_newline = data.rfind('\n');
    if (last_newline == std::string_view::npos) continue;
    if (text_holds_commit(data.substr(0, last_newline + 1), commit)) return true;
    const size_t rest = filled - (last_newline + 1);
    std::memmove(buffer.get(), buffer.get() + last_newline + 1, rest);
    filled = rest;
  }
}

std::vector<std::filesystem::path> spool_files(const std::filesystem::path& log_path) {
  std::vector<std::filesystem::path> found;
  const std::string prefix = log_path.filename().string() + ".spool-";
  const std::filesystem::path dir = log_path.parent_path().empty() ? "." : log_path.parent_path();
  DIR* d = ::opendir(dir.c_str());
  if (d == nullptr) return found;
  while (const dirent* entry = ::readdir(d)) {
    const std::string_view name = entry->d_name;
    if (name.substr(0, prefix.size()) == prefix && name.size() > prefix.size()) found.push_back(dir / name);
  }
  ::closedir(d);
  std::sort(found.begin(), found.end());
  return found;
}

std::filesystem::path new_spool_name(const std::filesystem::path& log_path) {
  static std::atomic<unsigned> counter{0};
  thread_local std::mt19937_64 rng{std::random_device{}()};
  const auto now = std::chrono::system_clock::now().time_since_epoch().count();
  // Time first, so spools merge roughly in the order they were written.
  const std::string name = log_path.filename().string() + ".spool-" + std::to_string(now) + "-" +
                           std::to_string(::getpid()) + "-" + std::to_string(counter++) + "-" +
                           std::to_string(rng() % 1000000);
  return log_path.parent_path() / name;
}

}  // namespace tamrik::synccore::detail
