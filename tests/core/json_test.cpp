#include "core/json.hpp"

#include <gtest/gtest.h>

#include <limits>
#include <random>
#include <string>

#include "core/errors.hpp"

namespace tamrik::core {
namespace {

std::string nested_arrays(int depth) { return std::string(depth, '[') + std::string(depth, ']'); }

// A value nested `depth` levels deep, built without recursion.
Json deep_value(int depth) {
  Json value = Json::array();
  for (int i = 1; i < depth; ++i) {
    Json outer = Json::array();
    outer.push_back(std::move(value));
    value = std::move(outer);
  }
  return value;
}

TEST(IsSet, FalseForEveryEmptyOrFalseValue) {
  for (const Json& unset :
       {Json(nullptr), Json(false), Json(0), Json(0u), Json(0.0), Json(""), Json::array(), Json::object()}) {
    EXPECT_FALSE(is_set(unset)) << unset.dump();
  }
  for (const Json& set :
       {Json(true), Json(-1), Json(1u), Json(0.5), Json(" "), Json::array({0}), Json::object({{"a", nullptr}})}) {
    EXPECT_TRUE(is_set(set)) << set.dump();
  }
}

TEST(IsSet, MemberOfAnObject) {
  const Json obj = {{"model", "m"}, {"empty", ""}, {"zero", 0}};
  EXPECT_TRUE(is_set(obj, "model"));
  EXPECT_FALSE(is_set(obj, "empty"));
  EXPECT_FALSE(is_set(obj, "zero"));
  EXPECT_FALSE(is_set(obj, "missing"));
  EXPECT_FALSE(is_set(Json::array({"model"}), "model"));
  EXPECT_FALSE(is_set(Json("model"), "model"));
}

TEST(FilterMembers, KeepsTheAcceptedMembersInOrder) {
  const Json pointers = {{"z", "a"}, {"y", "b"}, {"x", "a"}, {"w", 1}};
  EXPECT_EQ(to_json_line(filter_members(pointers, [](const Json& value) { return value != "a"; })),
            R"({"y": "b", "w": 1})");
  EXPECT_EQ(filter_members(pointers, [](const Json&) { return false; }), Json::object());
}

TEST(GetText, TextMembersOnlyElseFallback) {
  const Json obj = {{"agent", "claude"}, {"count", 3}, {"none", nullptr}};
  EXPECT_EQ(get_text(obj, "agent"), "claude");
  EXPECT_EQ(get_text(obj, "count", "fb"), "fb");
  EXPECT_EQ(get_text(obj, "none", "fb"), "fb");
  EXPECT_EQ(get_text(obj, "missing"), "");
  EXPECT_EQ(get_text(Json::array(), "agent", "fb"), "fb");
  EXPECT_EQ(text_member(obj, "agent"), "claude");
  EXPECT_EQ(text_member(obj, "count"), std::nullopt);
  // member() chains through absent members and through non-objects.
  const Json record = {{"telemetry", {{"session_id", "s1"}}}, {"n", 1}};
  EXPECT_EQ(get_text(member(record, "telemetry"), "session_id"), "s1");
  EXPECT_TRUE(member(member(record, "absent"), "session_id").is_null());
  EXPECT_TRUE(member(member(record, "n"), "x").is_null());
}

TEST(ParseJson, ValidTextKeepsMemberOrder) {
  const auto value = parse_json(R"({"z": 1, "a": [true, null, "x"], "m": {"k": 1.5}})");
  ASSERT_TRUE(value);
  ASSERT_TRUE(value->is_object());
  EXPECT_EQ(value->begin().key(), "z");
  EXPECT_EQ((*value)["a"][2], "x");
  EXPECT_EQ((*value)["m"]["k"], 1.5);
}

TEST(ParseJson, InvalidTextGivesNulloptNeverThrows) {
  for (const std::string& bad : std::initializer_list<std::string>{
           "", "   ", "{", "[1,]", "{\"a\" 1}", "{\"a\":1} trailing", "nul", "'single'", "[1e400]", "-1e999",
           "\"\xff\"", "\"caf\xc3\"", std::string("{\"a\":\"x\0y\"}", 12), std::string("\0", 1), "[\"\x01\"]",
           "[\"\\ud800\"]", "{\"a\":1,}", "01", "NaN"}) {
    EXPECT_FALSE(parse_json(bad)) << '[' << bad << ']';
  }
}

TEST(ParseJson, NothingButPaddingAfterANulByte) {
  EXPECT_FALSE(parse_json(std::string("{\"a\": 1}\0{\"b\": 2}", 17)));
  EXPECT_FALSE(parse_json(std::string("2\0x", 3)));
  EXPECT_EQ(parse_json(std::string("{\"a\": 1}\0\0 \n\0", 13)), (Json{{"a", 1}}));
}

TEST(ParseJson, NumbersAtTheEdges) {
  EXPECT_EQ(*parse_json("18446744073709551615"), std::numeric_limits<std::uint64_t>::max());
  EXPECT_EQ(*parse_json("-9223372036854775808"), std::numeric_limits<std::int64_t>::min());
  EXPECT_TRUE(parse_json("18446744073709551616")->is_number_float());  // beyond 64 bits: a double
  EXPECT_EQ(*parse_json("1e308"), 1e308);
}

// {"k0": 0, "k1": 1, ...}, then `tail` before the closing brace.
std::string object_of_keys(int keys, std::string_view tail = "") {
  std::string text = "{";
  for (int i = 0; i < keys; ++i) text += (i > 0 ? ", \"k" : "\"k") + std::to_string(i) + "\": " + std::to_string(i);
  return text.append(tail) + "}";
}

TEST(ParseJson, LargeObjectsKeepOrderAndTheLastValueOfADuplicateInItsFirstPlace) {
  const auto value = parse_json(object_of_keys(50'000, R"(, "k3": "again", "k40000": {"x": [1]}, "new": 1)"));
  ASSERT_TRUE(value);
  ASSERT_EQ(value->size(), 50'001u);
  EXPECT_EQ(std::next(value->begin(), 3).key(), "k3");
  EXPECT_EQ((*value)["k3"], "again");
  EXPECT_EQ(std::next(value->begin(), 40'000).value(), (Json{{"x", {1}}}));
  EXPECT_EQ(std::prev(value->end()).key(), "new");

  // Small and large objects, nested, with duplicates: as the JSON library's own builder.
  for (const std::string& text : {std::string(R"({"a": 1, "b": {"c": 2, "c": [3]}, "a": {"d": 4}})"),
                                  object_of_keys(40, R"(, "k39": 0, "k2": {"k2": 1, "k2": 2}, "k0": null)")}) {
    EXPECT_EQ(parse_json(text), Json::parse(text)) << text;
  }
}

TEST(ParseJson, NumbersAsWrittenComeBackByteForByte) {
  const std::string line = R"({"big": 123456789012345678901234567890, "neg": -98765432109876543210987654321, )"
                           R"("past_u64": 18446744073709551616, "minus_zero": -0, "zero": [0, -0.0, 0.00, 0e5], )"
                           R"("floats": [1.50, 1E5, 1e+16, 2.5e-7, 1.5e-07, 1e-400, 0.1, 3], "text": "1.50"})";
  const std::optional<Json> kept = parse_json(line, Numbers::as_written);
  ASSERT_TRUE(kept);
  EXPECT_EQ(to_json_line(*kept), line);
  EXPECT_EQ(to_json_line(*parse_json(to_json_line(*kept), Numbers::as_written)), line);
  EXPECT_EQ(to_json_compact((*kept)["floats"]), "[1.50,1E5,1e+16,2.5e-7,1.5e-07,1e-400,0.1,3]");

  // Only numbers the writers would change are kept as text; the rest are values.
  EXPECT_EQ(written_number((*kept)["big"]), "123456789012345678901234567890");
  EXPECT_EQ(written_number((*kept)["floats"][0]), "1.50");
  EXPECT_EQ((*kept)["floats"][6], 0.1);
  EXPECT_EQ((*kept)["floats"][7], 3);
  EXPECT_EQ(written_number((*kept)["text"]), std::nullopt);

  EXPECT_TRUE(is_set(*kept, "big"));
  EXPECT_FALSE(is_set(*kept, "minus_zero"));
  for (const Json& zero : (*kept)["zero"]) EXPECT_FALSE(is_set(zero)) << to_json_line(zero);
  EXPECT_TRUE(is_set((*kept)["floats"][5]));  // 1e-400 is not zero, however small
}

TEST(ParseJson, LineSeparatorsInTextRoundTripAndNeverBreakALine) {
  const std::string escaped = R"(a\u0085b\u2028c\u2029d)";
  const std::string raw = "a\u0085b\u2028c\u2029d";  // the characters themselves, as UTF-8
  const auto value = parse_json("{\"" + raw + "\": \"" + raw + "\"}");
  ASSERT_TRUE(value);
  EXPECT_EQ(value->begin().key(), raw);
  EXPECT_EQ(value->begin().value(), raw);
  EXPECT_EQ(to_json_line(*value), "{\"" + escaped + "\": \"" + escaped + "\"}");
  EXPECT_EQ(to_json_compact(*value), "{\"" + escaped + "\":\"" + escaped + "\"}");
  EXPECT_EQ(parse_json(to_json_line(*value)), value);
  EXPECT_EQ(parse_json(to_json_compact(*value)), value);
}

TEST(ParseJson, RefusesNestingBeyondTheLimitBeforeBuildingAnything) {
  EXPECT_TRUE(parse_json(nested_arrays(kMaxJsonDepth)));
  EXPECT_FALSE(parse_json(nested_arrays(kMaxJsonDepth + 1)));
  EXPECT_FALSE(parse_json(nested_arrays(10'000)));
  EXPECT_FALSE(parse_json(std::string(1'000'000, '[')));
  EXPECT_FALSE(parse_json(std::string(100'000, '{')));

  // Objects count like arrays; brackets inside strings do not count.
  std::string objects;
  for (int i = 0; i < kMaxJsonDepth; ++i) objects += "{\"k\":";
  objects += "\"[[[[{{{{\\\"[[[\"" + std::string(kMaxJsonDepth, '}');
  EXPECT_TRUE(parse_json(objects));
}

TEST(ParseJson, HugeLineParses) {
  const std::string big(4'000'000, 'x');
  const auto value = parse_json("{\"summary\": \"" + big + "\"}");
  ASSERT_TRUE(value);
  EXPECT_EQ((*value)["summary"].get_ref<const std::string&>().size(), big.size());
}

TEST(ParseJsonOrThrow, ThrowsJSONDecodeErrorWithTheDecodersDescription) {
  try {
    parse_json_or_throw("{\"a\": }");
    FAIL() << "no exception";
  } catch (const JSONDecodeError& e) {
    EXPECT_EQ(e.class_name(), "JSONDecodeError");
    const std::string message = e.what();
    EXPECT_TRUE(message.starts_with("parse error at line 1, column 7")) << message;
    EXPECT_EQ(message.find("[json.exception"), std::string::npos) << message;
  }
  EXPECT_THROW(parse_json_or_throw("[1e400]"), JSONDecodeError);
  EXPECT_THROW(parse_json_or_throw(nested_arrays(kMaxJsonDepth + 1)), JSONDecodeError);
  EXPECT_EQ(parse_json_or_throw("[1]"), Json::array({1}));
}

TEST(ToJsonLine, LedgerSpacingAndAsciiEscapes) {
  const Json entry = {{"commit", "abc"}, {"synced", false}, {"summary", "caf\u00e9 \U0001F600"}};
  EXPECT_EQ(to_json_line(entry), R"({"commit": "abc", "synced": false, "summary": "caf\u00e9 \ud83d\ude00"})");
}

TEST(ToJsonLine, NestedValuesUseTheSameSpacing) {
  const Json value = {{"list", {1, 2}},
                      {"map", {{"a", 1}, {"b", {{"c", nullptr}}}}},
                      {"empty_list", Json::array()},
                      {"empty_map", Json::object()},
                      {"mixed", {Json::array(), Json::object(), "x"}}};
  EXPECT_EQ(to_json_line(value),
            R"({"list": [1, 2], "map": {"a": 1, "b": {"c": null}}, "empty_list": [], "empty_map": {}, )"
            R"("mixed": [[], {}, "x"]})");
  EXPECT_EQ(to_json_line(Json::object()), "{}");
  EXPECT_EQ(to_json_line(Json::array()), "[]");
  EXPECT_EQ(to_json_line("top"), "\"top\"");
}

TEST(ToJsonLine, KeepsInsertionOrder) {
  Json value = Json::object();
  value["zeta"] = 1;
  value["alpha"] = 2;
  value["mid"] = 3;
  EXPECT_EQ(to_json_line(value), R"({"zeta": 1, "alpha": 2, "mid": 3})");
}

TEST(ToJsonLine, EscapesControlCharactersAndDelete) {
  EXPECT_EQ(to_json_line(std::string("q\" b\\ \b\f\n\r\t \x01\x1f\x7f \0", 17)),
            R"("q\" b\\ \b\f\n\r\t \u0001\u001f\u007f \u0000")");
  EXPECT_EQ(to_json_line(Json{{"k\ney", 1}}), R"({"k\ney": 1})");
  EXPECT_EQ(to_json_line(Json{{"\u00e9", "/"}}), R"({"\u00e9": "/"})");
}

TEST(ToJsonLine, NonAsciiAsLowercaseEscapesWithSurrogatePairs) {
  EXPECT_EQ(to_json_line("\u00ff\u0100\u07ff\u0800\uabcd\uffff"), R"("\u00ff\u0100\u07ff\u0800\uabcd\uffff")");
  EXPECT_EQ(to_json_line("\U00010000\U0010FFFF"), R"("\ud800\udc00\udbff\udfff")");
}

TEST(ToJsonLine, InvalidUtf8BecomesOneReplacementPerBrokenSequence) {
  const std::pair<std::string, std::string> cases[] = {
      {"a\xff"
       "b",
       R"("a\ufffdb")"},                                      // byte that never starts a character
      {"\x80", R"("\ufffd")"},                                // lone continuation byte
      {"\xc3", R"("\ufffd")"},                                // truncated at the end
      {"\xc3(", R"("\ufffd(")"},                              // truncated before ASCII: the ASCII survives
      {"\xe2\x82", R"("\ufffd")"},                            // truncated three-byte sequence
      {"\xe2\x82\xac", R"("\u20ac")"},                        // the same, complete
      {"\xc0\xaf", R"("\ufffd\ufffd")"},                      // overlong '/'
      {"\xed\xa0\x80", R"("\ufffd\ufffd\ufffd")"},            // encoded surrogate
      {"\xf4\x90\x80\x80", R"("\ufffd\ufffd\ufffd\ufffd")"},  // beyond U+10FFFF
      {"\xf0\x9f\x98", R"("\ufffd")"},                        // truncated emoji
  };
  for (const auto& [bytes, expected] : cases) {
    EXPECT_EQ(to_json_line(bytes), expected);
  }
  // Keys are cleaned the same way, and the line always parses back.
  const Json value = {{"k\xff", "v\xfe"}};
  EXPECT_EQ(to_json_line(value), R"({"k\ufffd": "v\ufffd"})");
  EXPECT_TRUE(parse_json(to_json_line(value)));
}

TEST(ToJsonLine, NumbersAsTheJsonLibraryWritesThem) {
  const Json numbers = {1.0,
                        0.1,
                        1e16,
                        1.5e-7,
                        -0.0,
                        123456789.125,
                        -5,
                        std::numeric_limits<std::uint64_t>::max(),
                        std::numeric_limits<std::int64_t>::min(),
                        std::numeric_limits<double>::quiet_NaN()};
  EXPECT_EQ(to_json_line(numbers),
            "[1.0, 0.1, 1e+16, 1.5e-07, -0.0, 123456789.125, -5, 18446744073709551615, -9223372036854775808, null]");
}

TEST(ToJsonLine, WritesValuesDeeperThanTheParserAcceptsWithoutRecursion) {
  const std::string text = to_json_line(deep_value(100'000));
  EXPECT_EQ(text, nested_arrays(100'000));
}

TEST(ToJsonCompact, NoSpacesAndUtf8Kept) {
  const Json value = {{"summary", "caf\u00e9 \U0001F600"}, {"n", {1, 2.5}}, {"ctl", "\t\x7f"}};
  EXPECT_EQ(to_json_compact(value), "{\"summary\":\"caf\u00e9 \U0001F600\",\"n\":[1,2.5],\"ctl\":\"\\t\x7f\"}");
  EXPECT_EQ(to_json_compact(Json{{"bad", "x\xff"}}), "{\"bad\":\"x\ufffd\"}");
}

// Random documents: both encodings must read back to the same value, and the
// compact one must equal the JSON library's own dump.
Json random_json_value(std::mt19937& rng, int depth) {
  static const std::string kPieces[] = {"a", "\u00e9", "\U0001F600", "\"", "\\", "\n", "\x01", "\x7f", " ", "/", "0"};
  const int kind = std::uniform_int_distribution<>(0, depth > 4 ? 4 : 6)(rng);
  switch (kind) {
    case 0:
      return nullptr;
    case 1:
      return std::uniform_int_distribution<>(0, 1)(rng) == 1;
    case 2:
      return std::uniform_int_distribution<std::int64_t>(std::numeric_limits<std::int64_t>::min())(rng);
    case 3:
      return std::uniform_real_distribution<double>(-1e20, 1e20)(rng);
    case 4: {
      std::string text;
      for (int i = std::uniform_int_distribution<>(0, 6)(rng); i > 0; --i) {
        text += kPieces[std::uniform_int_distribution<std::size_t>(0, std::size(kPieces) - 1)(rng)];
      }
      return text;
    }
    case 5: {
      Json array = Json::array();
      for (int i = std::uniform_int_distribution<>(0, 4)(rng); i > 0; --i)
        array.push_back(random_json_value(rng, depth + 1));
      return array;
    }
    default: {
      Json object = Json::object();
      for (int i = std::uniform_int_distribution<>(0, 4)(rng); i > 0; --i) {
        object[random_json_value(rng, 5).dump()] = random_json_value(rng, depth + 1);
      }
      return object;
    }
  }
}

TEST(JsonEncodings, RoundTripRandomDocuments) {
  std::mt19937 rng(20240501);
  for (int i = 0; i < 2000; ++i) {
    const Json value = random_json_value(rng, 0);
    const std::string line = to_json_line(value);
    ASSERT_EQ(parse_json(line), value) << line;
    for (char c : line) ASSERT_LT(static_cast<unsigned char>(c), 0x80) << line;
    ASSERT_EQ(to_json_compact(value), value.dump()) << line;
  }
}

}  // namespace
}  // namespace tamrik::core
