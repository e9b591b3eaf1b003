// `tamrik setup`, `sync` and `setup --uninstall` against realistic Codex
// config.toml files: the file always parses, nothing but tamrik's keys
// changes, and a file tamrik cannot edit safely is left as it was.

#include "cli_fixture.hpp"

#include "host/utils/toml.hpp"

namespace tamrik::testing {
namespace {

class CodexConfig : public CliTest {
 protected:
  void SetUp() override {
    CliTest::SetUp();
    ::setenv("CODEX_HOME", (home_.path() / "codex").c_str(), 1);
    fs::create_directories(home_.path() / "codex");
  }
  void TearDown() override {
    ::unsetenv("CODEX_HOME");
    CliTest::TearDown();
  }
  fs::path config() const { return home_.path() / "codex" / "config.toml"; }
};

// The text without the lines of tamrik's own keys.
std::string without_our_keys(const std::string& text) {
  std::string kept;
  for (const std::string& line : lines_of(text)) {
    if (!line.starts_with("command = ") && !line.starts_with("args = ")) kept += line + "\n";
  }
  return kept;
}

TEST_F(CodexConfig, SetupSyncAndUninstallChangeOnlyTamriksKeys) {
  const std::string fresh =
      "# Codex\r\nmodel = \"o3\"\r\n[mcp_servers]\r\ndocs = { command = \"npx\", args = [\"docs\"] }\r\n"
      "[profiles.work]\r\nnotify = [\r\n  [\"a\"],\r\n]";
  const std::string theirs =
      "[ mcp_servers . tamrik ]  # registered by hand\ncommand = \"tamrik\"\ntool_timeout_sec = 30\n\n"
      "[mcp_servers.tamrik.env]\nA = \"1\"\n";
  for (const std::string& before : {fresh, theirs}) {
    SCOPED_TRACE(before);
    write_text(config(), before);
    const TamrikResult setup = tamrik({"setup", "--agents", "codex"});
    ASSERT_EQ(setup.exit_code, 0) << setup.out << setup.err;
    const std::string installed = read_text(config());
    const toml::table parsed = toml::parse(installed);
    EXPECT_EQ(parsed["mcp_servers"]["tamrik"]["args"][0].value_or(""), std::string("mcp"));
    if (before == fresh) {
      EXPECT_TRUE(installed.starts_with(fresh));
    } else {
      EXPECT_EQ(without_our_keys(installed), without_our_keys(before));
    }

    ASSERT_EQ(tamrik({"setup"}).exit_code, 0);
    tamrik({"sync"});  // not signed in: it fails, and registers all the same
    EXPECT_EQ(read_text(config()), installed);

    const TamrikResult removed = tamrik({"setup", "--uninstall"});
    ASSERT_EQ(removed.exit_code, 0) << removed.err;
    if (before == fresh) {
      EXPECT_EQ(read_text(config()), fresh);
    } else {
      EXPECT_EQ(read_text(config()), installed);
      EXPECT_NE(removed.out.find("codex tool server: skipped — left [mcp_servers.tamrik] in " + config().string() +
                                 ": it also holds your own settings (env, tool_timeout_sec)"),
                std::string::npos)
          << removed.out;
    }
  }
}

TEST_F(CodexConfig, AFileThatIsNotTomlIsLeftAloneAndTheStepSaysWhy) {
  const std::string broken = "model = \"o3\"\n[mcp_servers.tamrik]\ncommand = \"tamrik\"\n[mcp_servers.tamrik]\n";
  write_text(config(), broken);
  const TamrikResult setup = tamrik({"setup", "--agents", "codex"});
  EXPECT_EQ(setup.exit_code, 1);
  EXPECT_NE(setup.err.find("codex tool server: " + config().string() + " is not valid TOML (line 4: "),
            std::string::npos)
      << setup.err;
  EXPECT_NE(tamrik({"sync"}).err.find(config().string() + " is not valid TOML"), std::string::npos);
  EXPECT_EQ(tamrik({"setup", "--uninstall"}).exit_code, 1);
  EXPECT_EQ(read_text(config()), broken);
}

}  // namespace
}  // namespace tamrik::testing
