// An LD_PRELOAD library that fails one chosen file-system call, so tests can
// show what the product does with ENOSPC, EIO or EINTR at every call
// position of an operation. It wraps open, openat, write, fsync, fdatasync,
// rename, renameat and close, and counts only calls on paths under
// TAMRIK_FAULT_ROOT (and on descriptors opened there): the test's own files.
//
//   TAMRIK_FAULT_ROOT    absolute directory whose files are counted (required)
//   TAMRIK_FAULT_NTH     1-based position of the call to fail; 0 or unset
//                        fails none and only counts
//   TAMRIK_FAULT_ERRNO   ENOSPC, EIO, EINTR or a number
//   TAMRIK_FAULT_REPEAT  "1": also fail every counted call after the N-th
//   TAMRIK_FAULT_REPORT  file written at exit: one line per counted call,
//                        "<position> <call> <path> [failed]"
//   TAMRIK_FAULT_NO_LOCKS "1": every flock() fails with ENOLCK, as on a
//                        network file system without locks (not counted)
//
// The variables are removed from the environment at load, with LD_PRELOAD,
// so the child processes the product starts (git) run unfaulted.

#include <dlfcn.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace {

constexpr int kMaxTrackedFd = 1 << 16;

// Plain data only: the loader may run load_config() before any C++ static
// initialiser of this file.
struct Config {
  bool active;
  const char* root;  // ends in '/'
  size_t root_length;
  long nth;
  int error;
  bool repeat;
  bool no_locks;
  const char* report_path;
};

Config config;
long position = 0;
std::string* report = nullptr;
// The path each counted descriptor was opened with; empty when not counted.
std::string* tracked = nullptr;

int errno_named(const std::string& name) {
  if (name == "ENOSPC") return ENOSPC;
  if (name == "EINTR") return EINTR;
  if (name == "EDQUOT") return EDQUOT;
  return name.empty() || name == "EIO" ? EIO : atoi(name.c_str());
}

// The variable's value, copied: unsetenv() may free the original.
std::string take_env(const char* name) {
  const char* value = getenv(name);
  return value == nullptr ? "" : value;
}

__attribute__((constructor)) void load_config() {
  const std::string root = take_env("TAMRIK_FAULT_ROOT");
  const std::string nth = take_env("TAMRIK_FAULT_NTH");
  const std::string error = take_env("TAMRIK_FAULT_ERRNO");
  const std::string repeat = take_env("TAMRIK_FAULT_REPEAT");
  const std::string report_path = take_env("TAMRIK_FAULT_REPORT");
  const std::string no_locks = take_env("TAMRIK_FAULT_NO_LOCKS");
  for (const char* name : {"TAMRIK_FAULT_ROOT", "TAMRIK_FAULT_NTH", "TAMRIK_FAULT_ERRNO", "TAMRIK_FAULT_REPEAT",
                           "TAMRIK_FAULT_REPORT", "TAMRIK_FAULT_NO_LOCKS", "LD_PRELOAD"}) {
    unsetenv(name);
  }
  if (root.empty() || root[0] != '/') return;
  config.root = strdup((root.back() == '/' ? root : root + "/").c_str());
  config.root_length = strlen(config.root);
  config.nth = atol(nth.c_str());
  config.error = errno_named(error);
  config.repeat = repeat == "1";
  config.no_locks = no_locks == "1";
  config.report_path = report_path.empty() ? nullptr : strdup(report_path.c_str());
  report = new std::string;
  tracked = new std::string[kMaxTrackedFd];
  config.active = true;
}

template <typename Fn>
Fn real(const char* name) {
  return reinterpret_cast<Fn>(dlsym(RTLD_NEXT, name));
}

bool under_root(const char* path) {
  return config.active && path != nullptr && strncmp(path, config.root, config.root_length) == 0;
}

const std::string* tracked_path(int fd) {
  if (!config.active || fd < 0 || fd >= kMaxTrackedFd || tracked[fd].empty()) return nullptr;
  return &tracked[fd];
}

// Counts one call; true when it is to fail (errno is then set).
bool inject(const char* call, const std::string& path) {
  ++position;
  const bool fail = config.nth > 0 && (position == config.nth || (config.repeat && position > config.nth));
  *report += std::to_string(position) + " " + call + " " + path + (fail ? " failed" : "") + "\n";
  if (fail) errno = config.error;
  return fail;
}

void track(int fd, const char* path) {
  if (fd >= 0 && fd < kMaxTrackedFd) tracked[fd] = path;
}

// The path a call names: `path` itself, or joined to the directory `dirfd`
// was opened on when it is relative to one (the *at() calls).
std::string full_path(int dirfd, const char* path) {
  if (path == nullptr) return "";
  if (path[0] == '/' || dirfd == AT_FDCWD || !config.active) return path;
  char dir[4096];
  const ssize_t n = readlink(("/proc/self/fd/" + std::to_string(dirfd)).c_str(), dir, sizeof dir);
  return n <= 0 ? std::string(path) : std::string(dir, static_cast<size_t>(n)) + "/" + path;
}

int open_common(const char* call, int dirfd, const char* path, int flags, mode_t mode) {
  const std::string named = full_path(dirfd, path);
  if (under_root(named.c_str()) && inject(call, named)) return -1;
  using OpenAt = int (*)(int, const char*, int, ...);
  static const OpenAt real_openat = real<OpenAt>("openat");
  const int fd = real_openat(dirfd, path, flags, mode);
  if (under_root(named.c_str())) track(fd, named.c_str());
  return fd;
}

mode_t mode_argument(int flags, va_list args) {
  return (flags & (O_CREAT | O_TMPFILE)) != 0 ? static_cast<mode_t>(va_arg(args, int)) : 0;
}

__attribute__((destructor)) void write_report() {
  if (!config.active || config.report_path == nullptr) return;
  FILE* out = fopen(config.report_path, "w");
  if (out == nullptr) return;
  fputs(report->c_str(), out);
  fclose(out);
}

}  // namespace

extern "C" {

int flock(int fd, int operation) {
  if (config.active && config.no_locks) {
    errno = ENOLCK;
    return -1;
  }
  using Flock = int (*)(int, int);
  static const Flock real_flock = real<Flock>("flock");
  return real_flock(fd, operation);
}

int open(const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  const mode_t mode = mode_argument(flags, args);
  va_end(args);
  return open_common("open", AT_FDCWD, path, flags, mode);
}

int open64(const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  const mode_t mode = mode_argument(flags, args);
  va_end(args);
  return open_common("open", AT_FDCWD, path, flags, mode);
}

int openat(int dirfd, const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  const mode_t mode = mode_argument(flags, args);
  va_end(args);
  return open_common("open", dirfd, path, flags, mode);
}

int openat64(int dirfd, const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  const mode_t mode = mode_argument(flags, args);
  va_end(args);
  return open_common("open", dirfd, path, flags, mode);
}

ssize_t write(int fd, const void* buffer, size_t count) {
  if (const std::string* path = tracked_path(fd); path != nullptr && inject("write", *path)) return -1;
  static const auto real_write = real<ssize_t (*)(int, const void*, size_t)>("write");
  return real_write(fd, buffer, count);
}

int fsync(int fd) {
  if (const std::string* path = tracked_path(fd); path != nullptr && inject("fsync", *path)) return -1;
  static const auto real_fsync = real<int (*)(int)>("fsync");
  return real_fsync(fd);
}

int fdatasync(int fd) {
  if (const std::string* path = tracked_path(fd); path != nullptr && inject("fdatasync", *path)) return -1;
  static const auto real_fdatasync = real<int (*)(int)>("fdatasync");
  return real_fdatasync(fd);
}

int close(int fd) {
  static const auto real_close = real<int (*)(int)>("close");
  const std::string* path = tracked_path(fd);
  if (path == nullptr) return real_close(fd);
  const std::string name = *path;
  tracked[fd].clear();
  // Like Linux, a failed close still releases the descriptor.
  const int rc = real_close(fd);
  if (inject("close", name)) return -1;
  return rc;
}

int rename(const char* from, const char* to) {
  if (under_root(from) && inject("rename", from)) return -1;
  static const auto real_rename = real<int (*)(const char*, const char*)>("rename");
  return real_rename(from, to);
}

int renameat(int from_dir, const char* from, int to_dir, const char* to) {
  const std::string named = full_path(from_dir, from);
  if (under_root(named.c_str()) && inject("rename", named)) return -1;
  static const auto real_renameat = real<int (*)(int, const char*, int, const char*)>("renameat");
  return real_renameat(from_dir, from, to_dir, to);
}

}  // extern "C"
