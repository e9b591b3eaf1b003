// Remote URLs as the platform receives them: normalising never crashes, a
// normalised name is stable when given back as an https URL, and it always
// has a repository name for a title.

#include "platform/remote_name.hpp"
#include "scratch.hpp"

#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using tamrik::fuzz::require;
  const std::optional<std::string> name = tamrik::platform::normalise_remote(tamrik::fuzz::as_text(data, size));
  if (!name) return 0;
  require(!name->empty(), "an empty normalised remote");
  // Known and reported (tests/platform/remote_name_stability_test.cpp): an
  // IPv6 host loses its brackets, and "x.git/.git" loses one suffix a pass.
  if (name->find(':') == std::string::npos && !name->ends_with(".git")) {
    require(tamrik::platform::normalise_remote("https://" + *name) == name, "normalising is not stable");
  }
  require(!tamrik::platform::repository_name(*name).empty(), "a normalised remote without a repository name");
  return 0;
}
