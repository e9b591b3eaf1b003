#include "core/yaml.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "core/errors.hpp"

namespace tamrik::core {
namespace {

// The message of the YAMLError that loading `text` throws, or "" when it loads.
std::string load_error(std::string_view text) {
  try {
    load_yaml(text);
  } catch (const YAMLError& e) {
    return e.what();
  }
  return "";
}

TEST(LoadYaml, MappingKeepsOrderAndNesting) {
  const Json value = load_yaml(
      "summary: Fix the parser\n"
      "model: m-1\n"
      "rules:\n"
      "  followed: [r1, r2]\n"
      "  notes:\n"
      "    - one\n"
      "    - key: v\n"
      "      other: 2\n");
  const Json expected = {{"summary", "Fix the parser"},
                         {"model", "m-1"},
                         {"rules", {{"followed", {"r1", "r2"}}, {"notes", {"one", {{"key", "v"}, {"other", 2}}}}}}};
  EXPECT_EQ(value, expected);
  EXPECT_EQ(value.begin().key(), "summary");
  EXPECT_EQ(std::next(value.begin(), 2).key(), "rules");
}

TEST(LoadYaml, DuplicateKeysKeepTheFirstValue) {
  EXPECT_EQ(load_yaml("a: 1\nb: 2\na: 3\n"), (Json{{"a", 1}, {"b", 2}}));
  EXPECT_EQ(load_yaml("a: {x: 1}\na: [2]\n"), (Json{{"a", {{"x", 1}}}}));

  // The same in a mapping too large to be searched member by member.
  std::string text;
  for (int i = 0; i < 50'000; ++i) text += "k" + std::to_string(i) + ": " + std::to_string(i) + "\n";
  const Json value = load_yaml(text + "k7: again\nk40000: [1]\nlast: 1\n");
  ASSERT_EQ(value.size(), 50'001u);
  EXPECT_EQ(value["k7"], 7);
  EXPECT_EQ(value["k40000"], 40'000);
  EXPECT_EQ(std::next(value.begin(), 40'000).key(), "k40000");
  EXPECT_EQ(std::prev(value.end()).key(), "last");
}

TEST(LoadYaml, PlainScalarsFollowTheCoreSchema) {
  const std::vector<std::pair<std::string, Json>> cases = {
      {"~", nullptr},
      {"null", nullptr},
      {"Null", nullptr},
      {"NULL", nullptr},
      {"", nullptr},
      {"true", true},
      {"True", true},
      {"TRUE", true},
      {"false", false},
      {"False", false},
      {"FALSE", false},
      {"42", 42},
      {"-17", -17},
      {"+5", 5},
      {"0123", 123},
      {"0o17", 15},
      {"0x1F", 31},
      {"0xff", 255},
      {"1.5", 1.5},
      {"-0.25", -0.25},
      {".5", 0.5},
      {"1e3", 1000.0},
      {"2.5E-3", 0.0025},
      {"5.", 5.0},
      {"9223372036854775807", std::numeric_limits<std::int64_t>::max()},
      {"-9223372036854775808", std::numeric_limits<std::int64_t>::min()},
      {"18446744073709551615", std::numeric_limits<std::uint64_t>::max()},
      // Text: not numbers in JSON, beyond 64 bits, YAML 1.1 words, dates, times.
      {".inf", ".inf"},
      {"-.inf", "-.inf"},
      {".nan", ".nan"},
      {"1e400", "1e400"},
      {"18446744073709551616", "18446744073709551616"},
      {"yes", "yes"},
      {"No", "No"},
      {"on", "on"},
      {"off", "off"},
      {"y", "y"},
      {"2024-05-01", "2024-05-01"},
      {"2024-05-01T10:00:00Z", "2024-05-01T10:00:00Z"},
      {"10:00:00", "10:00:00"},
      {"12:30", "12:30"},
      {"1_000", "1_000"},
      {"0b101", "0b101"},
      {"0x", "0x"},
      {"0o8", "0o8"},
      {"-0x1F", "-0x1F"},
      {"1.2.3", "1.2.3"},
      {"e3", "e3"},
      {"tRUE", "tRUE"},
      {"hello world", "hello world"},
      {"caf\u00e9", "caf\u00e9"},
  };
  for (const auto& [text, expected] : cases) {
    const Json loaded = load_yaml("v: " + text + "\n");
    EXPECT_EQ(loaded["v"], expected) << "[" << text << "] loaded as " << loaded["v"].dump();
    EXPECT_EQ(loaded["v"].type(), expected.type()) << "[" << text << "]";
  }
}

TEST(LoadYaml, QuotedAndBlockScalarsAreAlwaysText) {
  const Json value = load_yaml(
      "a: \"123\"\n"
      "b: 'true'\n"
      "c: \"\"\n"
      "d: |\n  2024-05-01\n"
      "e: >-\n  null\n"
      "f: \"caf\\u00e9 \\U0001F600 \\t\"\n");
  EXPECT_EQ(value, (Json{{"a", "123"},
                         {"b", "true"},
                         {"c", ""},
                         {"d", "2024-05-01\n"},
                         {"e", "null"},
                         {"f", "caf\u00e9 \U0001F600 \t"}}));
}

TEST(LoadYaml, StandardTagsAndUnknownTags) {
  EXPECT_EQ(load_yaml("a: !!str 12\nb: !!int \"7\"\nc: !!float 1\nd: !!bool true\ne: !!null ~\n"),
            (Json{{"a", "12"}, {"b", 7}, {"c", 1.0}, {"d", true}, {"e", nullptr}}));
  EXPECT_TRUE(load_yaml("a: !!float 1")["a"].is_number_float());
  EXPECT_EQ(load_yaml("when: !!timestamp 2026-01-01\n"), (Json{{"when", "2026-01-01"}}));
  EXPECT_NE(load_error("a: !!int abc\n").find("not a valid !!int value"), std::string::npos);
  EXPECT_NE(load_error("a: !!python/object:os.system ls\n").find("unsupported tag"), std::string::npos);
  EXPECT_NE(load_error("a: !custom x\n").find("unsupported tag !custom"), std::string::npos);
  EXPECT_NE(load_error("a: !!set {x: null}\n").find("unsupported tag !!set"), std::string::npos);
}

TEST(LoadYaml, KeysAreTheirText) {
  EXPECT_EQ(load_yaml("1: a\ntrue: b\n~: c\n\"q\": d\n0x10: e\n"),
            (Json{{"1", "a"}, {"true", "b"}, {"null", "c"}, {"q", "d"}, {"0x10", "e"}}));
}

TEST(LoadYaml, EmptyDocumentsLoadAsNull) {
  EXPECT_EQ(load_yaml(""), nullptr);
  EXPECT_EQ(load_yaml("# only a comment\n"), nullptr);
  EXPECT_EQ(load_yaml("---\n"), nullptr);
  EXPECT_EQ(load_yaml("   \n\n"), nullptr);
}

TEST(LoadYaml, TopLevelListsAndScalars) {
  EXPECT_EQ(load_yaml("- a\n- 2\n"), (Json{"a", 2}));
  EXPECT_EQ(load_yaml("just text\n"), "just text");
  EXPECT_EQ(load_yaml("7"), 7);
  EXPECT_EQ(load_yaml("a: 1\n...\n"), (Json{{"a", 1}}));
  EXPECT_EQ(load_yaml("{}"), Json::object());
}

TEST(LoadYaml, AliasesStandForTheirAnchorsWithinABudget) {
  EXPECT_EQ(load_yaml("base: &b {x: 1}\nother: *b\n"), (Json{{"base", {{"x", 1}}}, {"other", {{"x", 1}}}}));
  EXPECT_EQ(load_yaml("a: &k name\n*k : 2\n"), (Json{{"a", "name"}, {"name", 2}}));
  EXPECT_NE(load_error("a: &x [*x]\n").find("not yet defined"), std::string::npos);
  EXPECT_NE(load_error("a: &m {k: 1}\n*m : 2\n").find("mapping keys must be scalars"), std::string::npos);
  const std::string laughs =
      "a: &a [\"lol\",\"lol\",\"lol\",\"lol\",\"lol\",\"lol\",\"lol\",\"lol\",\"lol\"]\n"
      "b: &b [*a,*a,*a,*a,*a,*a,*a,*a,*a]\n"
      "c: &c [*b,*b,*b,*b,*b,*b,*b,*b,*b]\n"
      "d: &d [*c,*c,*c,*c,*c,*c,*c,*c,*c]\n"
      "e: &e [*d,*d,*d,*d,*d,*d,*d,*d,*d]\n"
      "f: &f [*e,*e,*e,*e,*e,*e,*e,*e,*e]\n"
      "g: &g [*f,*f,*f,*f,*f,*f,*f,*f,*f]\n"
      "h: &h [*g,*g,*g,*g,*g,*g,*g,*g,*g]\n"
      "i: &i [*h,*h,*h,*h,*h,*h,*h,*h,*h]\n";
  EXPECT_NE(load_error(laughs).find("too large"), std::string::npos);
  EXPECT_EQ(load_yaml("a: &x 1\n"), (Json{{"a", 1}}));
}

TEST(LoadYaml, LaterDocumentsAreDroppedOnlyWhenAskedAndMustStillParse) {
  EXPECT_EQ(load_yaml("---\nsummary: x\n---\n", LaterDocuments::ignore), (Json{{"summary", "x"}}));
  EXPECT_EQ(load_yaml("a: 1\n---\nb: 2\n", LaterDocuments::ignore), (Json{{"a", 1}}));
  EXPECT_THROW(load_yaml("a: 1\n---\nb: [1\n", LaterDocuments::ignore), YAMLError);
  EXPECT_THROW(load_yaml(",\n", LaterDocuments::ignore), YAMLError);
}

TEST(LoadYaml, RefusesMoreThanOneDocument) {
  EXPECT_NE(load_error("a: 1\n---\nb: 2\n").find("more than one YAML document"), std::string::npos);
  EXPECT_NE(load_error("a: 1\n---\nb: 2\n").find("line 2"), std::string::npos);
  EXPECT_THROW(load_yaml("---\na: 1\n---\n---\n"), YAMLError);
  EXPECT_THROW(load_yaml("- a\nb: 1\n"), YAMLError);
}

TEST(LoadYaml, MalformedTextFailsFastWithALineNumber) {
  // yaml-cpp reports empty documents forever for this text; loading must end.
  EXPECT_THROW(load_yaml(",\n"), YAMLError);
  EXPECT_THROW(load_yaml(",,,\n,\n"), YAMLError);
  const std::string message = load_error("a: 1\nb: [1, 2\nc: 3\n");
  EXPECT_TRUE(message.starts_with("invalid YAML: line 3, column 2: end of sequence flow not found")) << message;
  for (const char* bad : {"a: b: c\n", "key: \"unterminated", "a:\n\tb: 1\n", "}\n", "[[:\n", "a: 1\n]\n",
                          "? [a]\n: 1\n", "{[1]: 2}\n"}) {
    EXPECT_THROW(load_yaml(bad), YAMLError) << bad;
  }
}

TEST(LoadYaml, RefusesDeepNestingAtTheLimit) {
  auto flow = [](int depth) { return std::string(depth, '[') + std::string(depth, ']'); };
  EXPECT_NO_THROW(load_yaml(flow(kMaxJsonDepth)));
  EXPECT_NE(load_error(flow(kMaxJsonDepth + 1)).find("nested deeper than"), std::string::npos);
  EXPECT_THROW(load_yaml(flow(10'000)), YAMLError);
  EXPECT_THROW(load_yaml(std::string(10'000, '{')), YAMLError);

  std::string block;
  for (int i = 0; i < 10'000; ++i) block += "- ";
  EXPECT_THROW(load_yaml(block + "x\n"), YAMLError);
  std::string mapping;
  for (int i = 0; i < 600; ++i) mapping += std::string(static_cast<std::size_t>(i) * 2, ' ') + "k:\n";
  EXPECT_THROW(load_yaml(mapping), YAMLError);
}

TEST(LoadYaml, UntrustedBytesNeverCrash) {
  const std::string huge(2'000'000, 'x');
  EXPECT_EQ(load_yaml("summary: " + huge + "\n")["summary"].get_ref<const std::string&>().size(), huge.size());
  for (const std::string& text :
       std::initializer_list<std::string>{"a: \xff\xfe\n", "a: caf\xc3\n", "\xc3\x28: 1\n", std::string("a: x\0y\n", 7),
                                          std::string("\0", 1), std::string("a: \"\0\"\n", 7), "a: \x04\n",
                                          "\xef\xbb\xbf"
                                          "a: 1\n",
                                          "a: \x01\x02\n"}) {
    try {
      const Json value = load_yaml(text);
      EXPECT_FALSE(to_json_line(value).empty());
    } catch (const YAMLError&) {
      // refusing is fine; crashing or another exception is not
    }
  }
}

TEST(EmitYaml, BlockStyleInInsertionOrder) {
  const Json value = {{"zeta", "Fix the parser"},
                      {"alpha", 1},
                      {"nested", {{"sub", 1.5}, {"flag", true}, {"none", nullptr}}},
                      {"list", {"a", {{"k", "v"}, {"m", 2}}, {"x", "z"}}},
                      {"empty_list", Json::array()},
                      {"empty_map", Json::object()}};
  EXPECT_EQ(emit_yaml(value),
            "zeta: Fix the parser\n"
            "alpha: 1\n"
            "nested:\n"
            "  sub: 1.5\n"
            "  flag: true\n"
            "  none: null\n"
            "list:\n"
            "  - a\n"
            "  - k: v\n"
            "    m: 2\n"
            "  - - x\n"
            "    - z\n"
            "empty_list: []\n"
            "empty_map: {}\n");
}

TEST(EmitYaml, TopLevelValues) {
  EXPECT_EQ(emit_yaml("text"), "text\n");
  EXPECT_EQ(emit_yaml(7), "7\n");
  EXPECT_EQ(emit_yaml(nullptr), "null\n");
  EXPECT_EQ(emit_yaml(Json::object()), "{}\n");
  EXPECT_EQ(emit_yaml(Json::array()), "[]\n");
  EXPECT_EQ(emit_yaml(Json{1, "a"}), "- 1\n- a\n");
}

TEST(EmitYaml, FloatsAlwaysReadAsFloats) {
  EXPECT_EQ(emit_yaml(Json{1.0, 1e16, 1.5e-7, -0.5, 0.1}), "- 1.0\n- 1.0e+16\n- 1.5e-07\n- -0.5\n- 0.1\n");
}

TEST(EmitYaml, NumbersKeptAsWrittenAsTheirText) {
  const std::optional<Json> value = parse_json("[123456789012345678901234567890, 1.50]", Numbers::as_written);
  ASSERT_TRUE(value);
  EXPECT_EQ(emit_yaml(*value), "- 123456789012345678901234567890\n- 1.50\n");
}

TEST(EmitYaml, QuotesTextThatAnyReaderWouldTakeForSomethingElse) {
  for (const char* text : {"2024-05-01T10:00:00Z",
                           "2024-05-01",
                           "0123",
                           "123",
                           "-1",
                           "+1",
                           "1.5",
                           ".5",
                           "1e3",
                           "0x1F",
                           "0o17",
                           "0b101",
                           "1_000",
                           "12:30",
                           "1:20:30",
                           ".inf",
                           "-.Inf",
                           ".NaN",
                           "true",
                           "False",
                           "yes",
                           "No",
                           "ON",
                           "off",
                           "y",
                           "N",
                           "null",
                           "NULL",
                           "~",
                           "",
                           " x",
                           "x ",
                           "a: b",
                           "a #b",
                           "end:",
                           "- x",
                           "-x",
                           "#x",
                           "? x",
                           ":x",
                           "[a]",
                           "{a}",
                           ",a",
                           "&a",
                           "*a",
                           "!a",
                           "|a",
                           ">a",
                           "'a'",
                           "\"a\"",
                           "%a",
                           "@a",
                           "`a",
                           "multi\nline",
                           "tab\there",
                           "bell\x07",
                           "del\x7f",
                           "nel\u0085",
                           "ls\u2028",
                           "\ufeffbom",
                           "<<",
                           "=",
                           "---",
                           "...",
                           "bad\xff"}) {
    const std::string emitted = emit_yaml(Json{{"k", text}});
    EXPECT_TRUE(emitted.starts_with("k: \"")) << '[' << text << "] -> " << emitted;
    const std::string as_key = emit_yaml(Json{{text, 1}});
    EXPECT_TRUE(as_key.starts_with("\"")) << '[' << text << "] -> " << as_key;
  }
}

TEST(EmitYaml, LeavesOrdinaryTextPlainAndUtf8AsItIs) {
  for (const char* text : {"hello world", "caf\u00e9", "\U0001F600", "abc123", "deadbeef", "a-b", "a:b", "a#b",
                           "path/to/file.cpp", "claude-opus-4-6", "it's", "1 apple"}) {
    EXPECT_EQ(emit_yaml(Json{{"k", text}}), std::string("k: ") + text + "\n");
  }
  EXPECT_EQ(emit_yaml(Json{{"k", "caf\u00e9\n\U0001F600"}}), "k: \"caf\u00e9\\n\U0001F600\"\n");
}

TEST(EmitYaml, EscapesWhatYamlCannotHoldAndReplacesInvalidUtf8) {
  EXPECT_EQ(emit_yaml(Json{{"k", "q\" b\\ \t\x01\x7f\u0085\u2028\ufeff"}}),
            "k: \"q\\\" b\\\\ \\t\\u0001\\u007f\\u0085\\u2028\\ufeff\"\n");
  EXPECT_EQ(emit_yaml(Json{{"k", "bad\xff"}}), "k: \"bad\ufffd\"\n");
}

TEST(EmitYaml, WritesValuesOfAnyDepthWithoutRecursion) {
  Json value = "leaf";
  for (int i = 0; i < 50'000; ++i) {
    Json outer = Json::array();
    outer.push_back(std::move(value));
    value = std::move(outer);
  }
  const std::string text = emit_yaml(value);
  EXPECT_TRUE(text.starts_with("- - - "));
  EXPECT_TRUE(text.ends_with("- leaf\n"));
}

// ---- round trip ----

const std::vector<std::string>& tricky_strings() {
  static const std::vector<std::string> strings = {"2024-05-01T10:00:00Z",
                                                   "0123",
                                                   "true",
                                                   "null",
                                                   "yes",
                                                   "No",
                                                   "~",
                                                   "",
                                                   " x",
                                                   "a: b",
                                                   "- x",
                                                   "#x",
                                                   "multi\nline",
                                                   "caf\u00e9",
                                                   "\U0001F600",
                                                   "1e3",
                                                   "0x1F",
                                                   ".5",
                                                   "1_000",
                                                   "12:30",
                                                   "x ",
                                                   "'",
                                                   "\"",
                                                   "\\",
                                                   "a #b",
                                                   "end:",
                                                   "\t",
                                                   "\r\n",
                                                   "\x01",
                                                   "\x7f",
                                                   "\u0085",
                                                   "\u2028",
                                                   "\ufeff",
                                                   "<<",
                                                   "---",
                                                   "...",
                                                   "-",
                                                   "?",
                                                   ":",
                                                   "[",
                                                   "{}",
                                                   "1.0",
                                                   "-0",
                                                   "+.inf",
                                                   ".NaN",
                                                   "0o7",
                                                   "1:2",
                                                   "on",
                                                   "Off",
                                                   "y",
                                                   "=",
                                                   "%TAG",
                                                   "@x",
                                                   "`x",
                                                   "|",
                                                   ">",
                                                   "&a",
                                                   "*a",
                                                   "!t",
                                                   "a\"b'c",
                                                   "  ",
                                                   "k: v\n- x",
                                                   "\xe2\x80\x8b",
                                                   "\\n",
                                                   "long " + std::string(300, 'w')};
  return strings;
}

Json random_scalar(std::mt19937& rng) {
  const auto& strings = tricky_strings();
  switch (std::uniform_int_distribution<>(0, 6)(rng)) {
    case 0:
      return nullptr;
    case 1:
      return std::uniform_int_distribution<>(0, 1)(rng) == 1;
    case 2:
      return std::uniform_int_distribution<std::int64_t>(std::numeric_limits<std::int64_t>::min())(rng);
    case 3:
      return std::uniform_real_distribution<double>(-1e300, 1e300)(rng) /
             std::pow(10.0, std::uniform_int_distribution<>(0, 300)(rng));
    case 4: {
      std::string text;
      for (int i = std::uniform_int_distribution<>(1, 3)(rng); i > 0; --i) {
        text += strings[std::uniform_int_distribution<std::size_t>(0, strings.size() - 1)(rng)];
      }
      return text;
    }
    default:
      return strings[std::uniform_int_distribution<std::size_t>(0, strings.size() - 1)(rng)];
  }
}

Json random_yaml_value(std::mt19937& rng, int depth) {
  const int kind = std::uniform_int_distribution<>(0, depth > 4 ? 0 : 2)(rng);
  if (kind == 0) return random_scalar(rng);
  const int size = std::uniform_int_distribution<>(0, 4)(rng);
  if (kind == 1) {
    Json array = Json::array();
    for (int i = 0; i < size; ++i) array.push_back(random_yaml_value(rng, depth + 1));
    return array;
  }
  Json object = Json::object();
  for (int i = 0; i < size; ++i) {
    const Json key = random_scalar(rng);
    object[key.is_string() ? key.get<std::string>() : key.dump()] = random_yaml_value(rng, depth + 1);
  }
  return object;
}

TEST(YamlRoundTrip, EveryTrickyStringReadsBackAsItself) {
  for (const std::string& text : tricky_strings()) {
    const Json value = {{"value", text}, {text, "key"}, {"list", {text}}};
    const std::string emitted = emit_yaml(value);
    Json loaded;
    ASSERT_NO_THROW(loaded = load_yaml(emitted)) << emitted;
    EXPECT_EQ(loaded, value) << emitted;
    EXPECT_EQ(load_yaml(emit_yaml(text)), text) << emit_yaml(text);
  }
}

TEST(YamlRoundTrip, RandomDocumentsReadBackEqual) {
  std::mt19937 rng(1714557600);
  for (int i = 0; i < 1500; ++i) {
    const Json value = random_yaml_value(rng, 0);
    const std::string emitted = emit_yaml(value);
    Json loaded;
    ASSERT_NO_THROW(loaded = load_yaml(emitted)) << emitted;
    ASSERT_EQ(loaded, value) << emitted;
  }
}

}  // namespace
}  // namespace tamrik::core
