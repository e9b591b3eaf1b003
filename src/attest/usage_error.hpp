#pragma once
// A command's options that cannot go together, found while it runs (the
// parser cannot judge them: whether a pending attestation waits decides
// which options `tamrik attest add` needs). The command line shows the
// command's usage with the message and exits with status 2.

#include "synccore/synccore.hpp"

#include <string>

namespace tamrik::attest {

class UsageError : public core::Error {
 public:
  explicit UsageError(const std::string& message) : Error("UsageError", message) {}
};

}  // namespace tamrik::attest
