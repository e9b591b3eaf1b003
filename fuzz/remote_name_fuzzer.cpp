// Remote URLs as the platform receives them: normalising never crashes, a
// normalised name settles when given back as an https URL, and it always has
// a repository name for a title.

#include "platform/remote_name.hpp"
#include "scratch.hpp"

#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using tamrik::fuzz::require;
  const std::optional<std::string> name = tamrik::platform::normalise_remote(tamrik::fuzz::as_text(data, size));
  if (!name) return 0;
  require(!name->empty(), "an empty normalised remote");
  // Known and reported (tests/platform/remote_name_stability_test.cpp): a
  // name read back as a URL may change once more (an IPv6 host, "x.git/.git",
  // a blank before a slash); after that it must be settled.
  const auto again = [](const std::string& text) { return tamrik::platform::normalise_remote("https://" + text); };
  const std::optional<std::string> second = again(*name);
  // "x.git.git" loses one ".git" a pass, however many there are, and blank
  // path segments one blank a pass.
  if (second && !second->empty() && !second->ends_with(".git") && second->find_first_of(" \t") == std::string::npos) {
    require(again(*second) == second, "normalising does not settle");
  }
  require(!tamrik::platform::repository_name(*name).empty(), "a normalised remote without a repository name");
  return 0;
}
