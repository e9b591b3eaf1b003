// YAML text from agents, as the fuzzer feeds it: what loads must survive
// emit_yaml and load_yaml unchanged. Cases found by fuzz/yaml_fuzzer.cpp.

#include "core/yaml.hpp"

#include <gtest/gtest.h>

#include <string>

namespace tamrik::core {
namespace {

// Bytes that are not UTF-8 load as U+FFFD, as the writers print them, so
// the loaded value is the one every later write and load gives back.
TEST(YamlUntrustedText, InvalidUtf8LoadsAsReplacementCharacters) {
  for (const std::string text :
       {"summary: caf\xe9 ok\n", "\"caf\xe9\": \xff\xfe\n", "- \xc3\x28\n- '\xed\xa0\x80'\n"}) {
    SCOPED_TRACE(text);
    const Json loaded = load_yaml(text);
    EXPECT_EQ(load_yaml(emit_yaml(loaded)), loaded);
    EXPECT_NE(loaded.dump(-1, ' ', true, Json::error_handler_t::strict).find("\\ufffd"), std::string::npos);
  }
  EXPECT_EQ(load_yaml("summary: caf\xe9 ok\n"), (Json{{"summary", "caf\xef\xbf\xbd ok"}}));
}

// YAML readers refuse an implicit key longer than 1024 characters: a long
// key (a path, a pasted command as a map key) must still load back.
TEST(YamlUntrustedText, LongMappingKeysRoundTrip) {
  for (const size_t length : {1000u, 1024u, 1025u, 5000u}) {
    const std::string plain(length, 'k');
    const std::string quoted = "\"" + std::string(length, 'q') + ": x";
    const Json value = {{plain, 1},
                        {quoted, {{"nested", {1, 2}}, {plain, nullptr}}},
                        {"list", Json::array({{{plain, "first"}, {"short", true}}, {{quoted, Json::array()}}})}};
    SCOPED_TRACE(length);
    EXPECT_EQ(load_yaml(emit_yaml(value)), value);
  }
}

}  // namespace
}  // namespace tamrik::core
