// The dashboard in a real browser: headless Chromium, driven through
// chromedriver's W3C WebDriver API on loopback, signs in on the form,
// visits every page and reads what the DOM shows; hostile records must be
// text, never markup or script. Screenshots go to the build tree.

#include "core/sha256.hpp"
#include "platform/platform_client.hpp"

#include <fcntl.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <thread>

extern char** environ;

namespace tamrik::testing {
namespace {

using core::Json;

constexpr const char* kChromium = "/usr/bin/chromium";
constexpr const char* kChromedriver = "/usr/bin/chromedriver";
constexpr const char* kElement = "element-6066-11e4-a52e-4f735466cecf";
const std::string kScriptingSummary =
    "<script>window.pwned=1</script>\"><img src=x onerror=\"window.pwned=2\"> "
    "<a href=\"javascript:window.pwned=3\">x</a> \xE2\x80\xAE"
    "txet desrever";

int free_port() {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  close(fd);
  return ntohs(address.sin_port);
}

std::string decoded_base64(const std::string& text) {
  std::string out;
  int bits = 0;
  unsigned value = 0;
  for (const char c : text) {
    const char* digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    const char* at = c == '\0' ? nullptr : std::strchr(digits, c);
    if (at == nullptr) continue;
    value = (value << 6) | static_cast<unsigned>(at - digits);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out += static_cast<char>((value >> bits) & 0xFF);
    }
  }
  return out;
}

// chromedriver on a free loopback port, in a process group of its own
// with the browser it starts, whose HOME and TMPDIR are the test's
// directory: the browser's temporary directories, which a killed browser
// leaves behind, go when the test's directory goes. The whole group is
// killed at the end.
class Chromedriver {
 public:
  explicit Chromedriver(const fs::path& home) : port_(free_port()), log_(home / "chromedriver.log") {
    // The browser's processes outlive chromedriver for a moment when it is
    // killed: as this process's orphans they are reaped here, not left as
    // zombies.
    prctl(PR_SET_CHILD_SUBREAPER, 1);
    std::vector<std::string> env = {"HOME=" + home.string(), "TMPDIR=" + home.string(), "PATH=/usr/bin:/bin"};
    std::vector<std::string> argv = {kChromedriver, "--port=" + std::to_string(port_), "--allowed-ips=127.0.0.1"};
    std::vector<char*> args, envp;
    for (std::string& arg : argv) args.push_back(arg.data());
    for (std::string& entry : env) envp.push_back(entry.data());
    args.push_back(nullptr);
    envp.push_back(nullptr);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    // Signals as a fresh process has them: the test ignores SIGPIPE.
    sigset_t all, none;
    sigfillset(&all);
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, log_.c_str(), O_WRONLY | O_CREAT, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    // Chromium crashes on descriptors it did not open (the test's own).
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    const int spawned = posix_spawn(&pid_, kChromedriver, &actions, &attributes, args.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (spawned != 0) throw std::runtime_error("cannot start chromedriver");
    for (int tries = 0; tries < 100; ++tries) {
      if (auto status = client().Get("/status"); status && status->status == 200) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    throw std::runtime_error("chromedriver did not answer on port " + std::to_string(port_));
  }
  ~Chromedriver() {
    // Kept beside the screenshots, for when a page did not do what was expected.
    std::error_code ignored;
    fs::copy_file(log_, fs::path(TAMRIK_ARTIFACTS_DIR) / "chromedriver.log", fs::copy_options::overwrite_existing,
                  ignored);
    kill(-pid_, SIGKILL);
    // Every process of the group, chromedriver and the browser's.
    while (waitpid(-pid_, nullptr, 0) > 0) {
    }
  }
  Chromedriver(const Chromedriver&) = delete;
  Chromedriver& operator=(const Chromedriver&) = delete;

  httplib::Client client() const {
    httplib::Client client("127.0.0.1", port_);
    client.set_read_timeout(std::chrono::seconds(30));
    return client;
  }

 private:
  int port_;
  fs::path log_;
  pid_t pid_ = -1;
};

// One headless Chromium session.
class Browser {
 public:
  Browser(const Chromedriver& driver, const fs::path& profile) : driver_(driver) {
    const Json options = {{"binary", kChromium},
                          {"args",
                           {"--headless=new", "--no-sandbox", "--disable-gpu", "--window-size=1200,800",
                            "--user-data-dir=" + profile.string(), "--hide-scrollbars"}}};
    const Json started =
        call("POST", "/session", {{"capabilities", {{"alwaysMatch", {{"goog:chromeOptions", options}}}}}});
    id_ = started.value("sessionId", "");
    if (id_.empty()) throw std::runtime_error("no browser session: " + started.dump());
  }
  ~Browser() {
    try {
      call("DELETE", "/session/" + id_, nullptr);
    } catch (const std::exception&) {
      // chromedriver is gone; killing its process group ends the browser.
    }
  }
  Browser(const Browser&) = delete;
  Browser& operator=(const Browser&) = delete;

  void go(const std::string& url) { command("POST", "/url", {{"url", url}}); }
  std::string element(const std::string& css) {
    const Json found = command("POST", "/element", {{"using", "css selector"}, {"value", css}});
    if (!found.is_object() || !found.contains(kElement))
      throw std::runtime_error("no element " + css + ": " + found.dump());
    return found[kElement].get<std::string>();
  }
  void type(const std::string& css, const std::string& text) {
    command("POST", "/element/" + element(css) + "/value", {{"text", text}});
  }
  void click(const std::string& css) { command("POST", "/element/" + element(css) + "/click", Json::object()); }
  Json run(const std::string& script) {
    return command("POST", "/execute/sync", {{"script", script}, {"args", Json::array()}});
  }
  // Clicks what leads to another page and waits (5 s at most) until that
  // page is loaded: a click returns before the next page is there. The
  // path of the page then shown.
  std::string follow(const std::string& css) {
    run("window.tamrikOldPage = true");
    click(css);
    for (int tries = 0; tries < 50; ++tries) {
      const Json path =
          run("return window.tamrikOldPage || document.readyState !== 'complete' ? null : location.pathname");
      if (path.is_string()) return path.get<std::string>();
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return "";
  }
  void screenshot(const fs::path& file) {
    const Json picture = command("GET", "/screenshot", nullptr);
    std::ofstream(file, std::ios::binary) << decoded_base64(picture.get<std::string>());
  }

 private:
  Json command(const std::string& method, const std::string& path, const Json& body) {
    const Json answer = call(method, "/session/" + id_ + path, body);
    if (answer.is_object() && answer.contains("error")) throw std::runtime_error(path + ": " + answer.dump());
    return answer;
  }
  Json call(const std::string& method, const std::string& path, const Json& body) {
    httplib::Client client = driver_.client();
    const httplib::Result result = method == "GET"      ? client.Get(path)
                                   : method == "DELETE" ? client.Delete(path)
                                                        : client.Post(path, body.dump(), "application/json");
    if (!result) throw std::runtime_error(method + " " + path + ": no answer from chromedriver");
    return core::parse_json(result->body).value_or(Json::object()).value("value", Json());
  }

  const Chromedriver& driver_;
  std::string id_;
};

Json record(int n, const std::string& agent, const std::string& model, bool attested, const std::string& summary) {
  char day[32];
  std::snprintf(day, sizeof day, "2026-%02d-%02dT%02d:%02d:00Z", 9 + n / 30, 1 + n % 30, 9 + n % 9, n % 60);
  Json entry = {{"commit", core::sha256_hex(std::to_string(n)).substr(0, 40)},
                {"timestamp", day},
                {"agent", agent},
                {"branch", n % 5 == 0 ? "feature/export" : "main"},
                {"summary", summary},
                {"developer",
                 {{"git_author_name", n % 2 == 0 ? "Ada Lovelace" : "Alan Turing"},
                  {"git_author_email", n % 2 == 0 ? "ada@example.com" : "alan@example.com"}}},
                {"telemetry",
                 {{"model", model},
                  {"tokens", {{"input", 1200 + 37 * n}, {"output", 800 + 11 * n}, {"cache_read", 5000 + 101 * n}}}}},
                {"attestation",
                 {{"task_type", n % 3 == 0 ? "fix" : "feature"}, {"provenance", {{"files", {"src/export.cpp"}}}}}}};
  if (!attested) entry["event"] = "commit_unattested";
  return entry;
}

std::vector<Json> records() {
  const char* summaries[] = {"Add CSV export of the weekly report",
                             "Fix rounding in the invoice totals",
                             "Refactor the session store",
                             "Speed up the search index rebuild",
                             "Document the upload API",
                             "Handle empty projects on the overview"};
  std::vector<Json> all;
  for (int n = 0; n < 60; ++n) {
    const std::string agent = n % 4 == 0 ? "codex" : n % 7 == 0 ? "cursor" : "claude-code";
    const std::string model = agent == "codex" ? "gpt-5" : agent == "cursor" ? "composer-1" : "claude-opus-4";
    all.push_back(record(n, agent, model, n % 5 != 0, summaries[n % 6]));
  }
  all.push_back(record(60, "claude-code", "claude-opus-4", true, kScriptingSummary));
  return all;
}

class DashboardBrowser : public PlatformClientTest {
 protected:
  void SetUp() override {
    if (access(kChromium, X_OK) != 0 || access(kChromedriver, X_OK) != 0) {
      GTEST_SKIP() << "chromium or chromedriver is not installed (scripts/install-deps installs both)";
    }
    const long long id = project("git@example.com:acme/widgets.git");
    ASSERT_EQ(post(attestations(id), Json{{"attestations", records()}}).status, 200);
    project_ = "/dashboard/projects/" + std::to_string(id);
    project_path_ = url() + project_;
    fs::create_directories(kArtifacts);
  }

  std::string url() const { return platform_.url(); }

  // Whether the page holds anything the records could have injected, or a
  // script of theirs ran.
  static constexpr const char* kInjected =
      "return [window.pwned === undefined, document.querySelectorAll('script, img, [onerror], [onmouseover]').length,"
      " [...document.querySelectorAll('a')].filter(a => !a.href.startsWith(location.origin + '/dashboard')).length,"
      " getComputedStyle(document.body).backgroundColor]";

  void expect_clean(Browser& browser, const std::string& page) {
    EXPECT_EQ(browser.run(kInjected), Json::array({true, 0, 0, "rgb(247, 248, 250)"})) << page;
  }

  TempDir home_;
  std::string project_;       // its path
  std::string project_path_;  // its URL
  const fs::path kArtifacts = TAMRIK_ARTIFACTS_DIR;
};

TEST_F(DashboardBrowser, SignsInVisitsEveryPageAndRunsNoStoredScript) {
  Chromedriver driver(home_.path());
  Browser browser(driver, home_ / "profile");

  browser.go(url() + "/dashboard");
  EXPECT_EQ(browser.run("return location.pathname").get<std::string>(), "/dashboard/sign-in");
  browser.screenshot(kArtifacts / "sign-in.png");
  browser.type("input[name=key]", "wrong");
  EXPECT_EQ(browser.follow("button[type=submit]"), "/dashboard/sign-in");
  EXPECT_NE(
      browser.run("return document.querySelector('.problem').textContent").get<std::string>().find("not accepted"),
      std::string::npos);
  browser.type("input[name=key]", key());
  EXPECT_EQ(browser.follow("form[action='/dashboard/sign-in'] button"), "/dashboard");
  EXPECT_EQ(browser.run("return document.querySelector('ul.projects a').textContent"), "widgets");
  // The session cookie is HttpOnly: no script of the page can read it.
  EXPECT_EQ(browser.run("return document.cookie"), "");
  browser.screenshot(kArtifacts / "projects.png");

  browser.go(project_path_);
  expect_clean(browser, "records");
  EXPECT_EQ(browser.run("return document.querySelectorAll('table.records tbody tr').length"), 50);
  EXPECT_EQ(browser.run("return document.querySelector('td.summary').textContent"),
            "<script>window.pwned=1</script>\"><img src=x onerror=\"window.pwned=2\"> "
            "<a href=\"javascript:window.pwned=3\">x</a> \xEF\xBF\xBD"
            "txet desrever");
  EXPECT_EQ(browser.run("return document.title"), "widgets · tamrik");
  browser.run("document.querySelector('td.summary').closest('tr').remove()");
  browser.screenshot(kArtifacts / "records.png");

  browser.type("input[name=agent]", "codex");
  EXPECT_EQ(browser.follow("form.filters button"), project_);
  EXPECT_EQ(browser.run("return new Set([...document.querySelectorAll('tbody tr td:nth-child(4)')].map(td => "
                        "td.textContent)).size + ':' + document.querySelectorAll('tbody tr').length"),
            "1:15");

  browser.go(project_path_ + "?q=script");
  const std::string record = browser.run("return document.querySelector('td.hash a').pathname").get<std::string>();
  EXPECT_EQ(browser.follow("td.hash a"), record);
  expect_clean(browser, "record");
  EXPECT_NE(browser.run("return document.querySelector('.summary-full').textContent")
                .get<std::string>()
                .find("<script>window.pwned=1</script>"),
            std::string::npos);
  browser.screenshot(kArtifacts / "record.png");

  browser.go(project_path_ + "/charts");
  expect_clean(browser, "charts");
  EXPECT_EQ(browser.run("return document.querySelectorAll('svg.chart').length"), 3);
  EXPECT_GT(browser.run("return document.querySelectorAll('svg.chart rect').length").get<int>(), 20);
  browser.screenshot(kArtifacts / "charts.png");

  EXPECT_EQ(browser.follow("header form button"), "/dashboard/sign-in");
  browser.go(project_path_);
  EXPECT_EQ(browser.run("return location.pathname").get<std::string>(), "/dashboard/sign-in");
  for (const char* name : {"sign-in", "projects", "records", "record", "charts"}) {
    EXPECT_GT(fs::file_size(kArtifacts / (std::string(name) + ".png")), 5000u) << name;
  }
}

}  // namespace
}  // namespace tamrik::testing
