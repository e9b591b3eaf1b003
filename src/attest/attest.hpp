#pragma once
// What libattest.so offers the tamrik executable: the one header it includes
// from it (scripts/check-includes holds it to that). exports.map lists the
// same names for the linker; everything else in the library is its own.

#include "attest/add.hpp"          // `tamrik attest add`
#include "attest/group.hpp"        // `tamrik attest`
#include "attest/hook.hpp"         // the agent hook path, `attest add --from-hook`
#include "attest/nudge.hpp"        // the nudge about an unattested commit
#include "attest/usage_error.hpp"  // options that cannot go together
