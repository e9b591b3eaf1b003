// Our entry in realistic Codex config.toml files: only tamrik's own keys
// change, the result still parses, a second run changes nothing, uninstall
// gives the bytes back, and what cannot be edited safely is left alone.

#include "host/commands/codex_mcp_table.hpp"

#include <gtest/gtest.h>
#include "host/utils/toml.hpp"

namespace tamrik::testing {
namespace {

using commands::mcp::codex_config_with_server;
using commands::mcp::codex_config_without_server;
using commands::mcp::CodexRemoval;
using commands::mcp::UneditableCodexConfig;

constexpr const char* kFile = "/home/u/.codex/config.toml";
constexpr const char* kOurs = "command = \"tamrik\"\nargs = [\"mcp\"]";

std::optional<std::string> with_server(const std::string& text) {
  return codex_config_with_server(text, "tamrik", kFile);
}

struct Case {
  std::string before;
  std::string after;
};

TEST(CodexMcpTable, EditsOnlyTamriksKeysInEveryFormItCanEditSafely) {
  const std::string others =
      "# Codex settings\nmodel = \"o3\"  # fast\n[mcp_servers]\n"
      "other = { command = \"npx\", args = [\"-y\", \"srv\"] }\n"
      "\n[profiles.work]\nnotify = [\n  [\"a\"],\n  [\"[mcp_servers.tamrik]\"],\n]\n";
  const std::vector<Case> cases = {
      // No entry yet: a table at the end; a `["a"],` line is no header.
      {others, others + "\n[mcp_servers.tamrik]\n" + kOurs + "\n"},
      // CRLF and no final newline, both kept.
      {"model = \"o3\"\r\n# end",
       "model = \"o3\"\r\n# end\r\n\r\n[mcp_servers.tamrik]\r\ncommand = \"tamrik\"\r\nargs = [\"mcp\"]"},
      // An inline table: the stale value is replaced where it stands.
      {"[mcp_servers]\ntamrik = { env = { K = \"é\" }, command = \"old\", args = [\"mcp\"] }  # mine\n",
       "[mcp_servers]\ntamrik = { env = { K = \"é\" }, command = \"tamrik\", args = [\"mcp\"] }  # mine\n"},
      // Dotted keys.
      {"mcp_servers.tamrik.command = \"old\"\r\nmcp_servers.tamrik.args = [\r\n  \"x\",\r\n]\r\n",
       "mcp_servers.tamrik.command = \"tamrik\"\r\nmcp_servers.tamrik.args = [\"mcp\"]\r\n"},
      // A spaced header with the person's keys and env table: a missing key
      // goes under the header, theirs stay.
      {"[ mcp_servers . tamrik ]  # mine\ntool_timeout_sec = 30\ncommand = \"/old/tamrik\"\n\n"
       "[mcp_servers.tamrik.env]\nA = \"1\"",
       "[ mcp_servers . tamrik ]  # mine\nargs = [\"mcp\"]\ntool_timeout_sec = 30\ncommand = \"tamrik\"\n\n"
       "[mcp_servers.tamrik.env]\nA = \"1\""},
      // Declared only by its env table's header.
      {"[mcp_servers.tamrik.env]\nA = \"1\"\n",
       "[mcp_servers.tamrik.env]\nA = \"1\"\n\n[mcp_servers.tamrik]\n" + std::string(kOurs) + "\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.before);
    const std::optional<std::string> after = with_server(c.before);
    ASSERT_TRUE(after.has_value());
    EXPECT_EQ(*after, c.after);
    const toml::table parsed = toml::parse(*after);
    EXPECT_EQ(parsed["mcp_servers"]["tamrik"]["command"].value_or(""), std::string("tamrik"));
    EXPECT_EQ(with_server(*after), std::nullopt);
  }
  // What setup added comes out byte for byte.
  for (const Case& c : {cases[0], cases[1]}) EXPECT_EQ(codex_config_without_server(c.after, kFile).text, c.before);
  EXPECT_EQ(codex_config_without_server("[mcp_servers.tamrik]\n" + std::string(kOurs) + "\n", kFile).text, "");
  const std::string bom = "\xEF\xBB\xBF";
  EXPECT_EQ(codex_config_without_server(bom + "[mcp_servers.tamrik]\n" + kOurs + "\n[b]\n", kFile).text, bom + "[b]\n");
  EXPECT_EQ(
      codex_config_without_server("a = 1\n\n[mcp_servers.tamrik]\n" + std::string(kOurs) + "\n\n[b]\nc = 2\n", kFile)
          .text,
      "a = 1\n\n[b]\nc = 2\n");
}

TEST(CodexMcpTable, WhatCannotBeEditedSafelyIsRefusedWithTheRemedy) {
  const auto refusal = [](const std::string& text) {
    try {
      with_server(text);
    } catch (const UneditableCodexConfig& e) {
      return std::string(e.what());
    }
    return std::string("not refused");
  };
  // As the line-matching editor left it: two tables of ours.
  EXPECT_NE(refusal("[mcp_servers.tamrik]\ncommand = \"a\"\n[mcp_servers.tamrik]\ncommand = \"b\"\n")
                .find(std::string(kFile) + " is not valid TOML (line 3: "),
            std::string::npos);
  EXPECT_NE(refusal("[mcp_servers]\ntamrik = { command = \"tamrik\" }\n").find("inline table"), std::string::npos);
  EXPECT_NE(refusal("mcp_servers.tamrik.command = \"tamrik\"\n").find("dotted keys"), std::string::npos);
  EXPECT_NE(refusal("mcp_servers = { other = { command = \"x\" } }\n").find("args = [\"mcp\"]"), std::string::npos);
  // Right already, in a form tamrik would not write: nothing to do.
  EXPECT_EQ(with_server("[mcp_servers]\ntamrik = { command = \"tamrik\", args = [\"mcp\"] }\n"), std::nullopt);
  EXPECT_THROW(codex_config_without_server("[x\n", kFile), UneditableCodexConfig);
}

// Versions that matched line starts appended a second table after an inline
// entry; Codex refused the file. Setup and uninstall take that table out.
TEST(CodexMcpTable, TheTableAnEarlierVersionAddedTwiceIsTakenOut) {
  const std::string inline_entry =
      "[mcp_servers]\ntamrik = { command = \"tamrik\", args = [\"mcp\"], env = { A = \"1\" } }\n";
  const std::string trusted = "\n[projects.\"/w\"]\ntrust_level = \"trusted\"\n";
  const std::string broken = inline_entry + "\n[mcp_servers.tamrik]\n" + kOurs + "\n" + trusted;
  EXPECT_EQ(with_server(broken), inline_entry + trusted);
  const CodexRemoval removal = codex_config_without_server(broken, kFile);
  EXPECT_EQ(removal.text, inline_entry + trusted);
  EXPECT_NE(removal.kept.find("your own settings (env)"), std::string::npos) << removal.kept;
}

TEST(CodexMcpTable, UninstallKeepsAnEntryHoldingAnythingOfThePersons) {
  for (const char* text : {
           "[mcp_servers.tamrik]\ncommand = \"tamrik\"\nargs = [\"mcp\"]\ntool_timeout_sec = 30\n"
           "[mcp_servers.tamrik.env]\nA = \"1\"\n",
           "[mcp_servers.tamrik]\n# mine\ncommand = \"tamrik\"\nargs = [\"mcp\"]\n",
           "mcp_servers.tamrik.command = \"tamrik\"\nmcp_servers.tamrik.args = [\"mcp\"]\n",
       }) {
    const CodexRemoval removal = codex_config_without_server(text, kFile);
    EXPECT_EQ(removal.text, std::nullopt) << text;
    EXPECT_NE(removal.kept.find("delete it by hand"), std::string::npos) << removal.kept;
  }
  const std::string theirs = "[mcp_servers.tamrik]\ncommand = \"t\"\nx = 1\n[mcp_servers.tamrik.env]\n";
  EXPECT_NE(codex_config_without_server(theirs, kFile).kept.find("your own settings (env, x)"), std::string::npos);
}

}  // namespace
}  // namespace tamrik::testing
