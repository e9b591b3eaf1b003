#include "synccore/commit_index.hpp"

#include "core/file_io.hpp"
#include "core/json.hpp"
#include "core/line_reader.hpp"
#include "synccore/ledger.hpp"
#include "synccore/ledger_mark.hpp"
#include "synccore/ledger_text.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>
#include <optional>

namespace tamrik::synccore::detail {

namespace {

using Entry = CommitIndexBuilder::Entry;

constexpr std::array<char, 8> kMagic = {'T', 'M', 'K', 'C', 'I', 'X', '0', '1'};

// The file: this header, then `count` entries, host byte order (the index
// never leaves the machine that wrote it; another one fails the mark).
struct Header {
  std::array<char, 8> magic;
  uint64_t device;
  uint64_t inode;
  uint64_t offset;
  int64_t mtime;
  std::array<char, 64> tail;
  uint64_t count;
};
static_assert(sizeof(Entry) == 16 && sizeof(Header) == 112);

// The number the first 16 digits of a valid commit hash make.
std::optional<uint64_t> commit_key(std::string_view commit) {
  if (!_is_valid_commit_hash(commit)) return std::nullopt;
  uint64_t key = 0;
  std::from_chars(commit.data(), commit.data() + 16, key, 16);
  return key;
}

// The key of the commit `line` records, as a reader would parse it.
std::optional<uint64_t> line_key(std::string_view line) {
  const std::string_view leading = leading_commit(line);
  if (!leading.empty()) return commit_key(leading);
  const std::optional<core::Json> entry = core::parse_json(line);
  if (!entry || !entry->is_object()) return std::nullopt;
  const auto commit = entry->find("commit");
  if (commit == entry->end() || !commit->is_string()) return std::nullopt;
  return commit_key(commit->get_ref<const std::string&>());
}

// The entries of the file line `line` at `offset`: one per record it holds
// (a line may hold several between other separators, as readers split it).
void add_entries(std::string_view line, uint64_t offset, std::vector<Entry>& entries) {
  for (std::string_view piece : split_lines(line)) {
    if (const std::optional<uint64_t> key = line_key(trim(piece))) entries.push_back({*key, offset});
  }
}

// An index file that still covers the ledger open as `ledger_fd`.
class IndexFile {
 public:
  static std::optional<IndexFile> open(const std::filesystem::path& file, int ledger_fd, const struct stat& ledger) {
    try {
      IndexFile index;
      index.fd_ = core::open_file(file, O_RDONLY);
      struct stat st {};
      if (::fstat(index.fd_.get(), &st) != 0 || !core::read_at(index.fd_.get(), &index.header_, sizeof(Header), 0)) {
        return std::nullopt;
      }
      const Header& h = index.header_;
      if (h.magic != kMagic || h.count > (static_cast<uint64_t>(st.st_size) / sizeof(Entry)) ||
          static_cast<uint64_t>(st.st_size) != sizeof(Header) + h.count * sizeof(Entry)) {
        return std::nullopt;
      }
      const LedgerMark mark{.device = h.device,
                            .inode = h.inode,
                            .offset = h.offset,
                            .mtime = h.mtime,
                            .tail = std::string(h.tail.data(), h.tail.size())};
      if (!mark.still_holds(ledger_fd, ledger)) return std::nullopt;
      return index;
    } catch (const std::exception&) {
      return std::nullopt;
    }
  }

  size_t covered() const { return header_.offset; }
  uint64_t count() const { return header_.count; }

  // Entries [from, from + n) into `into`; false when they cannot be read.
  bool read(uint64_t from, size_t n, Entry* into) const {
    return core::read_at(fd_.get(), into, n * sizeof(Entry), sizeof(Header) + from * sizeof(Entry));
  }

  // The offsets of the lines whose commit has `key`.
  std::vector<uint64_t> offsets_of(uint64_t key) const {
    uint64_t low = 0, high = count();
    Entry entry{};
    while (low < high) {
      const uint64_t middle = low + (high - low) / 2;
      if (!read(middle, 1, &entry)) return {};
      if (entry.key < key) {
        low = middle + 1;
      } else {
        high = middle;
      }
    }
    std::vector<uint64_t> offsets;
    for (uint64_t i = low; i < count() && read(i, 1, &entry) && entry.key == key; ++i) offsets.push_back(entry.offset);
    return offsets;
  }

 private:
  core::UniqueFd fd_;
  Header header_{};
};

// Writes the index of the first `covered` bytes of the ledger open as `fd`:
// `added` (sorted) merged with the entries of `earlier`. Best effort: an
// index not written is built again by a later reader.
void write_index(const std::filesystem::path& log_path, int fd, size_t covered, const IndexFile* earlier,
                 const std::vector<Entry>& added) {
  try {
    const LedgerMark mark = LedgerMark::of(fd, covered);
    if (mark.tail.size() != 64) return;
    Header header{.magic = kMagic,
                  .device = mark.device,
                  .inode = mark.inode,
                  .offset = mark.offset,
                  .mtime = mark.mtime,
                  .tail = {},
                  .count = added.size() + (earlier != nullptr ? earlier->count() : 0)};
    std::memcpy(header.tail.data(), mark.tail.data(), header.tail.size());
    const std::filesystem::path file = commit_index_path(log_path);
    core::make_dirs(file.parent_path());
    core::AtomicReplacement out(file, core::Durability::no_flush);
    out.write(std::string_view(reinterpret_cast<const char*>(&header), sizeof header));

    std::vector<Entry> merged;
    constexpr size_t kChunk = 4096;
    const auto flush = [&] {
      out.write(std::string_view(reinterpret_cast<const char*>(merged.data()), merged.size() * sizeof(Entry)));
      merged.clear();
    };
    auto next_added = added.begin();
    std::vector<Entry> chunk(kChunk);
    const uint64_t earlier_count = earlier != nullptr ? earlier->count() : 0;
    for (uint64_t from = 0; from < earlier_count; from += kChunk) {
      const size_t n = static_cast<size_t>(std::min<uint64_t>(kChunk, earlier_count - from));
      if (!earlier->read(from, n, chunk.data())) return;
      for (size_t i = 0; i < n; ++i) {
        while (next_added != added.end() && *next_added < chunk[i]) merged.push_back(*next_added++);
        merged.push_back(chunk[i]);
        if (merged.size() >= kChunk) flush();
      }
    }
    merged.insert(merged.end(), next_added, added.end());
    flush();
    out.commit();
  } catch (const std::exception&) {
  }
}

// Whether the line at `offset` of the file `reader` reads records `commit`.
bool line_at_records(core::LineReader& reader, size_t offset, std::string_view commit) {
  reader.seek(offset);
  core::LineReader::Line line;
  return reader.next(line) && line.offset == offset && !line.too_long && text_holds_commit(line.text, commit);
}

}  // namespace

std::filesystem::path commit_index_path(const std::filesystem::path& log_path) {
  return ledger_state_file(log_path, "commit-index");
}

bool ledger_holds_commit(const std::filesystem::path& log_path, std::string_view commit) {
  const std::optional<uint64_t> key = commit_key(commit);
  try {
    core::LineReader reader(log_path, kLedgerLineCap);
    struct stat st {};
    if (::fstat(reader.fd(), &st) != 0) return false;
    const bool indexed = key && static_cast<size_t>(st.st_size) >= kCommitIndexMinLedger;
    const std::optional<IndexFile> index =
        indexed ? IndexFile::open(commit_index_path(log_path), reader.fd(), st) : std::nullopt;
    size_t from = 0;
    if (index) {
      for (const uint64_t offset : index->offsets_of(*key)) {
        if (line_at_records(reader, offset, commit)) return true;
      }
      from = index->covered();
      reader.seek(from);
    }
    // Read on, keeping the commits of whole lines for the next index.
    std::vector<Entry> added;
    if (indexed && !index) added.reserve(static_cast<size_t>(st.st_size) / 256);
    size_t covered = from;
    core::LineReader::Line line;
    while (reader.next(line)) {
      if (line.text.find(commit) != std::string_view::npos && text_holds_commit(line.text, commit)) return true;
      if (indexed && reader.consumed() > line.offset + line.length) {
        if (!line.too_long) add_entries(line.text, line.offset, added);
        covered = reader.consumed();
      }
    }
    if (indexed && (!index || covered - from >= kCommitIndexStep)) {
      std::sort(added.begin(), added.end());
      write_index(log_path, reader.fd(), covered, index ? &*index : nullptr, added);
    }
    return false;
  } catch (const std::exception&) {
    return false;  // an unreadable ledger holds nothing, as file_holds_commit() reads it
  }
}

CommitIndexBuilder::CommitIndexBuilder(size_t ledger_size) : enabled_(ledger_size >= kCommitIndexMinLedger) {
  if (enabled_) entries_.reserve(ledger_size / 256);
}

void CommitIndexBuilder::add(std::string_view line, size_t offset) {
  if (!enabled_) return;
  add_entries(line, offset, entries_);
}

void CommitIndexBuilder::write(const std::filesystem::path& log_path, size_t covered) {
  if (!enabled_) return;
  try {
    const core::UniqueFd fd = core::open_file(log_path, O_RDONLY);
    std::sort(entries_.begin(), entries_.end());
    write_index(log_path, fd.get(), covered, nullptr, entries_);
  } catch (const std::exception&) {
  }
}

}  // namespace tamrik::synccore::detail
