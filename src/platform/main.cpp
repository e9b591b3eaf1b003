// tamrik-platform: a small self-hosted platform server for tamrik.
//
//   tamrik-platform serve --db FILE|postgresql://... [--listen HOST:PORT] [--api-key KEY]...
//                         [--context-dir DIR] [--header-timeout SECONDS]
//                         [--body-min-rate BYTES] [--max-connections N]
//                         [--max-connections-per-client N]
//
//   tamrik-platform teams add NAME [--db DB]
//   tamrik-platform members add NAME --team ID... [--db DB]
//   tamrik-platform keys add --member ID [--db DB]
//   tamrik-platform keys revoke KEY|ID [--db DB]
//
// Prints "listening on HOST:PORT" on stdout once it accepts connections, one
// line per request on stderr, and stops cleanly on SIGINT or SIGTERM.

#include "platform/admin_commands.hpp"
#include "platform/api_keys.hpp"
#include "platform/callers.hpp"
#include "platform/context_files.hpp"
#include "platform/guarded_server.hpp"
#include "platform/routes.hpp"
#include "platform/storage.hpp"

#include <CLI/CLI.hpp>
#include <httplib.h>
#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <optional>
#include <thread>

namespace tamrik::platform {

namespace {

struct ServeOptions {
  std::string db;
  std::string listen = "127.0.0.1:8787";
  std::vector<std::string> api_keys;
  std::optional<std::string> context_dir;
  ConnectionLimits limits;
  int header_seconds = static_cast<int>(limits.header_time.count());
};

struct ListenAddress {
  std::string host;
  int port = 0;
};

// "host:port" or "[v6]:port".
std::optional<ListenAddress> parse_listen(std::string_view text) {
  const auto colon = text.rfind(':');
  if (colon == std::string_view::npos || colon == 0) return std::nullopt;
  std::string_view host = text.substr(0, colon);
  if (host.starts_with('[') && host.ends_with(']')) host = host.substr(1, host.size() - 2);
  const std::string_view digits = text.substr(colon + 1);
  int port = -1;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), port);
  if (host.empty() || error != std::errc() || end != digits.data() + digits.size() || port < 0 || port > 65535) {
    return std::nullopt;
  }
  return ListenAddress{std::string(host), port};
}

bool is_loopback(const std::string& host) { return host == "localhost" || host == "::1" || host.starts_with("127."); }

std::string shown_address(const ListenAddress& address) {
  const bool v6 = address.host.find(':') != std::string::npos;
  return (v6 ? "[" + address.host + "]" : address.host) + ":" + std::to_string(address.port);
}

void report_bind_failure(const std::string& listen, int error) {
  if (error == EADDRINUSE) {
    std::fprintf(stderr,
                 "tamrik-platform: cannot listen on %s: address already in use; another server holds the port. "
                 "Stop it, or pick another port with --listen\n",
                 listen.c_str());
  } else {
    std::fprintf(stderr, "tamrik-platform: cannot listen on %s: %s\n", listen.c_str(),
                 error != 0 ? std::strerror(error) : "the address is not available here");
  }
}

// Waits for SIGINT or SIGTERM (blocked in every thread, so only sigwait sees
// them) and stops the server, again until it has really stopped: a signal
// that lands between bind and listen must not be lost.
class StopOnSignal {
 public:
  StopOnSignal(GuardedServer& server, const sigset_t& signals)
      : thread_([this, &server, signals] {
          int received = 0;
          sigwait(&signals, &received);
          while (!listen_returned_) {
            server.stop_listening();
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
          }
        }) {}

  // Called once listen has returned, for whatever reason.
  ~StopOnSignal() {
    listen_returned_ = true;
    // The thread waits in sigwait for exactly this signal: it wakes it.
    pthread_kill(thread_.native_handle(), SIGTERM);  // NOLINT(bugprone-bad-signal-to-kill-thread)
    thread_.join();
  }
  StopOnSignal(const StopOnSignal&) = delete;
  StopOnSignal& operator=(const StopOnSignal&) = delete;

 private:
  std::atomic<bool> listen_returned_{false};
  std::thread thread_;
};

// The database --db names, else TAMRIK_PLATFORM_DB's (where a PostgreSQL
// password stays off the process list); empty when neither is set.
std::string database_of(const std::string& given) {
  if (!given.empty()) return given;
  const char* env = std::getenv("TAMRIK_PLATFORM_DB");
  return env != nullptr ? env : "";
}

int no_database() {
  std::fputs("tamrik-platform: no database: pass --db FILE or --db postgresql://..., or set TAMRIK_PLATFORM_DB\n",
             stderr);
  return 2;
}

// A command on the database --db or TAMRIK_PLATFORM_DB names.
int on_database(const std::string& given, const std::function<int(const std::string&)>& command) {
  const std::string db = database_of(given);
  return db.empty() ? no_database() : command(db);
}

int serve(const ServeOptions& options, const std::string& db) {
  const char* env_keys = std::getenv("TAMRIK_PLATFORM_API_KEYS");
  const ApiKeys keys(options.api_keys, env_keys != nullptr ? env_keys : "");
  const std::optional<ListenAddress> address = parse_listen(options.listen);
  if (!address) {
    std::fprintf(stderr, "tamrik-platform: --listen wants HOST:PORT, e.g. 127.0.0.1:8787 (got %s)\n",
                 options.listen.c_str());
    return 2;
  }
  if (!is_loopback(address->host)) {
    std::fprintf(stderr,
                 "tamrik-platform: warning: listening on %s: API keys cross the network in clear text "
                 "unless a TLS proxy fronts this server\n",
                 address->host.c_str());
  }

  // A client that hangs up mid-answer must not end the server.
  signal(SIGPIPE, SIG_IGN);

  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  // Before any thread starts, so all of them inherit the mask.
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

  std::unique_ptr<Storage> storage;
  try {
    storage = open_storage(db);
  } catch (const core::Error& e) {
    std::fprintf(stderr, "tamrik-platform: %s\n", e.what());
    return 1;
  }
  if (keys.empty() && !storage->has_member_keys()) {
    std::fputs(
        "tamrik-platform: no API key: pass --api-key KEY, set TAMRIK_PLATFORM_API_KEYS, or add a member's "
        "key with `tamrik-platform keys add --member ID`\n",
        stderr);
    return 2;
  }
  const Callers callers(keys, *storage);
  const ContextFiles context(options.context_dir);
  ConnectionLimits limits = options.limits;
  limits.header_time = std::chrono::seconds(options.header_seconds);
  GuardedServer server(limits);
  install_routes(server, *storage, context, callers);

  ListenAddress bound = *address;
  errno = 0;
  if (address->port == 0) {
    bound.port = server.bind_to_any_port(address->host);
  } else if (!server.bind_to_port(address->host, address->port)) {
    bound.port = -1;
  }
  if (bound.port <= 0) {
    report_bind_failure(options.listen, errno);
    return 1;
  }
  {
    const StopOnSignal stop_on_signal(server, stop_signals);
    std::printf("listening on %s\n", shown_address(bound).c_str());
    std::fflush(stdout);
    server.listen_after_bind();
  }
  std::fputs("tamrik-platform: stopped\n", stderr);
  return 0;
}

}  // namespace

}  // namespace tamrik::platform

int main(int argc, char** argv) {
  CLI::App app{"tamrik-platform: a small self-hosted platform server for tamrik"};
  app.require_subcommand(1);
  tamrik::platform::ServeOptions options;
  CLI::App* serve = app.add_subcommand("serve", "Serve the platform API");
  serve->add_option("--db", options.db,
                    "the database: a SQLite file, created when missing, or a postgresql:// URI (or set "
                    "TAMRIK_PLATFORM_DB, which keeps a password off the process list)");
  serve->add_option("--listen", options.listen, "HOST:PORT to listen on; port 0 picks a free port")
      ->capture_default_str();
  serve->add_option("--api-key", options.api_keys,
                    "an API key to accept; repeat for more (or set TAMRIK_PLATFORM_API_KEYS, comma-separated)");
  serve->add_option("--context-dir", options.context_dir, "directory of the context documents to serve")
      ->check(CLI::ExistingDirectory);
  serve
      ->add_option("--header-timeout", options.header_seconds,
                   "seconds a client has to send a request's line and headers; also the grace before a body's "
                   "minimum rate counts")
      ->check(CLI::Range(1, 3600))
      ->capture_default_str();
  serve
      ->add_option("--body-min-rate", options.limits.body_min_rate,
                   "bytes per second a request body must arrive at, on average; a slower client is cut off")
      ->check(CLI::PositiveNumber)
      ->capture_default_str();
  serve
      ->add_option("--max-connections", options.limits.max_connections,
                   "connections served at once, each on a thread of its own; more are closed at once")
      ->check(CLI::Range(1, 10000))
      ->capture_default_str();
  serve
      ->add_option("--max-connections-per-client", options.limits.per_client,
                   "connections one client address may hold open at once; more are closed at once")
      ->check(CLI::PositiveNumber)
      ->capture_default_str();
  // The administrator's commands.
  std::string admin_db;
  std::string name;
  std::vector<long long> team_ids;
  long long member_id = 0;
  std::string key_or_id;
  const auto with_db = [&admin_db](CLI::App* command) {
    command->add_option("--db", admin_db, "the database: a SQLite file or a postgresql:// URI (or TAMRIK_PLATFORM_DB)");
    return command;
  };
  CLI::App* teams = app.add_subcommand("teams", "Manage teams")->require_subcommand(1);
  CLI::App* add_team = with_db(teams->add_subcommand("add", "Add a team; prints its id"));
  add_team->add_option("NAME", name, "the team's name")->required();
  CLI::App* members = app.add_subcommand("members", "Manage members")->require_subcommand(1);
  CLI::App* add_member = with_db(members->add_subcommand("add", "Add a member to teams; prints its id"));
  add_member->add_option("NAME", name, "the member's name")->required();
  add_member->add_option("--team", team_ids, "a team id; repeat for a member of several teams")->required();
  CLI::App* keys = app.add_subcommand("keys", "Manage members' API keys")->require_subcommand(1);
  CLI::App* add_key = with_db(keys->add_subcommand("add", "Make a new key for a member; prints it once"));
  add_key->add_option("--member", member_id, "the member's id")->required();
  CLI::App* revoke_key = with_db(keys->add_subcommand("revoke", "Revoke a member's key"));
  revoke_key->add_option("KEY", key_or_id, "the key, or its id")->required();
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e);
  }
  using namespace tamrik::platform;
  try {
    if (*add_team) return on_database(admin_db, [&](const std::string& db) { return add_team_command(db, name); });
    if (*add_member) {
      return on_database(admin_db, [&](const std::string& db) { return add_member_command(db, name, team_ids); });
    }
    if (*add_key) return on_database(admin_db, [&](const std::string& db) { return add_key_command(db, member_id); });
    if (*revoke_key) {
      return on_database(admin_db, [&](const std::string& db) { return revoke_key_command(db, key_or_id); });
    }
    return on_database(options.db, [&](const std::string& db) { return tamrik::platform::serve(options, db); });
  } catch (const std::exception& e) {
    std::fprintf(stderr, "tamrik-platform: %s\n", e.what());
    return 1;
  }
}
