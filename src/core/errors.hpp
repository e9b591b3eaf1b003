#pragma once
// Named errors. Every error tamrik throws carries a stable class name, so a
// failure can be reported by its kind alone: messages may hold paths, URLs or
// response bodies, class names never do.

#include <stdexcept>
#include <string>

namespace tamrik::core {

class Error : public std::runtime_error {
 public:
  Error(std::string class_name, const std::string& message);
  const std::string& class_name() const noexcept { return class_name_; }

 private:
  std::string class_name_;
};

// A failed system call on a file or process. `code()` is the errno value.
// The class name follows the errno: "FileNotFoundError" (ENOENT),
// "PermissionError" (EACCES, EPERM), "IsADirectoryError" (EISDIR),
// "FileExistsError" (EEXIST), "InterruptedError" (EINTR), else "OSError".
class OSError : public Error {
 public:
  // `what` names the operation and its target, e.g. "open /repo/.tamrik/log.jsonl".
  OSError(const std::string& what, int code);
  int code() const noexcept { return code_; }

 private:
  int code_;
};

// Text that is not valid YAML, or YAML we refuse to load (too deep, aliases).
class YAMLError : public Error {
 public:
  explicit YAMLError(const std::string& message) : Error("YAMLError", message) {}
};

// Text that is not valid JSON, or JSON we refuse to hold (too deep).
class JSONDecodeError : public Error {
 public:
  explicit JSONDecodeError(const std::string& message) : Error("JSONDecodeError", message) {}
};

// The class name of any exception: ours report their own; standard library
// exceptions map to a fixed name ("MemoryError" for bad_alloc, the OSError
// names above for a std::system_error carrying an errno value, such as
// std::filesystem_error, "ValueError" for invalid_argument/out_of_range/
// domain_error, "RuntimeError" otherwise).
std::string class_name_of(const std::exception& e);

}  // namespace tamrik::core
