#include "cli/auth_command.hpp"

#include "attest/attest.hpp"
#include "synccore/synccore.hpp"

#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <string>

namespace tamrik::cli {

namespace {

using display::output::Console;
namespace http_client = protocol::http_client;
namespace session_context = services::session_context;

// The most the check of a key and URL waits for the platform.
constexpr double kCheckSeconds = 15;

std::string environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

// One line from stdin; on a terminal it is asked for and not echoed.
std::string read_key_from_stdin() {
  const bool terminal = ::isatty(STDIN_FILENO) == 1;
  termios saved{};
  if (terminal && ::tcgetattr(STDIN_FILENO, &saved) == 0) {
    std::fputs("API key: ", stderr);
    termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
  }
  std::string line;
  std::getline(std::cin, line);
  if (terminal) {
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
    std::fputs("\n", stderr);
  }
  return std::string(core::trim(line));
}

// The key goes into a request header: no blanks or control characters.
bool is_usable_key(const std::string& key) {
  return !key.empty() &&
         std::all_of(key.begin(), key.end(), [](char c) { return static_cast<unsigned char>(c) > 0x20 && c != 0x7f; });
}

// Where a value in use comes from: its variable, or the credentials file.
std::string source_of(const char* variable) {
  if (!environment(variable).empty()) return variable;
  const std::optional<std::filesystem::path> file = session_context::credentials_file();
  return file ? file->string() : "nowhere";
}

// The platform to sign in to, checked as every request checks it: the URL
// given, or else the one in use, which the person is told the key is for.
std::string platform_url(const LoginOptions& values, const Console& console) {
  std::string url(core::trim(values.api_url));
  const bool given = !url.empty();
  if (!given) url = session_context::resolve_session(".").api_url;
  if (url.empty()) {
    throw attest::UsageError(
        "no platform address known yet; pass --api-url URL "
        "(http://127.0.0.1:8787 for a local tamrik-platform)");
  }
  try {
    url = http_client::checked_api_url(url);
  } catch (const http_client::ConfigurationError& e) {
    throw attest::UsageError("cannot sign in to '" + core::printable_text(url) + "': " + e.what());
  }
  if (!given) {
    console.info("No --api-url given: the key is for " + url + " (from " + source_of("TAMRIK_API_URL") +
                 "); pass --api-url URL to sign in to another platform.");
  }
  return url;
}

// The status of a refusal, whether or not it carried a refusal code.
std::optional<int> refusal_status(const http_client::PlatformError& error) {
  if (const auto* refusal = dynamic_cast<const http_client::AgentApiError*>(&error)) return refusal->status;
  if (const auto* answer = dynamic_cast<const http_client::HTTPError*>(&error)) return answer->status;
  return std::nullopt;
}

void explain_failed_check(const http_client::PlatformError& error, const std::string& url, const Console& console) {
  constexpr std::string_view kOffline = "use --offline to store the key anyway";
  const std::optional<int> status = refusal_status(error);
  if (status == 401) {
    console.error("API key rejected by " + url + ": check the key and run `tamrik auth login` again.");
  } else if (status == 404) {
    console.error(url +
                  " does not answer the sign-in check (HTTP 404): check the URL for a typo; a platform "
                  "older than API version 1.1 cannot check keys, " +
                  std::string(kOffline) + ".");
  } else if (status) {
    console.error("The platform at " + url + " refused the key: " + error.what() + ".");
  } else if (dynamic_cast<const http_client::ConnectionError*>(&error) != nullptr ||
             dynamic_cast<const http_client::TimeoutError*>(&error) != nullptr) {
    console.error("Could not reach " + url + ": is the platform running? " + std::string(kOffline) + ".");
  } else {
    console.error(std::string(error.what()) + "; " + std::string(kOffline) + ".");
  }
}

// Checks the key and the URL with one request. The member the key belongs
// to, or nullopt once the failure is explained.
std::optional<http_client::Member> checked_member(const std::string& key, const std::string& url,
                                                  const Console& console) {
  const auto budget = http_client::network_budget(kCheckSeconds);
  try {
    return http_client::fetch_member(key, url);
  } catch (const http_client::PlatformError& e) {
    explain_failed_check(e, url, console);
    return std::nullopt;
  }
}

// " (team 1)", " (teams 3, 7)", or nothing when the platform named none.
std::string teams_text(const std::vector<long long>& team_ids) {
  if (team_ids.empty()) return "";
  std::string text = team_ids.size() == 1 ? " (team " : " (teams ";
  for (size_t i = 0; i < team_ids.size(); ++i) text += (i == 0 ? "" : ", ") + std::to_string(team_ids[i]);
  return text + ")";
}

}  // namespace

int run_auth_login(const LoginOptions& values, const Console& console) {
  const std::string key = values.api_key.empty() ? read_key_from_stdin() : std::string(core::trim(values.api_key));
  if (key.empty()) {
    throw attest::UsageError("no API key given; pass --api-key KEY, or type or pipe it in when asked");
  }
  if (!is_usable_key(key)) throw attest::UsageError("the API key holds blanks or control characters; copy it again");
  const std::string url = platform_url(values, console);

  std::string signed_in_as;
  if (!values.offline) {
    const std::optional<http_client::Member> member = checked_member(key, url, console);
    if (!member) {
      console.info("Nothing was stored; the sign-in in use before is unchanged.");
      return 1;
    }
    signed_in_as = " as " + member->label + teams_text(member->team_ids);
  }
  const std::filesystem::path file = services::credentials::save_credentials(key, url);
  if (values.offline) {
    console.success("Stored the key for " + url + " in " + file.string() +
                    " (readable by you only), unchecked (--offline): the next `tamrik sync` shows whether "
                    "the platform accepts it.");
  } else {
    console.success("Signed in to " + url + signed_in_as + "; the key is stored in " + file.string() +
                    " (readable by you only).");
  }
  if (!environment("TAMRIK_API_KEY").empty()) {
    console.warning("TAMRIK_API_KEY is set in this environment and is used instead of the stored key.");
  }
  return 0;
}

int run_auth_status(const Console& console) {
  const session_context::Session session = session_context::resolve_session(".");
  if (!session.signed_in()) {
    console.print(std::string("Not signed in") + (session.api_key.empty() ? " (no API key)" : " (no platform URL)") +
                  " — run `tamrik auth login --api-url URL`.");
    return 1;
  }
  console.print("Signed in to " + session.api_url);
  console.print("  key: set, from " + source_of("TAMRIK_API_KEY"));
  console.print("  url: from " + source_of("TAMRIK_API_URL"));
  return 0;
}

int run_auth_logout(const Console& console) {
  if (services::credentials::remove_credentials()) {
    console.success("Signed out: the stored key is removed.");
  } else {
    console.info("No stored key to remove.");
  }
  if (!environment("TAMRIK_API_KEY").empty()) {
    console.warning("TAMRIK_API_KEY is still set in this environment; unset it to sign out completely.");
  }
  return 0;
}

}  // namespace tamrik::cli
