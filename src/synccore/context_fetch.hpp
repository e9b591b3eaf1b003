#pragma once
// The fetches of one context refresh, run at once on a worker pool.
// Internal to the refresh.

#include "host/services/context_cache.hpp"

#include <exception>
#include <map>
#include <string>
#include <string_view>

namespace tamrik::synccore::detail {

struct FetchedContext {
  // Every document asked for: the fetched ones with status 200 or 304, the
  // failed ones with the failure's HTTP status (0 when no answer came).
  services::context_cache::Documents documents;
  // The first failure of a fetch the refresh cannot do without, if any.
  std::exception_ptr needed_failure;
};

// Fetches the project's context documents with `etags` (by document) for
// the conditional ones. Failures of optional fetches are logged as
// non-fatal. Throws nothing itself; fetch failures are in the result.
FetchedContext fetch_context_documents(std::string_view api_key, std::string_view api_url, const core::Json& project_id,
                                       const std::map<std::string, std::string>& etags, std::size_t workers);

}  // namespace tamrik::synccore::detail
