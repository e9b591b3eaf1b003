#include "core/file_io.hpp"

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

UniqueFd open_file(const fs::path& path, int flags, int mode) {
  int fd;
  do {
    fd = ::open(path.c_str(), flags | O_CLOEXEC, mode);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) throw OSError("open " + path.string(), errno);
  return lift_above_stdio(UniqueFd(fd), path);
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

namespace {

// The size now, as a hint only: the file may grow or shrink while we read.
size_t size_hint(int fd) {
  struct stat st {};
  if (::fstat(fd, &st) != 0 || st.st_size < 0) return 0;
  return static_cast<size_t>(st.st_size);
}

}  // namespace

std::string read_file(const fs::path& path) {
  const UniqueFd fd = open_file(path, O_RDONLY);
  std::string bytes;
  // One byte beyond the size, so an unchanged file reaches EOF without growing.
  bytes.resize(size_hint(fd.get()) + 1);
  size_t used = 0;
  for (;;) {
    if (used == bytes.size()) bytes.resize(std::max<size_t>(bytes.size() * 2, 64 * 1024));
    const ssize_t n = ::read(fd.get(), bytes.data() + used, bytes.size() - used);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw OSError("read " + path.string(), errno);
    }
    if (n == 0) break;
    used += static_cast<size_t>(n);
  }
  bytes.resize(used);
  return bytes;
}

std::optional<std::string> try_read_file(const fs::path& path) {
  try {
    return read_file(path);
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

namespace {

// fsync(2), retried only when a signal interrupted it.
int fsync_retrying_eintr(int fd) {
  int rc;
  do {
    rc = ::fsync(fd);
  } while (rc != 0 && errno == EINTR);
  return rc;
}

void fsync_or_throw(int fd, const fs::path& path) {
  // No retry after an error: the kernel may have dropped the dirty pages,
  // so a second fsync could report success for lost data.
  if (fsync_retrying_eintr(fd) != 0) throw OSError("fsync " + path.string(), errno);
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

// A temporary file beside the target, removed unless it was renamed away.
class TempFile {
 public:
  explicit TempFile(const fs::path& target) {
    const fs::path dir = target.parent_path();
    for (int attempt = 0;; ++attempt) {
      path_ = dir / temp_name_for(target);
      try {
        fd_ = open_file(path_, O_WRONLY | O_CREAT | O_EXCL, 0600);
        return;
      } catch (const OSError& e) {
        if (e.code() != EEXIST || attempt == 10) throw;
      }
    }
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  ~TempFile() {
    fd_.close();
    if (!renamed_) ::unlink(path_.c_str());
  }

  const fs::path& path() const { return path_; }
  int fd() const { return fd_.get(); }

  void close() {
    // A failed close can be the first report of a failed write (NFS, quotas).
    if (const int error = fd_.close(); error != 0) throw OSError("close " + path_.string(), error);
  }

  void rename_to(const fs::path& target) {
    int rc;
    do {
      rc = ::rename(path_.c_str(), target.c_str());
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
      throw OSError("rename " + path_.string() + " to " + target.string(), errno);
    }
    renamed_ = true;
  }

 private:
  fs::path path_;
  UniqueFd fd_;
  bool renamed_ = false;
};

void fsync_directory(const fs::path& dir) {
  const UniqueFd fd = open_file(dir, O_RDONLY | O_DIRECTORY);
  if (fsync_retrying_eintr(fd.get()) != 0 && errno != EINVAL && errno != ENOTSUP) {
    // EINVAL/ENOTSUP: a file system that cannot flush directories at all.
    throw OSError("fsync " + dir.string(), errno);
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
  DIR* listing = ::opendir(dir.c_str());
  if (listing == nullptr) return;
  while (const dirent* entry = ::readdir(listing)) {
    const pid_t owner = temp_file_owner(entry->d_name, prefix);
    // ESRCH: no such process. Any other answer may be a live writer.
    if (owner > 0 && ::kill(owner, 0) != 0 && errno == ESRCH) ::unlink((dir / entry->d_name).c_str());
  }
  ::closedir(listing);
}

void replace_file_atomically(const fs::path& target, std::string_view bytes, Durability durability) {
  const bool flush = durability == Durability::flush;
  TempFile temp(target);
  write_all(temp.fd(), bytes, temp.path());
  if (flush) fsync_or_throw(temp.fd(), temp.path());
  temp.close();
  temp.rename_to(target);
  if (flush) fsync_directory(target.has_parent_path() ? target.parent_path() : fs::path("."));
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
  if (durability == Durability::flush) (void)fsync_retrying_eintr(fd.get());
}

bool path_exists(const fs::path& file) noexcept {
  std::error_code ec;
  return fs::exists(file, ec);
}

void make_dirs(const fs::path& dir) {
  std::error_code ec;
  fs::create_directories(dir, ec);
  if (ec) throw OSError("mkdir " + dir.string(), ec.value());
}

}  // namespace tamrik::core
