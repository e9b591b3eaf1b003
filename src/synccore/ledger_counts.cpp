#include "synccore/ledger_counts.hpp"

#include "core/errors.hpp"
#include "core/file_io.hpp"
#include "core/json.hpp"
#include "core/line_reader.hpp"
#include "synccore/ledger_mark.hpp"
#include "synccore/ledger_text.hpp"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <string>

namespace tamrik::synccore {

namespace {

constexpr int kCacheVersion = 1;

// The journal as the counts saw it: "" when there is none.
std::string journal_key(const path& log_path) {
  const std::optional<struct stat> st = core::file_status(detail::synced_journal_path(log_path));
  if (!st) return "";
  return std::to_string(st->st_dev) + ":" + std::to_string(st->st_ino) + ":" + std::to_string(st->st_size) + ":" +
         std::to_string(static_cast<long long>(st->st_mtim.tv_sec) * 1'000'000'000LL + st->st_mtim.tv_nsec);
}

struct Cache {
  detail::LedgerMark mark;
  std::string journal;
  AttestationLog counts;
};

Json counts_json(const AttestationLog& log) {
  return Json::array({log.pending_count, log.uploaded, log.skipped, log.unaddressable, log.corrupt, log.attested,
                      log.unattested, log.mismatched});
}

bool read_counts(const Json& counts, AttestationLog& log) {
  if (!counts.is_array() || counts.size() != 8) return false;
  for (const Json& count : counts) {
    if (!count.is_number_unsigned() || count.get<unsigned long long>() > (1ULL << 31)) return false;
  }
  log.pending_count = counts[0].get<size_t>();
  int* fields[] = {&log.uploaded, &log.skipped,    &log.unaddressable, &log.corrupt,
                   &log.attested, &log.unattested, &log.mismatched};
  for (size_t i = 0; i < 7; ++i) *fields[i] = counts[i + 1].get<int>();
  return true;
}

// The cache, when it parses as one of this version; anything else is
// ignored, never trusted in part.
std::optional<Cache> read_cache(const path& log_path) {
  const std::optional<std::string> text =
      core::try_read_file(detail::ledger_counts_cache_path(log_path), core::kSmallFileCap);
  const std::optional<Json> json = text ? core::parse_json(*text) : std::nullopt;
  if (!json || !json->is_object() || json->value("version", Json()) != kCacheVersion) return std::nullopt;
  try {
    Cache cache{.mark = {.device = json->at("device").get<unsigned long long>(),
                         .inode = json->at("inode").get<unsigned long long>(),
                         .offset = json->at("offset").get<size_t>(),
                         .mtime = json->at("mtime").get<long long>(),
                         .tail = json->at("tail").get<std::string>()},
                .journal = json->at("journal").get<std::string>()};
    if (!read_counts(json->at("counts"), cache.counts)) return std::nullopt;
    return cache;
  } catch (const Json::exception&) {
    return std::nullopt;
  }
}

// Best effort: a cache not written is counted again next time.
void write_cache(const path& log_path, const Cache& cache) {
  const path file = detail::ledger_counts_cache_path(log_path);
  // Only where tamrik keeps its own state already: a count creates nothing.
  if (!core::path_exists(file.parent_path())) return;
  const detail::LedgerMark& mark = cache.mark;
  const Json json = {{"version", kCacheVersion}, {"device", mark.device},
                     {"inode", mark.inode},      {"offset", mark.offset},
                     {"mtime", mark.mtime},      {"tail", mark.tail},
                     {"journal", cache.journal}, {"counts", counts_json(cache.counts)}};
  try {
    core::replace_file_atomically(file, core::to_json_line(json) + "\n", core::Durability::no_flush);
  } catch (const std::exception&) {
  }
}

void add(AttestationLog& to, const AttestationLog& from) {
  to.pending_count += from.pending_count;
  to.uploaded += from.uploaded;
  to.skipped += from.skipped;
  to.unaddressable += from.unaddressable;
  to.corrupt += from.corrupt;
  to.attested += from.attested;
  to.unattested += from.unattested;
  to.mismatched += from.mismatched;
}

// The ledger file's counts, through the cache when it still holds. A last
// line without its "\n" (an append in progress, or torn) is counted but
// left out of the cache: its rest may still come.
AttestationLog count_ledger_file(const path& log_path, const detail::SyncedJournal& journal,
                                 const std::string& journal_now) {
  AttestationLog whole;
  try {
    core::LineReader reader(log_path, detail::kLedgerLineCap);
    struct stat st {};
    if (::fstat(reader.fd(), &st) != 0) throw core::OSError("stat " + log_path.string(), errno);
    const std::optional<Cache> cached = read_cache(log_path);
    Cache cache;
    const bool from_cache = cached && cached->journal == journal_now && cached->mark.still_holds(reader.fd(), st);
    size_t offset = 0;
    if (from_cache) {
      cache = *cached;
      offset = cache.mark.offset;
      reader.seek(offset);
    }
    AttestationLog tail;  // the unterminated last line
    core::LineReader::Line line;
    while (reader.next(line)) {
      const bool whole_line = reader.consumed() > line.offset + line.length;
      AttestationLog& into = whole_line ? cache.counts : tail;
      detail::visit_line(
          line, [&](std::optional<std::string_view> piece) { detail::count_line(piece, journal, into, false); });
      if (whole_line) offset = reader.consumed();
    }
    whole = cache.counts;
    add(whole, tail);
    // A few records read on cost less than writing the cache again: the
    // cache moves once the part read on has grown.
    const bool read_on = !from_cache || offset - cached->mark.offset >= detail::kCountsCacheStep;
    if (read_on && static_cast<size_t>(st.st_size) >= detail::kCountsCacheMinLedger) {
      cache.mark = detail::LedgerMark::of(reader.fd(), offset);
      cache.journal = journal_now;
      write_cache(log_path, cache);
    }
  } catch (const std::exception&) {
    // An unreadable ledger counts as empty, as read_attestation_log() reads it.
  }
  return whole;
}

}  // namespace

namespace detail {

struct CountsCarry::State {
  Cache cache;
  size_t line_start = 0;             // in the ledger the fold reads
  std::optional<size_t> new_offset;  // where the cache's offset went
};

CountsCarry::CountsCarry(const path& log_path) {
  try {
    const std::optional<Cache> cached = read_cache(log_path);
    if (!cached || !cached->journal.empty()) return;
    const core::UniqueFd fd = core::open_file(log_path, O_RDONLY);
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !cached->mark.still_holds(fd.get(), st)) return;
    state_ = std::make_unique<State>(State{.cache = *cached});
  } catch (const std::exception&) {
  }
}

CountsCarry::~CountsCarry() = default;

void CountsCarry::placed(size_t old_offset, size_t new_offset) {
  if (!state_) return;
  state_->line_start = old_offset;
  if (old_offset == state_->cache.mark.offset) state_->new_offset = new_offset;
}

void CountsCarry::marked(const Json& before) {
  if (!state_ || state_->line_start >= state_->cache.mark.offset) return;
  // Pending is what the line was counted as, with no journal, unless it
  // already said it was sent or names no commit a record can have.
  if (core::is_set(before, "synced") || core::is_set(before, "uploaded")) return;
  const auto commit = before.find("commit");
  if (commit == before.end() || !commit->is_string() || !_is_valid_commit_hash(commit->get_ref<const std::string&>())) {
    return;
  }
  AttestationLog& counts = state_->cache.counts;
  if (counts.pending_count == 0) {
    state_.reset();  // not the ledger the cache counted after all
    return;
  }
  --counts.pending_count;
  ++counts.uploaded;
}

void CountsCarry::write(const path& log_path) {
  if (!state_ || !state_->new_offset) return;
  try {
    const core::UniqueFd fd = core::open_file(log_path, O_RDONLY);
    state_->cache.mark = LedgerMark::of(fd.get(), *state_->new_offset);
    state_->cache.journal = journal_key(log_path);
    write_cache(log_path, state_->cache);
  } catch (const std::exception&) {
  }
}

std::filesystem::path ledger_counts_cache_path(const std::filesystem::path& log_path) {
  return ledger_state_file(log_path, "ledger-counts.json");
}

}  // namespace detail

AttestationLog count_attestation_log(const path& log_path) {
  // Keyed before it is read: a journal that grows meanwhile makes the
  // cache written now stale, never wrong.
  const std::string journal_now = journal_key(log_path);
  const detail::SyncedJournal journal = detail::SyncedJournal::read(log_path);
  AttestationLog log = count_ledger_file(log_path, journal, journal_now);
  for (const path& spool : detail::spool_files(log_path)) {
    detail::visit_lines(spool,
                        [&](std::optional<std::string_view> line) { detail::count_line(line, journal, log, false); });
  }
  return log;
}

}  // namespace tamrik::synccore
