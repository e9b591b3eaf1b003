#include "synccore/record_scan.hpp"

#include "core/time_text.hpp"
#include "synccore/ledger.hpp"

#include <array>
#include <cstdint>
#include <iterator>
#include <optional>
#include <string>
#include <tuple>

namespace tamrik::synccore::detail {

namespace {

constexpr int kMaxDepth = 4;
constexpr size_t kMaxDigits = 18;  // always fits in int64_t

// The characters a plain string holds as they are: printable ASCII but the
// quote and the backslash.
constexpr auto kPlain = [] {
  std::array<bool, 256> plain{};
  for (int c = 0x20; c < 0x7f; ++c) plain[c] = c != '"' && c != '\\';
  return plain;
}();

// A value of the plain form; `text` holds a string's decoded characters.
enum class Kind { string, number, boolean, null, object, array };

class PlainReader {
 public:
  explicit PlainReader(std::string_view text) : text_(text) {}

  bool at_end() {
    skip_blanks();
    return pos_ == text_.size();
  }
  bool take(char c) {
    skip_blanks();
    if (pos_ == text_.size() || text_[pos_] != c) return false;
    ++pos_;
    return true;
  }
  char peek() {
    skip_blanks();
    return pos_ < text_.size() ? text_[pos_] : '\0';
  }

  // A string, decoded into `out` unless it is null (then only checked).
  bool string(std::string* out) {
    if (!take('"')) return false;
    if (out != nullptr) out->clear();
    while (pos_ < text_.size()) {
      size_t run = pos_;
      while (run < text_.size() && kPlain[static_cast<unsigned char>(text_[run])]) ++run;
      if (out != nullptr) out->append(text_.data() + pos_, run - pos_);
      pos_ = run;
      if (pos_ == text_.size()) return false;
      const char c = text_[pos_++];
      if (c == '"') return true;
      if (c != '\\' || pos_ == text_.size()) return false;  // a control character or beyond ASCII
      const char escaped = unescape(text_[pos_++]);
      if (escaped == '\0') return false;
      if (out != nullptr) out->push_back(escaped);
    }
    return false;
  }

  // A whole number; nullopt for any other number.
  std::optional<int64_t> number() {
    skip_blanks();
    const bool negative = pos_ < text_.size() && text_[pos_] == '-';
    if (negative) ++pos_;
    const size_t start = pos_;
    while (pos_ < text_.size() && text_[pos_] >= '0' && text_[pos_] <= '9') ++pos_;
    const size_t digits = pos_ - start;
    if (digits == 0 || digits > kMaxDigits || (digits > 1 && text_[start] == '0')) return std::nullopt;
    if (pos_ < text_.size() && (text_[pos_] == '.' || text_[pos_] == 'e' || text_[pos_] == 'E')) return std::nullopt;
    int64_t value = 0;
    for (size_t i = start; i < pos_; ++i) value = value * 10 + (text_[i] - '0');
    return negative ? -value : value;
  }

  // true, false or null.
  std::optional<Kind> literal(bool& truth) {
    skip_blanks();
    for (const auto& [word, kind, value] :
         {std::tuple{"true", Kind::boolean, true}, std::tuple{"false", Kind::boolean, false},
          std::tuple{"null", Kind::null, false}}) {
      const std::string_view spelled(word);
      if (text_.substr(pos_, spelled.size()) == spelled) {
        pos_ += spelled.size();
        truth = value;
        return kind;
      }
    }
    return std::nullopt;
  }

  // Passes over any value; its kind, or nullopt when it is not plain.
  std::optional<Kind> skip_value(int depth) {
    const char c = peek();
    if (c == '"') return string(nullptr) ? std::optional(Kind::string) : std::nullopt;
    if (c == '-' || (c >= '0' && c <= '9')) return number() ? std::optional(Kind::number) : std::nullopt;
    if (c == '{' || c == '[')
      return depth < kMaxDepth && skip_container(depth + 1) ? std::optional(c == '{' ? Kind::object : Kind::array)
                                                            : std::nullopt;
    bool truth = false;
    return literal(truth);
  }

  // Members of an object whose "{" is next, each handed to `member` with
  // the reader at its value; `member` reads the value or returns false.
  template <typename Member>
  bool members(Member&& member, std::string& key) {
    if (!take('{')) return false;
    if (take('}')) return true;
    do {
      if (!string(&key) || !take(':') || !member(key)) return false;
    } while (take(','));
    return take('}');
  }

 private:
  bool skip_container(int depth) {
    const bool object = text_[pos_++] == '{';
    const char close = object ? '}' : ']';
    if (take(close)) return true;
    do {
      if (object && (!string(nullptr) || !take(':'))) return false;
      if (!skip_value(depth)) return false;
    } while (take(','));
    return take(close);
  }

  static char unescape(char c) {
    switch (c) {
      case '"':
        return '"';
      case '\\':
        return '\\';
      case '/':
        return '/';
      case 'b':
        return '\b';
      case 'f':
        return '\f';
      case 'n':
        return '\n';
      case 'r':
        return '\r';
      case 't':
        return '\t';
      default:
        return '\0';  // \u and anything else: left to the full parser
    }
  }

  void skip_blanks() {
    while (pos_ < text_.size() &&
           (text_[pos_] == ' ' || text_[pos_] == '\t' || text_[pos_] == '\n' || text_[pos_] == '\r'))
      ++pos_;
  }

  std::string_view text_;
  size_t pos_ = 0;
};

// A member's value as view_of() takes it: a string's text, else "".
bool text_value(PlainReader& reader, std::string& out) {
  if (reader.peek() == '"') return reader.string(&out);
  out.clear();
  return reader.skip_value(1).has_value();
}

// A member read with is_set(): only true, false and null are taken here.
bool flag_value(PlainReader& reader, bool& out) {
  const std::optional<Kind> kind = reader.literal(out);
  return kind.has_value();
}

bool count_value(PlainReader& reader, uint64_t& out) {
  out = 0;
  const char c = reader.peek();
  if (c != '-' && (c < '0' || c > '9')) return reader.skip_value(2).has_value();
  const std::optional<int64_t> value = reader.number();
  if (!value) return false;
  out = *value > 0 ? static_cast<uint64_t>(*value) : 0;
  return true;
}

bool tokens_value(PlainReader& reader, std::optional<TokenCounts>& out) {
  out.reset();
  if (reader.peek() != '{') return reader.skip_value(2).has_value();
  uint64_t cache_creation = 0, cache_read = 0;
  TokenCounts tokens;
  std::string key;
  int seen = 0;
  const bool read = reader.members(
      [&](const std::string& name) {
        const int bit = name == "input"            ? 1
                        : name == "output"         ? 2
                        : name == "cache_creation" ? 4
                        : name == "cache_read"     ? 8
                                                   : 0;
        if ((seen & bit) != 0) return false;  // a repeated key: the full parser decides
        seen |= bit;
        if (bit == 1) return count_value(reader, tokens.input);
        if (bit == 2) return count_value(reader, tokens.output);
        if (bit == 4) return count_value(reader, cache_creation);
        if (bit == 8) return count_value(reader, cache_read);
        return reader.skip_value(3).has_value();
      },
      key);
  if (!read) return false;
  tokens += TokenCounts{.cache = cache_creation};
  tokens += TokenCounts{.cache = cache_read};
  out = tokens;
  return true;
}

bool telemetry_value(PlainReader& reader, RecordView& view) {
  view.model.clear();
  view.tokens.reset();
  if (reader.peek() != '{') return reader.skip_value(1).has_value();
  std::string key;
  int seen = 0;
  return reader.members(
      [&](const std::string& name) {
        const int bit = name == "model" ? 1 : name == "tokens" ? 2 : 0;
        if ((seen & bit) != 0) return false;
        seen |= bit;
        if (bit == 1) return text_value(reader, view.model);
        if (bit == 2) return tokens_value(reader, view.tokens);
        return reader.skip_value(2).has_value();
      },
      key);
}

bool developer_value(PlainReader& reader, std::string& out) {
  if (reader.peek() != '{') return text_value(reader, out);
  std::string name, email, key;
  int seen = 0;
  const bool read = reader.members(
      [&](const std::string& member) {
        const int bit = member == "git_author_name" ? 1 : member == "git_author_email" ? 2 : 0;
        if ((seen & bit) != 0) return false;
        seen |= bit;
        if (bit == 1) return text_value(reader, name);
        if (bit == 2) return text_value(reader, email);
        return reader.skip_value(2).has_value();
      },
      key);
  out = name.empty() || email.empty() ? name + email : name + " <" + email + ">";
  return read;
}

// A view read before leaves its strings' buffers for the next line.
void clear_keeping_buffers(RecordView& view) {
  for (std::string* text : {&view.commit, &view.branch, &view.timestamp, &view.agent, &view.model, &view.developer,
                            &view.summary, &view.task_type}) {
    text->clear();
  }
  view.entry = nullptr;
  view.time.reset();
  view.tokens.reset();
  view.kind = RecordKind::attested;
  view.upload = UploadState::pending;
  view.completed = false;
}

}  // namespace

bool scan_record(std::string_view line, const SyncedJournal& journal, RecordView& view) {
  PlainReader reader(line);
  std::string key, event;
  bool synced = false, uploaded = false;
  clear_keeping_buffers(view);
  static constexpr std::string_view kKeys[] = {"commit", "branch", "timestamp", "agent",     "summary",
                                               "event",  "synced", "uploaded",  "developer", "telemetry"};
  unsigned seen = 0;
  const bool read = reader.members(
      [&](const std::string& name) {
        unsigned bit = 0;
        for (size_t i = 0; i < std::size(kKeys); ++i) {
          if (kKeys[i] == name) bit = 1u << i;
        }
        if ((seen & bit) != 0) return false;
        seen |= bit;
        switch (bit) {
          case 1u << 0:
            return text_value(reader, view.commit);
          case 1u << 1:
            return text_value(reader, view.branch);
          case 1u << 2:
            return text_value(reader, view.timestamp);
          case 1u << 3:
            return text_value(reader, view.agent);
          case 1u << 4:
            return text_value(reader, view.summary);
          case 1u << 5:
            return text_value(reader, event);
          case 1u << 6:
            return flag_value(reader, synced);
          case 1u << 7:
            return flag_value(reader, uploaded);
          case 1u << 8:
            return developer_value(reader, view.developer);
          case 1u << 9:
            return telemetry_value(reader, view);
          default:
            return reader.skip_value(1).has_value();
        }
      },
      key);
  if (!read || !reader.at_end()) return false;
  if (!synced && !uploaded && !journal.empty() && journal.names(view.commit)) return false;
  view.time = core::parse_iso8601(view.timestamp);
  view.kind = event == event_for_reason("skipped")      ? RecordKind::skipped
              : event == event_for_reason("unattested") ? RecordKind::unattested
                                                        : RecordKind::attested;
  view.upload = synced || uploaded                   ? UploadState::uploaded
                : _is_valid_commit_hash(view.commit) ? UploadState::pending
                                                     : UploadState::unaddressable;
  return true;
}

}  // namespace tamrik::synccore::detail
