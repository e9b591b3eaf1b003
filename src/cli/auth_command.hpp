#pragma once
// `tamrik auth login | status | logout`: the user's sign-in to the
// platform, kept per user (never in a repository).

#include "synccore/synccore.hpp"

#include <string>

namespace tamrik::cli {

struct LoginOptions {
  std::string api_key;  // read from stdin when empty
  std::string api_url;  // the one in use before when empty
  bool offline = false;
};

int run_auth_login(const LoginOptions& options, const display::output::Console& console);
int run_auth_status(const display::output::Console& console);
int run_auth_logout(const display::output::Console& console);

}  // namespace tamrik::cli
