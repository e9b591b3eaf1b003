#include "core/file_io.hpp"

#include "core/deferred_flush.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <system_error>

#include "core/confinement.hpp"
#include "core/errors.hpp"

namespace tamrik::core {

namespace fs = std::filesystem;

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
  if (this != &other) {
    close();
    fd_ = other.release();
  }
  return *this;
}

UniqueFd::~UniqueFd() { close(); }

int UniqueFd::release() {
  const int fd = fd_;
  fd_ = -1;
  return fd;
}

int UniqueFd::close() {
  if (fd_ < 0) return 0;
  // Never retry close on EINTR: on Linux the descriptor is gone either way,
  // and an interruption is no report of lost data, so it counts as closed.
  const int rc = ::close(release());
  return rc == 0 || errno == EINTR ? 0 : errno;
}

UniqueFd lift_above_stdio(UniqueFd fd, const fs::path& path_for_errors) {
  if (fd.get() > STDERR_FILENO) return fd;
  const int high = ::fcntl(fd.get(), F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
  if (high < 0) throw OSError("fcntl F_DUPFD_CLOEXEC " + path_for_errors.string(), errno);
  return UniqueFd(high);  // `fd`, the low one, closes on return
}

namespace {

// Opens `where`'s name in its directory, as open_file() documents. A failed
// openat(2) gives an empty UniqueFd with errno set; anything else throws.
UniqueFd try_open_at(const Located& where, int flags, int mode, const fs::path& path) {
  if (where.confined) flags |= O_NOFOLLOW | O_NONBLOCK;
  int fd;
  do {
    fd = ::openat(where.dir.get(), where.name.c_str(), flags | O_CLOEXEC, mode);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return UniqueFd();
  UniqueFd owned = lift_above_stdio(UniqueFd(fd), path);
  if (where.confined) {
    struct stat st {};
    const bool wanted_kind =
        ::fstat(owned.get(), &st) == 0 && ((flags & O_DIRECTORY) != 0 ? S_ISDIR(st.st_mode) : S_ISREG(st.st_mode));
    if (!wanted_kind) {
      // A directory where a file is wanted reads as it would without the check.
      throw OSError("open " + path.string() + " (not a regular file)", S_ISDIR(st.st_mode) ? EISDIR : EINVAL);
    }
    // Regular files never block; the flag only kept a FIFO from hanging the open.
    ::fcntl(owned.get(), F_SETFL, ::fcntl(owned.get(), F_GETFL) & ~O_NONBLOCK);
  }
  return owned;
}

UniqueFd open_at(const Located& where, int flags, int mode, const fs::path& path) {
  UniqueFd fd = try_open_at(where, flags, mode, path);
  if (!fd) throw OSError("open " + path.string(), errno);
  return fd;
}

// open_file()'s open, with a failed open(2) as an empty UniqueFd and errno.
UniqueFd try_open(const fs::path& path, int flags, int mode) {
  if (const std::optional<Located> where = locate_confined(path)) return try_open_at(*where, flags, mode, path);
  int fd;
  do {
    fd = ::open(path.c_str(), flags | O_CLOEXEC, mode);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return UniqueFd();
  return lift_above_stdio(UniqueFd(fd), path);
}

}  // namespace

UniqueFd open_file(const fs::path& path, int flags, int mode) {
  UniqueFd fd = try_open(path, flags, mode);
  if (!fd) throw OSError("open " + path.string(), errno);
  return fd;
}

std::optional<UniqueFd> open_file_if_present(const fs::path& path, int flags, int mode) {
  UniqueFd fd = try_open(path, flags, mode);
  if (fd) return fd;
  if (errno == ENOENT) return std::nullopt;
  throw OSError("open " + path.string(), errno);
}

void write_all(int fd, std::string_view bytes, const fs::path& path_for_errors) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      throw OSError("write " + path_for_errors.string(), errno);
    }
    // write(2) returns 0 only for an empty buffer; guard against a loop anyway.
    if (n == 0) throw OSError("write " + path_for_errors.string(), EIO);
    bytes.remove_prefix(static_cast<size_t>(n));
  }
}

bool read_at(int fd, void* into, size_t size, size_t offset) {
  auto* bytes = static_cast<char*>(into);
  for (size_t got = 0; got < size;) {
    const ssize_t n = ::pread(fd, bytes + got, size - got, static_cast<off_t>(offset + got));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = 0;
      return false;
    }
    got += static_cast<size_t>(n);
  }
  return true;
}

namespace {

// The size now, as a hint only: the file may grow or shrink while we read.
size_t size_hint(int fd) {
  struct stat st {};
  if (::fstat(fd, &st) != 0 || st.st_size < 0) return 0;
  return static_cast<size_t>(st.st_size);
}

// Non-blocking, so that a FIFO is refused by require_regular rather than
// waited on.
constexpr int kReadFlags = O_RDONLY | O_NONBLOCK;

// `st` gets the status of `fd`, which must be a regular file.
void require_regular(const UniqueFd& fd, const fs::path& path, struct stat& st) {
  if (::fstat(fd.get(), &st) != 0) throw OSError("stat " + path.string(), errno);
  if (!S_ISREG(st.st_mode)) throw OSError("read " + path.string() + " (not a regular file)", EINVAL);
}

// All of the regular file `fd`, at most `max_bytes`; `st` is its status.
std::string read_all(const UniqueFd& fd, const struct stat& st, const fs::path& path, size_t max_bytes) {
  const auto too_large = [&] { return OSError("read " + path.string() + " (larger than its limit)", EFBIG); };
  if (static_cast<size_t>(st.st_size) > max_bytes) throw too_large();
  std::string bytes;
  // One byte beyond the size, so an unchanged file reaches EOF without growing.
  bytes.resize(static_cast<size_t>(st.st_size) + 1);
  size_t used = 0;
  for (;;) {
    if (used == bytes.size()) {
      if (used > max_bytes) throw too_large();  // grew while we read
      bytes.resize(std::min(std::max<size_t>(bytes.size() * 2, 64 * 1024), max_bytes + 1));
    }
    const ssize_t n = ::read(fd.get(), bytes.data() + used, bytes.size() - used);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw OSError("read " + path.string(), errno);
    }
    if (n == 0) break;
    used += static_cast<size_t>(n);
  }
  if (used > max_bytes) throw too_large();
  bytes.resize(used);
  return bytes;
}

}  // namespace

UniqueFd open_regular_file(const fs::path& path, struct stat& st) {
  UniqueFd fd = open_file(path, kReadFlags);
  require_regular(fd, path, st);
  return fd;
}

std::string read_file(const fs::path& path, size_t max_bytes) {
  struct stat st {};
  const UniqueFd fd = open_regular_file(path, st);
  return read_all(fd, st, path, max_bytes);
}

std::optional<std::string> try_read_file(const fs::path& path, size_t max_bytes) {
  // The files asked about here are mostly absent (git's state files, optional
  // configuration): say so without the cost of throwing.
  try {
    const std::optional<UniqueFd> fd = open_file_if_present(path, kReadFlags);
    if (!fd) return std::nullopt;
    struct stat st {};
    require_regular(*fd, path, st);
    return read_all(*fd, st, path, max_bytes);
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

namespace {

void fsync_or_throw(int fd, const fs::path& path) {
  // No retry after an error: the kernel may have dropped the dirty pages,
  // so a second fsync could report success for lost data.
  if (flush_or_defer(fd) != 0) throw OSError("fsync " + path.string(), errno);
}

// Unique among threads and processes; O_EXCL settles any remaining clash.
std::string temp_name_for(const fs::path& target) {
  static std::atomic<std::uint64_t> counter{0};
  std::uint64_t noise = 0;
  if (::getrandom(&noise, sizeof noise, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof noise)) {
    noise = static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
  }
  noise ^= counter.fetch_add(1) * 0x9e3779b97f4a7c15ULL;
  return "." + target.filename().string() + "." + std::to_string(::getpid()) + "." +
         std::to_string(noise % 1'000'000'000'000ULL) + ".tmp";
}

}  // namespace

// A temporary file beside the target, removed unless it was renamed away.
struct AtomicReplacement::Temp {
  Temp(const fs::path& target, ReplacedMode mode) : dir_(locate(target)) {
    const std::optional<mode_t> kept = mode == ReplacedMode::keep_target ? writable_target_mode(target) : std::nullopt;
    for (int attempt = 0;; ++attempt) {
      path_ = target.parent_path() / temp_name_for(target);
      try {
        fd_ = open_file(path_, O_WRONLY | O_CREAT | O_EXCL, 0600);
        break;
      } catch (const OSError& e) {
        if (e.code() != EEXIST || attempt == 10) throw;
      }
    }
    if (kept && ::fchmod(fd_.get(), *kept) != 0) throw OSError("chmod " + path_.string(), errno);
  }
  Temp(const Temp&) = delete;
  Temp& operator=(const Temp&) = delete;
  ~Temp() {
    fd_.close();
    // Through the directory already open: a walk could fail where this cannot.
    if (!renamed_) ::unlinkat(dir_.dir.get(), path_.filename().c_str(), 0);
  }

  const fs::path& path() const { return path_; }
  int fd() const { return fd_.get(); }
  int dir_fd() const { return dir_.dir.get(); }

  void close() {
    // A failed close can be the first report of a failed write (NFS, quotas).
    if (const int error = fd_.close(); error != 0) throw OSError("close " + path_.string(), error);
  }

  // The permission bits of the regular file at `target` (never a link's),
  // none when there is none; throws EACCES for a read-only one.
  std::optional<mode_t> writable_target_mode(const fs::path& target) const {
    struct stat st {};
    if (::fstatat(dir_.dir.get(), dir_.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)) {
      return std::nullopt;
    }
    if ((st.st_mode & S_IWUSR) == 0 || ::faccessat(dir_.dir.get(), dir_.name.c_str(), W_OK, AT_EACCESS) != 0) {
      throw OSError("write " + target.string() + " (read-only)", EACCES);
    }
    return st.st_mode & 07777;
  }

  // Renames over the target's name in the same directory. A link there is
  // replaced, never followed.
  void rename_to(const fs::path& target) {
    int rc;
    do {
      rc = ::renameat(dir_.dir.get(), path_.filename().c_str(), dir_.dir.get(), dir_.name.c_str());
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
      throw OSError("rename " + path_.string() + " to " + target.string(), errno);
    }
    renamed_ = true;
  }

 private:
  Located dir_;  // the target's directory and name
  fs::path path_;
  UniqueFd fd_;
  bool renamed_ = false;
};

namespace {

void fsync_directory(int dir_fd, const fs::path& target) {
  if (flush_or_defer(dir_fd) != 0 && errno != EINVAL && errno != ENOTSUP) {
    // EINVAL/ENOTSUP: a file system that cannot flush directories at all.
    throw OSError("fsync " + target.parent_path().string(), errno);
  }
}

}  // namespace

namespace {

// The writer's pid in a name temp_name_for(target) made, or 0.
pid_t temp_file_owner(std::string_view name, std::string_view prefix) {
  constexpr std::string_view suffix = ".tmp";
  if (!name.starts_with(prefix) || !name.ends_with(suffix)) return 0;
  name = name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
  const size_t dot = name.find('.');
  if (dot == std::string_view::npos || dot == 0) return 0;
  pid_t pid = 0;
  for (const char c : name.substr(0, dot)) {
    if (c < '0' || c > '9' || pid > 100'000'000) return 0;
    pid = pid * 10 + (c - '0');
  }
  return pid;
}

}  // namespace

void remove_abandoned_temp_files(const fs::path& target) {
  const fs::path dir = target.has_parent_path() ? target.parent_path() : fs::path(".");
  const std::string prefix = "." + target.filename().string() + ".";
  for (const DirEntry& entry : list_dir(dir)) {
    const pid_t owner = temp_file_owner(entry.name, prefix);
    // ESRCH: no such process. Any other answer may be a live writer.
    if (owner > 0 && ::kill(owner, 0) != 0 && errno == ESRCH) remove_file(dir / entry.name);
  }
}

AtomicReplacement::AtomicReplacement(const fs::path& target, Durability durability, ReplacedMode mode)
    : target_(target), durability_(durability), temp_(std::make_unique<Temp>(target, mode)) {}

AtomicReplacement::~AtomicReplacement() = default;

void AtomicReplacement::write(std::string_view bytes) {
  constexpr size_t kFlushAt = 256 * 1024;
  if (pending_.size() + bytes.size() < kFlushAt) {
    pending_.append(bytes);
    return;
  }
  write_all(temp_->fd(), pending_, temp_->path());
  pending_.clear();
  write_all(temp_->fd(), bytes, temp_->path());
}

void AtomicReplacement::commit() {
  const bool flush = durability_ == Durability::flush;
  write_all(temp_->fd(), pending_, temp_->path());
  pending_.clear();
  if (flush) fsync_or_throw(temp_->fd(), temp_->path());
  temp_->close();
  temp_->rename_to(target_);
  if (flush) fsync_directory(temp_->dir_fd(), target_);
}

void replace_file_atomically(const fs::path& target, std::string_view bytes, Durability durability, ReplacedMode mode) {
  AtomicReplacement replacement(target, durability, mode);
  replacement.write(bytes);
  replacement.commit();
}

namespace {

// Whether the file has content whose last byte is not a line break.
bool ends_without_line_break(int fd, const fs::path& path) {
  const size_t size = size_hint(fd);
  if (size == 0) return false;
  char last = '\n';
  ssize_t n;
  do {
    n = ::pread(fd, &last, 1, static_cast<off_t>(size - 1));
  } while (n < 0 && errno == EINTR);
  if (n < 0) throw OSError("read " + path.string(), errno);
  return n == 1 && last != '\n';
}

}  // namespace

void append_line(const fs::path& path, std::string_view line, Durability durability) {
  const UniqueFd fd = open_file(path, O_RDWR | O_APPEND | O_CREAT, 0644);
  if (ends_without_line_break(fd.get(), path)) {
    // A torn earlier append: close its line first, in the same write as ours,
    // so the new record never fuses with the broken one.
    std::string mended;
    mended.reserve(line.size() + 1);
    mended += '\n';
    mended += line;
    write_all(fd.get(), mended, path);
  } else {
    write_all(fd.get(), line, path);
  }
  if (durability == Durability::flush) (void)flush_or_defer(fd.get());
}

namespace {

// lstat(2) below a confined directory (`confined` then set), stat(2)
// elsewhere: 0 or an errno.
int status_of(const fs::path& file, struct stat& st, bool& confined) noexcept {
  try {
    const std::optional<Located> where = locate_confined(file);
    confined = where.has_value();
    if (!where) return ::stat(file.c_str(), &st) == 0 ? 0 : errno;
    return ::fstatat(where->dir.get(), where->name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 ? 0 : errno;
  } catch (const OSError& error) {
    return error.code();
  } catch (const std::exception&) {
    return ENOMEM;
  }
}

}  // namespace

std::optional<struct stat> file_status(const fs::path& file) noexcept {
  struct stat st {};
  bool confined = false;
  if (status_of(file, st, confined) != 0) return std::nullopt;
  return st;
}

bool path_exists(const fs::path& file) noexcept {
  struct stat st {};
  bool confined = false;
  switch (status_of(file, st, confined)) {
    case 0:
      return !confined || S_ISREG(st.st_mode) || S_ISDIR(st.st_mode);
    case ENOENT:
    case ENOTDIR:
    case ELOOP:
    case EACCES:
    case ENAMETOOLONG:
      return false;
    default:
      // EIO, EMFILE and the like say nothing of the file: let its reader
      // meet the error and report it, rather than take it for absent.
      return true;
  }
}

void make_dirs(const fs::path& dir) {
  if (const std::optional<Located> where = locate_confined(dir, true)) {
    if (::mkdirat(where->dir.get(), where->name.c_str(), 0755) != 0 && errno != EEXIST) {
      throw OSError("mkdir " + dir.string(), errno);
    }
    open_at(*where, O_RDONLY | O_DIRECTORY, 0, dir);  // refuses a link or file in its place
    return;
  }
  std::error_code ec;
  fs::create_directories(dir, ec);
  if (ec) throw OSError("mkdir " + dir.string(), ec.value());
}

namespace {

int unlink_in(const fs::path& file, int flags) noexcept {
  try {
    const std::optional<Located> where = locate_confined(file);
    if (!where) {
      const int rc = flags == AT_REMOVEDIR ? ::rmdir(file.c_str()) : ::unlink(file.c_str());
      return rc == 0 ? 0 : errno;
    }
    return ::unlinkat(where->dir.get(), where->name.c_str(), flags) == 0 ? 0 : errno;
  } catch (const OSError& error) {
    return error.code();
  } catch (const std::exception&) {
    return EIO;
  }
}

}  // namespace

int remove_file(const fs::path& file) noexcept { return unlink_in(file, 0); }

void remove_empty_dir(const fs::path& dir) noexcept { (void)unlink_in(dir, AT_REMOVEDIR); }

void rename_file(const fs::path& from, const fs::path& to) {
  const Located source = locate(from);
  const Located target = locate(to);
  int rc;
  do {
    rc = ::renameat(source.dir.get(), source.name.c_str(), target.dir.get(), target.name.c_str());
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) throw OSError("rename " + from.string() + " to " + to.string(), errno);
}

std::vector<DirEntry> list_dir(const fs::path& dir) noexcept {
  std::vector<DirEntry> entries;
  try {
    UniqueFd fd = open_file(dir, O_RDONLY | O_DIRECTORY);
    DIR* listing = ::fdopendir(fd.get());
    if (listing == nullptr) return entries;
    fd.release();  // the listing owns it now
    while (const dirent* entry = ::readdir(listing)) {
      const std::string_view name = entry->d_name;
      if (name == "." || name == "..") continue;
      struct stat st {};
      const bool known = ::fstatat(::dirfd(listing), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0;
      entries.push_back({std::string(name), known && S_ISDIR(st.st_mode), known && S_ISREG(st.st_mode)});
    }
    ::closedir(listing);
  } catch (const std::exception&) {
    entries.clear();
  }
  return entries;
}

}  // namespace tamrik::core
