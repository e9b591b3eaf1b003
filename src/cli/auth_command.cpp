#include "cli/auth_command.hpp"

#include "host/display/output.hpp"
#include "host/services/credentials.hpp"
#include "host/services/session_context.hpp"

#include <CLI/CLI.hpp>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>

namespace tamrik::cli {

namespace {

using display::output::console;
namespace session_context = services::session_context;

constexpr const char* kAuthFooter = R"(The key and URL are stored for your user in $XDG_CONFIG_HOME/tamrik/credentials.json
(~/.config/tamrik/credentials.json), readable by you only. TAMRIK_API_KEY and TAMRIK_API_URL
override them, for CI. The key is never printed.

  tamrik auth login --api-url https://tamrik.example.com     (then paste the key)
  printf '%s\n' "$KEY" | tamrik auth login --api-url URL     (from a secret store)
  tamrik auth status                                         (exit status 1 when signed out))";

struct LoginValues {
  std::string api_key;
  std::string api_url;
};

std::string environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

std::string trimmed(std::string text) {
  const size_t first = text.find_first_not_of(" \t\r\n");
  const size_t last = text.find_last_not_of(" \t\r\n");
  return first == std::string::npos ? "" : text.substr(first, last - first + 1);
}

// One line from stdin; on a terminal it is asked for and not echoed.
std::string read_key_from_stdin() {
  const bool terminal = ::isatty(STDIN_FILENO) == 1;
  termios saved {};
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
  return trimmed(line);
}

// The key goes into a request header: no blanks or control characters.
bool is_usable_key(const std::string& key) {
  return !key.empty() &&
         std::all_of(key.begin(), key.end(), [](char c) { return static_cast<unsigned char>(c) > 0x20 && c != 0x7f; });
}

int login(const LoginValues& values) {
  const std::string key = values.api_key.empty() ? read_key_from_stdin() : trimmed(values.api_key);
  if (key.empty()) {
    throw attest::UsageError("no API key given; pass --api-key KEY, or type or pipe it in when asked");
  }
  if (!is_usable_key(key)) throw attest::UsageError("the API key holds blanks or control characters; copy it again");
  std::string url = trimmed(values.api_url);
  if (url.empty()) url = session_context::resolve_session(".").api_url;
  if (url.empty()) {
    throw attest::UsageError("no platform address known yet; pass --api-url URL "
                             "(http://127.0.0.1:8787 for a local tamrik-platform)");
  }
  if (!url.starts_with("https://") && !url.starts_with("http://")) {
    throw attest::UsageError("the API URL must start with https:// (or http:// for this machine), got '" + url + "'");
  }
  while (url.ends_with("/")) url.pop_back();

  const std::filesystem::path file = services::credentials::save_credentials(key, url);
  console().success("Signed in to " + url + "; the key is stored in " + file.string() + " (readable by you only).");
  if (!environment("TAMRIK_API_KEY").empty()) {
    console().warning("TAMRIK_API_KEY is set in this environment and is used instead of the stored key.");
  }
  return 0;
}

// Where a value in use comes from: its variable, or the credentials file.
std::string source_of(const char* variable) {
  if (!environment(variable).empty()) return variable;
  const std::optional<std::filesystem::path> file = session_context::credentials_file();
  return file ? file->string() : "nowhere";
}

int status() {
  const session_context::Session session = session_context::resolve_session(".");
  if (!session.signed_in()) {
    console().print(std::string("Not signed in") + (session.api_key.empty() ? " (no API key)" : " (no platform URL)") +
                    " — run `tamrik auth login --api-url URL`.");
    return 1;
  }
  console().print("Signed in to " + session.api_url);
  console().print("  key: set, from " + source_of("TAMRIK_API_KEY"));
  console().print("  url: from " + source_of("TAMRIK_API_URL"));
  return 0;
}

int logout() {
  if (services::credentials::remove_credentials()) {
    console().success("Signed out: the stored key is removed.");
  } else {
    console().info("No stored key to remove.");
  }
  if (!environment("TAMRIK_API_KEY").empty()) {
    console().warning("TAMRIK_API_KEY is still set in this environment; unset it to sign out completely.");
  }
  return 0;
}

}  // namespace

void add_auth_command(CLI::App& parent, attest::SelectedCommand& selected) {
  CLI::App* auth = parent.add_subcommand("auth", "Sign in to the platform, or out, and show which key is in use.");
  auth->footer(kAuthFooter);
  auth->require_subcommand(1);

  CLI::App* login_command = auth->add_subcommand(
      "login", "Store an API key and the platform's URL for your user. Without --api-key the key is read from stdin.");
  auto values = std::make_shared<LoginValues>();
  login_command->add_option("--api-key", values->api_key, "The API key (reading it from stdin keeps it out of shell history).");
  login_command->add_option("--api-url", values->api_url, "The platform's URL; defaults to the one stored before.");
  login_command->callback([login_command, values, &selected] {
    selected = {login_command, [values] { return login(*values); }};
  });

  CLI::App* status_command = auth->add_subcommand("status", "Show whether you are signed in, and where the key comes from.");
  status_command->callback([status_command, &selected] { selected = {status_command, status}; });

  CLI::App* logout_command = auth->add_subcommand("logout", "Remove the stored API key.");
  logout_command->callback([logout_command, &selected] { selected = {logout_command, logout}; });
}

}  // namespace tamrik::cli
