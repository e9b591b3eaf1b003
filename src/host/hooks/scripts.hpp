#pragma once
// Texts tamrik hands to agents and writes into repositories for them.

#include <string_view>

namespace tamrik::hooks::scripts {

// A complete attestation document, every field an agent may write filled in
// with a plausible value and explained in comments: what `tamrik attest
// --example` prints and what .tamrik/example-attestation.yaml holds. It is
// framed by "---" lines like the pending file and passes
// validate_attestation_fields without errors or warnings.
std::string_view example_attestation();

}  // namespace tamrik::hooks::scripts
