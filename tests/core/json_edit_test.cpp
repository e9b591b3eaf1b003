// Text edits of JSON documents: what is added follows the file's layout,
// and removing it again gives back the original bytes.

#include "core/json_edit.hpp"

#include "core/errors.hpp"

#include <gtest/gtest.h>

namespace tamrik::core {
namespace {

const Json kEntry = {{"command", "tamrik"}, {"args", {"mcp"}}};

std::string added_then_removed(const std::string& original, std::string* added = nullptr) {
  JsonTextEditor editor(original);
  if (!editor.get({"mcpServers"})) {
    editor.set_member({}, "mcpServers", Json{{"tamrik", kEntry}});
  } else {
    editor.set_member({"mcpServers"}, "tamrik", kEntry);
  }
  if (added != nullptr) *added = editor.text();
  EXPECT_EQ(*parse_json(editor.text()), [&] {
    Json expected = *parse_json(original);
    expected["mcpServers"]["tamrik"] = kEntry;
    return expected;
  }());
  editor.remove({"mcpServers", "tamrik"});
  if (editor.get({"mcpServers"}) == Json::object() && !parse_json(original)->contains("mcpServers")) {
    editor.remove({"mcpServers"});
  }
  return editor.text();
}

TEST(JsonTextEditor, AddedEntryFollowsTheFilesLayoutAndRemovingItGivesTheBytesBack) {
  const std::string two_spaces =
      "{\n  \"name\": \"caf\\u00e9\",\n  \"price\": 1.50,\n  \"mcpServers\": {\n"
      "    \"other\": {\"command\": \"x\", \"args\": [1,2,3]}\n  }\n}";
  std::string added;
  EXPECT_EQ(added_then_removed(two_spaces, &added), two_spaces);
  EXPECT_NE(added.find("\"other\": {\"command\": \"x\", \"args\": [1,2,3]},\n    \"tamrik\": {\n"
                       "      \"command\": \"tamrik\",\n      \"args\": [\"mcp\"]\n    }\n  }\n}"),
            std::string::npos)
      << added;
  EXPECT_FALSE(added.ends_with("\n"));

  const std::string tabs_crlf = "{\r\n\t\"permissions\": {\r\n\t\t\"allow\": [\"Bash(ls)\"]\r\n\t}\r\n}\r\n";
  EXPECT_EQ(added_then_removed(tabs_crlf, &added), tabs_crlf);
  EXPECT_NE(added.find("\r\n\t\"mcpServers\": {\r\n\t\t\"tamrik\": {\r\n\t\t\t\"command\": \"tamrik\","),
            std::string::npos)
      << added;

  const std::string four_spaces = "{\n    \"mcpServers\": {}\n}\n";
  EXPECT_EQ(added_then_removed(four_spaces, &added), "{\n    \"mcpServers\": {}\n}\n");
  EXPECT_NE(added.find("\"mcpServers\": {\n        \"tamrik\": {\n            \"command\""), std::string::npos)
      << added;

  const std::string one_line = R"({"a":[1, 2],"b":{"c":null}})";
  EXPECT_EQ(added_then_removed(one_line, &added), one_line);
  EXPECT_EQ(added, R"({"a":[1, 2],"b":{"c":null},"mcpServers":{"tamrik":{"command":"tamrik","args":["mcp"]}}})");

  EXPECT_EQ(added_then_removed("{}\n", &added), "{}\n");
  EXPECT_EQ(added,
            "{\n  \"mcpServers\": {\n    \"tamrik\": {\n      \"command\": \"tamrik\",\n"
            "      \"args\": [\"mcp\"]\n    }\n  }\n}\n");
}

TEST(JsonTextEditor, ListsAndValuesAreEditedInPlace) {
  JsonTextEditor editor(
      "{\n  \"hooks\": {\n    \"Stop\": [\n      {\"hooks\": [{\"command\": \"a\"}]}\n    ]\n  }\n}\n");
  editor.append({"hooks", "Stop"}, Json{{"matcher", "Bash"}});
  EXPECT_EQ(editor.text(),
            "{\n  \"hooks\": {\n    \"Stop\": [\n      {\"hooks\": [{\"command\": \"a\"}]},\n"
            "      {\n        \"matcher\": \"Bash\"\n      }\n    ]\n  }\n}\n");
  editor.replace({"hooks", "Stop", std::size_t{0}, "hooks", std::size_t{0}, "command"}, "b");
  EXPECT_EQ(editor.get({"hooks", "Stop", std::size_t{0}, "hooks", std::size_t{0}, "command"}), Json("b"));
  editor.remove({"hooks", "Stop", std::size_t{0}});
  EXPECT_EQ(editor.text(),
            "{\n  \"hooks\": {\n    \"Stop\": [\n      {\n        \"matcher\": \"Bash\"\n      }\n"
            "    ]\n  }\n}\n");
  editor.remove({"hooks", "Stop", std::size_t{5}});
  EXPECT_FALSE(editor.get({"hooks", "Stop", std::size_t{1}}).has_value());
  EXPECT_FALSE(editor.get({"hooks", "Stop", "x"}).has_value());
}

TEST(JsonTextEditor, RefusesWhatItCannotEditSafely) {
  EXPECT_THROW(JsonTextEditor("[1]"), JSONDecodeError);
  EXPECT_THROW(JsonTextEditor("{\"a\": 1,}"), JSONDecodeError);
  JsonTextEditor twice(R"({"a": {"x": 1}, "a": {"x": 2}})");
  EXPECT_THROW(twice.get({"a", "x"}), JSONDecodeError);
  EXPECT_THROW(twice.set_member({"a"}, "y", 1), JSONDecodeError);
  JsonTextEditor bom("\xEF\xBB\xBF{\"a\": \"\\\"}\"}");
  bom.set_member({}, "b", true);
  EXPECT_EQ(bom.text(), "\xEF\xBB\xBF{\"a\": \"\\\"}\", \"b\": true}");
}

}  // namespace
}  // namespace tamrik::core
