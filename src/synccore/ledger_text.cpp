#include "synccore/ledger_text.hpp"

#include "core/file_io.hpp"
#include "core/json.hpp"
#include "core/line_reader.hpp"
#include "core/utf8.hpp"
#include "core/errors.hpp"
#include "synccore/commit_index.hpp"

#include <fcntl.h>
#include <cerrno>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <memory>
#include <random>

namespace tamrik::synccore::detail {

std::chrono::milliseconds ledger_lock_timeout{10'000};

namespace {

using Clock = std::chrono::steady_clock;

// When this process's lock waits must end; the far future until a hook
// sets a budget.
std::atomic<Clock::rep> lock_wait_deadline{Clock::time_point::max().time_since_epoch().count()};

}  // namespace

core::LockGuard lock_ledger(const std::filesystem::path& log_path, std::chrono::milliseconds wanted) {
  const Clock::time_point deadline{Clock::duration(lock_wait_deadline.load())};
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::min(deadline, Clock::now()));
  return core::locked(log_path, std::min(wanted, left));
}

bool may_write(const core::LockGuard& guard) { return guard.acquired() || guard.refused(); }

namespace {

// Length of the line separator starting at text[i], or 0.
size_t separator_length(std::string_view text, size_t i) {
  const auto c = static_cast<unsigned char>(text[i]);
  switch (c) {
    case '\n':
    case '\v':
    case '\f':
    case 0x1c:
    case 0x1d:
    case 0x1e:
      return 1;
    case '\r':
      return (i + 1 < text.size() && text[i + 1] == '\n') ? 2 : 1;
    default:
      return 0;
  }
}

// The first byte at or after `from` below 0x1f, where every separator
// lies, or text.size(). Eight bytes at a time: a word holds such a byte
// when subtracting 0x1f from each of its bytes borrows into the top bit of
// one that had it clear (the classic "has a byte less than n" test).
size_t next_low_byte(std::string_view text, size_t from) {
  constexpr uint64_t kOnes = 0x0101010101010101ULL;
  constexpr uint64_t kTops = 0x8080808080808080ULL;
  while (from + sizeof(uint64_t) <= text.size()) {
    uint64_t word = 0;
    std::memcpy(&word, text.data() + from, sizeof word);
    if (((word - kOnes * 0x1f) & ~word & kTops) != 0) break;
    from += sizeof word;
  }
  while (from < text.size() && static_cast<unsigned char>(text[from]) >= 0x1f) ++from;
  return from;
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
  while ((i = next_low_byte(text, i)) < text.size()) {
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

std::filesystem::path ledger_state_file(const std::filesystem::path& log_path, std::string_view name) {
  return log_path.parent_path() / ".platform" / name;
}

std::string_view trim(std::string_view text) { return core::trim_unicode_space(text); }

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
  try {
    core::LineReader reader(file, kLedgerLineCap);
    core::LineReader::Line line;
    while (reader.next(line)) {
      if (line.text.find(commit) != std::string_view::npos && text_holds_commit(line.text, commit)) return true;
    }
  } catch (const std::exception&) {
  }
  return false;
}

void visit_line(const core::LineReader::Line& line, const LineVisitor& visit) {
  if (line.too_long) {
    visit(std::nullopt);
    return;
  }
  for (std::string_view piece : split_lines(line.text)) {
    piece = trim(piece);
    if (!piece.empty()) visit(piece);
  }
}

bool visit_lines(const std::filesystem::path& file, const LineVisitor& visit) {
  try {
    core::LineReader reader(file, kLedgerLineCap);
    core::LineReader::Line line;
    while (reader.next(line)) visit_line(line, visit);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

namespace {

// Copies bytes [offset, offset + length) of `fd` into `out`.
void copy_range(int fd, size_t offset, size_t length, core::AtomicReplacement& out, const std::filesystem::path& file) {
  std::string block(std::min<size_t>(length, 1 << 20), '\0');
  while (length > 0) {
    const size_t chunk = std::min(length, block.size());
    if (!core::read_at(fd, block.data(), chunk, offset))
      throw core::OSError("read " + file.string(), errno != 0 ? errno : EIO);
    out.write(std::string_view(block.data(), chunk));
    offset += chunk;
    length -= chunk;
  }
}

// Whether `file` is still the file `reader` read to its end, at the size it
// read.
bool unchanged_since_read(const std::filesystem::path& file, const core::LineReader& reader) {
  struct stat read_one {};
  const std::optional<struct stat> now = core::file_status(file);
  return now && ::fstat(reader.fd(), &read_one) == 0 && now->st_ino == read_one.st_ino &&
         now->st_dev == read_one.st_dev && static_cast<size_t>(now->st_size) == reader.consumed();
}

}  // namespace

bool rewrite_lines(const std::filesystem::path& file, const LineEdit& edit, const LinePlaced& placed) {
  core::LineReader reader(file, kLedgerLineCap);
  core::AtomicReplacement out(file);
  struct stat read_one {};
  CommitIndexBuilder index(::fstat(reader.fd(), &read_one) == 0 ? static_cast<size_t>(read_one.st_size) : 0);
  size_t written = 0;
  const auto write_line = [&](std::string_view text) {
    index.add(text, written);
    out.write(text);
    out.write("\n");
    written += text.size() + 1;
  };
  bool changed = false;
  core::LineReader::Line line;
  while (reader.next(line)) {
    if (placed) placed(line.offset, written);
    if (line.too_long) {
      copy_range(reader.fd(), line.offset, line.length, out, file);
      out.write("\n");
      written += line.length + 1;
      continue;
    }
    const std::vector<std::string_view> pieces = split_lines(line.text);
    if (pieces.empty()) write_line("");  // a blank line stays
    for (std::string_view piece : pieces) {
      const std::string_view content = trim(piece);
      std::optional<std::string> replaced = content.empty() ? std::nullopt : edit(content);
      changed = changed || replaced.has_value();
      write_line(replaced ? std::string_view(*replaced) : piece);
    }
  }
  if (placed) placed(reader.consumed(), written);
  if (!changed) return false;
  if (!unchanged_since_read(file, reader)) {
    // Only a writer without the lock (the file system refuses locks) can
    // have appended meanwhile; replacing the file would drop its line.
    return false;
  }
  out.commit();
  index.write(file, written);
  return true;
}

std::vector<std::filesystem::path> spool_files(const std::filesystem::path& log_path) {
  std::vector<std::filesystem::path> found;
  const std::string prefix = log_path.filename().string() + ".spool-";
  const std::filesystem::path dir = log_path.parent_path().empty() ? "." : log_path.parent_path();
  for (const core::DirEntry& entry : core::list_dir(dir)) {
    if (entry.name.starts_with(prefix) && entry.name.size() > prefix.size()) found.push_back(dir / entry.name);
  }
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

namespace tamrik::synccore {

void limit_lock_waits(std::chrono::milliseconds total) {
  detail::lock_wait_deadline.store((std::chrono::steady_clock::now() + total).time_since_epoch().count());
}

}  // namespace tamrik::synccore
