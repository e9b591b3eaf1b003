#include "host/commands/codex_mcp_table.hpp"

#include "host/utils/toml.hpp"
#include "host/utils/toml_text.hpp"

#include <algorithm>
#include <array>
#include <span>
#include <vector>

namespace tamrik::commands::mcp {

namespace {

namespace toml_text = utils::toml_text;

constexpr std::string_view kHeader = "[mcp_servers.tamrik]";
// The keys of our table that tamrik writes; every other key is the person's.
constexpr std::array<std::string_view, 2> kOwnedKeys = {"command", "args"};

struct Span {
  std::size_t begin;
  std::size_t end;
};

struct Edit {
  Span span;
  std::string text;
};

// How our table is declared. Only a table under its own header takes new
// keys: an inline table or dotted keys would have to be rewritten.
enum class Form { own_header, implicit, inline_table, dotted_keys };

bool is_owned(std::string_view key) { return std::find(kOwnedKeys.begin(), kOwnedKeys.end(), key) != kOwnedKeys.end(); }

std::string value_text(std::string_view key, std::string_view command) {
  return key == "command" ? toml_text::basic_string(command) : "[\"mcp\"]";
}

// "key = value" lines, joined by `eol`, with no line ending after the last.
std::string key_lines(std::span<const std::string_view> keys, std::string_view command, std::string_view eol) {
  std::string lines;
  for (const std::string_view key : keys) {
    if (!lines.empty()) lines += eol;
    lines += std::string(key) + " = " + value_text(key, command);
  }
  return lines;
}

std::optional<toml::table> parsed(const std::string& text) {
  try {
    return toml::parse(text);
  } catch (const toml::parse_error&) {
    return std::nullopt;
  }
}

// The file's text and what it holds.
struct Readable {
  std::string text;
  toml::table doc;
};

// What versions of tamrik that matched line starts appended after an entry
// of ours they did not recognise (an inline table, dotted keys, a spaced
// header), set apart by a blank line: Codex then refused the file for
// defining the table twice.
constexpr std::string_view kEarlierTable = "[mcp_servers.tamrik]\ncommand = \"tamrik\"\nargs = [\"mcp\"]\n";

// The file without that second table, when taking it out is what makes the
// file TOML again.
std::optional<Readable> without_earlier_table(const std::string& text) {
  const std::size_t at = text.rfind(kEarlierTable);
  if (at == std::string::npos || (at > 0 && text[at - 1] != '\n')) return std::nullopt;
  const std::size_t begin = at >= 2 && text[at - 2] == '\n' ? at - 1 : at;
  std::string repaired = text.substr(0, begin) + text.substr(at + kEarlierTable.size());
  std::optional<toml::table> doc = parsed(repaired);
  if (!doc) return std::nullopt;
  return Readable{std::move(repaired), std::move(*doc)};
}

Readable readable(const std::string& text, const std::string& file) {
  try {
    return {text, toml::parse(text)};
  } catch (const toml::parse_error& e) {
    if (std::optional<Readable> repaired = without_earlier_table(text)) return std::move(*repaired);
    throw UneditableCodexConfig(file + " is not valid TOML (line " + std::to_string(e.source().begin.line) + ": " +
                                std::string(e.description()) +
                                "); tamrik left it as it was. Fix it (Codex cannot read it either) and run `tamrik "
                                "setup` again");
  }
}

[[noreturn]] void refuse(const std::string& file, const std::string& why, std::string_view command) {
  throw UneditableCodexConfig("tamrik's tool server is not registered in " + file + ": " + why +
                              "; tamrik left the file as it was. Give [mcp_servers.tamrik] `command = " +
                              toml_text::basic_string(command) + "` and `args = [\"mcp\"]` by hand");
}

Span span_of(std::string_view text, const toml::source_region& region) {
  return {toml_text::offset(text, region.begin.line, region.begin.column),
          toml_text::offset(text, region.end.line, region.end.column)};
}

std::size_t line_start(std::string_view text, std::size_t at) {
  const std::size_t newline = at == 0 ? std::string_view::npos : text.rfind('\n', at - 1);
  return newline == std::string_view::npos ? 0 : newline + 1;
}

// Just past the line ending of the line holding `at`, or the end of text.
std::size_t next_line(std::string_view text, std::size_t at) {
  const std::size_t newline = text.find('\n', at);
  return newline == std::string_view::npos ? text.size() : newline + 1;
}

bool is_blank(std::string_view text) { return text.find_first_not_of(" \t\r\n") == std::string_view::npos; }

Form form_of(std::string_view text, const toml::table& server) {
  if (server.is_inline()) return Form::inline_table;
  // A table's source is the header that declared it, or (declared only by
  // its sub-tables' headers) the first of those, or the dotted key.
  const Span span = span_of(text, server.source());
  const std::string_view opening = text.substr(span.begin, span.end - span.begin);
  if (!opening.starts_with('[')) return Form::dotted_keys;
  try {
    return toml::parse(opening) == toml::parse(kHeader) ? Form::own_header : Form::implicit;
  } catch (const toml::parse_error&) {
    return Form::implicit;
  }
}

// `table` with only `keep(key)` keys.
template <typename Keep>
toml::table filtered(toml::table table, Keep keep) {
  for (auto it = table.begin(); it != table.end();) it = keep(it->first.str()) ? std::next(it) : table.erase(it);
  return table;
}

// The document without tamrik's keys: what an edit must leave as it was.
toml::table without_ours(toml::table doc) {
  toml::table* servers = doc["mcp_servers"].as_table();
  if (servers == nullptr) return doc;
  if (toml::table* server = (*servers)["tamrik"].as_table()) {
    *server = filtered(*server, [](std::string_view key) { return !is_owned(key); });
    if (server->empty()) servers->erase("tamrik");
  }
  if (servers->empty()) doc.erase("mcp_servers");
  return doc;
}

std::string applied(std::string text, std::vector<Edit> edits) {
  std::sort(edits.begin(), edits.end(), [](const Edit& a, const Edit& b) { return a.span.begin > b.span.begin; });
  for (const Edit& edit : edits) text.replace(edit.span.begin, edit.span.end - edit.span.begin, edit.text);
  return text;
}

// A new table at the end, set apart by a blank line. The file keeps
// ending with a line ending, or without one, as it did.
Edit appended_table(std::string_view text, std::span<const std::string_view> keys, std::string_view command) {
  const std::string eol(toml_text::line_ending(text));
  const std::string table = std::string(kHeader) + eol + key_lines(keys, command, eol);
  std::string added = table + eol;
  if (text.ends_with('\n'))
    added = eol + table + eol;
  else if (!text.empty())
    added = eol + eol + table;
  return {{text.size(), text.size()}, added};
}

// New keys first in the table, right under its header line.
Edit under_header(std::string_view text, const toml::table& server, std::span<const std::string_view> keys,
                  std::string_view command) {
  const std::string_view eol = toml_text::line_ending(text);
  const std::size_t after = next_line(text, span_of(text, server.source()).end);
  if (after == text.size() && !text.ends_with('\n')) {
    return {{after, after}, std::string(eol) + key_lines(keys, command, eol)};
  }
  return {{after, after}, key_lines(keys, command, eol) + std::string(eol)};
}

std::vector<Edit> edits_for(std::string_view text, const toml::table& doc, const toml::table& ours,
                            std::string_view command, const std::string& file) {
  const toml::node* servers = doc.get("mcp_servers");
  if (servers != nullptr && !servers->is_table()) refuse(file, "mcp_servers is not a table", command);
  const toml::node* server = servers != nullptr ? servers->as_table()->get("tamrik") : nullptr;
  if (server == nullptr) {
    if (servers != nullptr && servers->as_table()->is_inline()) refuse(file, "mcp_servers is an inline table", command);
    return {appended_table(text, kOwnedKeys, command)};
  }
  if (!server->is_table()) refuse(file, "mcp_servers.tamrik is not a table", command);
  const toml::table& table = *server->as_table();
  std::vector<Edit> edits;
  std::vector<std::string_view> missing;
  for (const std::string_view key : kOwnedKeys) {
    const toml::node* value = table.get(key);
    const auto only_key = [key](std::string_view k) { return k == key; };
    if (value == nullptr) {
      missing.push_back(key);
    } else if (filtered(table, only_key) != filtered(ours, only_key)) {
      // A value is replaced where it stands, whatever form the table has.
      edits.push_back({span_of(text, value->source()), value_text(key, command)});
    }
  }
  if (missing.empty()) return edits;
  switch (form_of(text, table)) {
    case Form::own_header:
      edits.push_back(under_header(text, table, missing, command));
      break;
    case Form::implicit:
      edits.push_back(appended_table(text, missing, command));
      break;
    case Form::inline_table:
      refuse(file, "it is an inline table, which tamrik does not add keys to", command);
    case Form::dotted_keys:
      refuse(file, "it is written with dotted keys, which tamrik does not add keys to", command);
  }
  return edits;
}

// The lines of our table: its header and its keys, with the blank lines
// between them. nullopt when another line (a comment) is among them.
std::optional<Span> our_lines(std::string_view text, const toml::table& server) {
  std::vector<Span> ours = {span_of(text, server.source())};
  for (const auto& [key, value] : server) {
    ours.push_back({span_of(text, key.source()).begin, span_of(text, value.source()).end});
  }
  std::size_t end = 0;
  for (const Span& span : ours) end = std::max(end, span.end);
  // A byte-order mark before the header stays.
  const std::size_t begin = std::max(line_start(text, ours.front().begin), toml_text::offset(text, 1, 1));
  const Span lines{begin, next_line(text, end)};
  for (std::size_t at = lines.begin; at < lines.end; at = next_line(text, at)) {
    const std::size_t next = next_line(text, at);
    const bool holds_ours =
        std::any_of(ours.begin(), ours.end(), [&](const Span& span) { return span.begin < next && span.end > at; });
    if (!holds_ours && !is_blank(text.substr(at, next - at))) return std::nullopt;
  }
  return lines;
}

void drop_line_ending(std::string& text) {
  if (text.ends_with('\n')) text.pop_back();
  if (text.ends_with('\r')) text.pop_back();
}

// The text without `lines` and the blank lines after them. At the end of
// the file the blank line that set them apart goes too, as does the final
// line ending when the file had none: what appended_table() added.
std::string without_lines(const std::string& text, Span lines) {
  std::size_t end = lines.end;
  while (end < text.size() && is_blank(std::string_view(text).substr(end, next_line(text, end) - end))) {
    end = next_line(text, end);
  }
  if (end < text.size()) return text.substr(0, lines.begin) + text.substr(end);
  std::string before = text.substr(0, lines.begin);
  if (before.ends_with("\n\n") || before.ends_with("\n\r\n")) {
    drop_line_ending(before);
    if (!text.ends_with('\n')) drop_line_ending(before);
  }
  return before;
}

std::string joined(const std::vector<std::string>& words) {
  std::string text;
  for (const std::string& word : words) text += (text.empty() ? "" : ", ") + word;
  return text;
}

}  // namespace

std::optional<std::string> codex_config_with_server(const std::string& text, std::string_view command,
                                                    const std::string& file) {
  const Readable now = readable(text, file);
  const std::optional<toml::table> ours = parsed(key_lines(kOwnedKeys, command, "\n"));
  if (!ours) refuse(file, "tamrik's own path cannot be written in TOML", command);
  const std::vector<Edit> edits = edits_for(now.text, now.doc, *ours, command, file);
  if (edits.empty() && now.text == text) return std::nullopt;
  std::string edited = applied(now.text, edits);
  // The edit is checked as Codex will read it: our keys as intended, and
  // every other value as it was.
  const std::optional<toml::table> after = parsed(edited);
  const toml::table* server = after ? (*after)["mcp_servers"]["tamrik"].as_table() : nullptr;
  if (server == nullptr || filtered(*server, is_owned) != *ours || without_ours(*after) != without_ours(now.doc)) {
    refuse(file, "adding it would change more than tamrik's own keys", command);
  }
  return edited;
}

CodexRemoval codex_config_without_server(const std::string& text, const std::string& file) {
  const Readable now = readable(text, file);
  // A repaired file is written whatever happens to the entry.
  const auto kept = [&](const std::string& why) {
    return CodexRemoval{now.text != text ? std::optional(now.text) : std::nullopt,
                        why.empty() ? ""
                                    : "left [mcp_servers.tamrik] in " + file + ": " + why +
                                          "; delete it by hand if Codex should no longer start tamrik"};
  };
  const toml::node* node = now.doc["mcp_servers"]["tamrik"].node();
  if (node == nullptr) return kept("");
  const toml::table* server = node->as_table();
  if (server == nullptr) return kept("it is not a table");
  std::vector<std::string> theirs;
  for (const auto& [key, value] : *server) {
    if (!is_owned(key.str())) theirs.emplace_back(key.str());
  }
  // Without `command` Codex refuses the whole file: the person's settings
  // keep the entry they belong to.
  if (!theirs.empty()) return kept("it also holds your own settings (" + joined(theirs) + ")");
  if (form_of(now.text, *server) != Form::own_header) {
    return kept("it is not written as a table of its own, as tamrik writes it");
  }
  const std::optional<Span> lines = our_lines(now.text, *server);
  if (!lines) return kept("it holds comments of your own");
  std::string removed = without_lines(now.text, *lines);
  const std::optional<toml::table> after = parsed(removed);
  if (!after || (*after)["mcp_servers"]["tamrik"] || without_ours(*after) != without_ours(now.doc)) {
    throw UneditableCodexConfig("tamrik could not take [mcp_servers.tamrik] out of " + file +
                                " without touching the rest; delete it by hand");
  }
  return {std::move(removed), ""};
}

}  // namespace tamrik::commands::mcp
