// Remote URLs as the platform receives them: normalising never crashes, a
// normalised name gives itself back when read as an https URL, and it always
// has a repository name for a title.

#include "platform/remote_name.hpp"
#include "scratch.hpp"

#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using tamrik::fuzz::require;
  const std::optional<std::string> name = tamrik::platform::normalise_remote(tamrik::fuzz::as_text(data, size));
  if (!name) return 0;
  require(!name->empty(), "an empty normalised remote");
  require(tamrik::platform::normalise_remote("https://" + *name) == name, "normalising does not settle");
  require(!tamrik::platform::repository_name(*name).empty(), "a normalised remote without a repository name");
  return 0;
}
