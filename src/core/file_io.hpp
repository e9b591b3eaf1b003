#pragma once
// File reads and writes on raw descriptors (open/read/write/fsync/rename),
// never stdio or streams, so every system call can be intercepted in fault
// tests. No descriptor is ever 0, 1 or 2: a file opened while a standard
// stream is closed must not be written to by a stray print.

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <sys/stat.h>

namespace tamrik::core {

// An owned descriptor, closed on destruction.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept;
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd();

  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  int release();
  // Closes now; returns the errno of a failed close, else 0.
  int close();

 private:
  int fd_ = -1;
};

// Returns `fd` itself when it is above 2, else a close-on-exec duplicate
// above 2 (the low one is closed). Throws OSError naming `path_for_errors`.
UniqueFd lift_above_stdio(UniqueFd fd, const std::filesystem::path& path_for_errors);

// open(2) with O_CLOEXEC added, retried on EINTR, moved above fd 2. Below a
// confined directory (core/confinement.hpp) a link is refused (ELOOP) and so
// is anything but a regular file or, with O_DIRECTORY, a directory (EINVAL).
// Throws OSError naming the path.
UniqueFd open_file(const std::filesystem::path& path, int flags, int mode = 0644);

// open_file() for a file that may well be absent: nullopt when it is not
// there (ENOENT), without the cost of throwing. Other failures throw as
// open_file() does.
std::optional<UniqueFd> open_file_if_present(const std::filesystem::path& path, int flags, int mode = 0644);

// Writes all of `bytes`, retrying short writes and EINTR. Throws OSError.
void write_all(int fd, std::string_view bytes, const std::filesystem::path& path_for_errors);

// Reads exactly `size` bytes at `offset` with pread(2), retrying short
// reads and EINTR. False at the end of the file (errno 0) or on an error.
bool read_at(int fd, void* into, size_t size, size_t offset);

// Opens `path` for reading, which must be a regular file: a FIFO or device
// is refused (EINVAL) rather than waited on. `st` gets its status. Throws
// OSError.
UniqueFd open_regular_file(const std::filesystem::path& path, struct stat& st);

// Caps on what one read may hold, by the kind of file read. A file over its
// cap is refused whole (EFBIG), so a hostile or runaway file costs no memory.
inline constexpr size_t kSmallFileCap = 1 << 20;     // configuration, markers, hook scripts
inline constexpr size_t kDocumentFileCap = 8 << 20;  // attestations, agent and user settings

// The whole file, which must be a regular file (a FIFO or device is refused
// with EINVAL rather than read) of at most `max_bytes`. Throws OSError
// (FileNotFoundError when missing).
std::string read_file(const std::filesystem::path& path, size_t max_bytes);
// The whole file, or nullopt on any error. The path is walked once: an
// absent file, the usual case, costs one failed open.
std::optional<std::string> try_read_file(const std::filesystem::path& path, size_t max_bytes);

enum class Durability {
  flush,    // fsync the file before the rename and its directory after it
  no_flush  // for files that can be rebuilt; skips both fsyncs
};

// The permissions a replaced file ends with.
enum class ReplacedMode {
  owner_only,  // 600, whatever the target had (credentials, the ledger)
  // The target's own permission bits, 600 for a new file. A read-only target
  // (its owner may not write it, or this process may not) is refused with
  // EACCES and left as it is, as writing into it would be.
  keep_target
};

// Replaces `target` whole and atomically: writes a temporary file with a
// unique name ending ".tmp" in the target's own directory (created
// exclusively, mode 600), flushes it, renames it over the target, flushes the
// directory. On any failure the temporary file is removed and the first
// error propagates as OSError; the target is then unchanged. A link in the
// target's place is replaced, never followed.
void replace_file_atomically(const std::filesystem::path& target, std::string_view bytes,
                             Durability durability = Durability::flush, ReplacedMode mode = ReplacedMode::owner_only);

// replace_file_atomically() for content written in pieces, so a large file
// can be rewritten without holding it whole: write() any number of times,
// then commit(). Destroyed without commit(), the target stays unchanged.
class AtomicReplacement {
 public:
  explicit AtomicReplacement(const std::filesystem::path& target, Durability durability = Durability::flush,
                             ReplacedMode mode = ReplacedMode::owner_only);
  AtomicReplacement(const AtomicReplacement&) = delete;
  AtomicReplacement& operator=(const AtomicReplacement&) = delete;
  ~AtomicReplacement();

  void write(std::string_view bytes);  // buffered; throws OSError
  void commit();                       // throws OSError

 private:
  struct Temp;
  std::filesystem::path target_;
  Durability durability_;
  std::unique_ptr<Temp> temp_;
  std::string pending_;  // written but not yet passed to the file
};

// Removes the temporary files replace_file_atomically() left beside
// `target` in processes that no longer run (killed mid-write: nothing else
// would ever remove them). Files of running processes are kept. Never throws.
void remove_abandoned_temp_files(const std::filesystem::path& target);

// Appends `line` (which should end in "\n") with one write to the file,
// creating it (mode 644) when missing. When the file's last byte is not a
// line break (a torn earlier append), one is written first, so the new line
// never fuses with a broken one. Callers serialise appends with locked().
// With Durability::flush the line is also flushed to the disk before the
// call returns, so a later step that depends on it (a pending file removed,
// a spool deleted) cannot outlive it in a power cut. That flush is best
// effort: the line is already in the file for every reader, and reporting
// it as not written would make callers undo work the ledger already shows.
void append_line(const std::filesystem::path& path, std::string_view line,
                 Durability durability = Durability::no_flush);

// Whether anything exists at `file`. A missing or unsearchable directory
// on the way counts as nothing there, and so does a link or special file
// below a confined directory; an error that tells nothing of the file (EIO,
// EMFILE) counts as something, which its reader will then report. Never
// throws.
bool path_exists(const std::filesystem::path& file) noexcept;

// lstat(2) of `file` (stat(2) outside confined directories), or nullopt
// when it cannot be had. Never throws.
std::optional<struct stat> file_status(const std::filesystem::path& file) noexcept;

// Creates `dir` and its missing ancestors; an existing directory is fine.
// Throws OSError.
void make_dirs(const std::filesystem::path& dir);

// Removes the file (or link) `file`, never what a link points to. Returns 0,
// or the errno of the failure (ENOENT when there was nothing). Never throws.
int remove_file(const std::filesystem::path& file) noexcept;

// Removes `dir` when it is an empty directory. Never throws.
void remove_empty_dir(const std::filesystem::path& dir) noexcept;

// Renames within the file system; below a confined directory neither side
// follows a link. Throws OSError.
void rename_file(const std::filesystem::path& from, const std::filesystem::path& to);

struct DirEntry {
  std::string name;
  bool is_dir = false;      // a real directory, never a link to one
  bool is_regular = false;  // a regular file, never a link to one
};
// The entries of `dir` other than "." and "..", in no particular order; an
// unreadable or missing directory has none. Never throws.
std::vector<DirEntry> list_dir(const std::filesystem::path& dir) noexcept;

}  // namespace tamrik::core
