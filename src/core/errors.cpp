#include "core/errors.hpp"

#include <cerrno>
#include <cstring>
#include <new>
#include <system_error>

namespace tamrik::core {

namespace {

std::string os_error_class(int code) {
  switch (code) {
    case ENOENT:
      return "FileNotFoundError";
    case EACCES:
    case EPERM:
      return "PermissionError";
    case EISDIR:
      return "IsADirectoryError";
    case EEXIST:
      return "FileExistsError";
    case EINTR:
      return "InterruptedError";
    default:
      return "OSError";
  }
}

std::string describe_errno(int code) {
  char buffer[256];
  // The GNU strerror_r returns its text, which need not be in `buffer`.
  return strerror_r(code, buffer, sizeof buffer);
}

}  // namespace

Error::Error(std::string class_name, const std::string& message)
    : std::runtime_error(message), class_name_(std::move(class_name)) {}

OSError::OSError(const std::string& what, int code)
    : Error(os_error_class(code), what + ": " + describe_errno(code)), code_(code) {}

std::string class_name_of(const std::exception& e) {
  if (const auto* ours = dynamic_cast<const Error*>(&e)) return ours->class_name();
  if (dynamic_cast<const std::bad_alloc*>(&e)) return "MemoryError";
  if (const auto* system = dynamic_cast<const std::system_error*>(&e)) {
    // std::filesystem and std::thread report errno values this way.
    const auto& category = system->code().category();
    if (category == std::generic_category() || category == std::system_category()) {
      return os_error_class(system->code().value());
    }
  }
  if (dynamic_cast<const std::invalid_argument*>(&e) || dynamic_cast<const std::out_of_range*>(&e) ||
      dynamic_cast<const std::domain_error*>(&e)) {
    return "ValueError";
  }
  return "RuntimeError";
}

}  // namespace tamrik::core
