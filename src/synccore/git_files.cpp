#include "synccore/git_files.hpp"

#include "core/file_io.hpp"
#include "core/process.hpp"
#include "host/services/checkout.hpp"
#include "core/text.hpp"

#include <zlib.h>

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <ctime>

namespace tamrik::synccore {

namespace {

// A commit object is a few hundred bytes; a signed merge with a long
// message a few kilobytes. Past these the git child answers.
constexpr size_t kObjectFileCap = 1 << 20;
constexpr size_t kCommitCap = 4 << 20;
constexpr size_t kConfigCap = 1 << 20;
constexpr size_t kPackedRefsCap = 4 << 20;
constexpr size_t kHashLength = 40;

bool is_hash(std::string_view text) {
  return text.size() == kHashLength &&
         std::all_of(text.begin(), text.end(), [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

bool is_git_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

bool mentions(const std::string& lowered, std::initializer_list<std::string_view> words) {
  return std::any_of(words.begin(), words.end(),
                     [&](std::string_view w) { return lowered.find(w) != std::string::npos; });
}

// Settings that change what git would answer: another object format or ref
// storage (extensions), files we would not read (include), another output
// encoding. Any mention at all, a comment included, sends us to git.
bool repository_config_is_plain(const path& common) {
  const std::optional<std::string> text = core::try_read_file(common / "config", kConfigCap);
  if (!text) return false;
  return !mentions(core::lower_ascii(*text), {"extensions", "include", "logoutputencoding"});
}

// The person's own configuration can only change the output encoding here.
// (A file it includes is not read; neither is one git's -c names.)
bool user_config_is_plain() {
  const auto variable = [](const char* name) -> std::optional<path> {
    const char* value = std::getenv(name);
    if (value == nullptr || *value == '\0') return std::nullopt;
    return path(value);
  };
  std::vector<path> files;
  if (const std::optional<path> global = variable("GIT_CONFIG_GLOBAL")) {
    files.push_back(*global);
  } else if (const std::optional<path> home = variable("HOME")) {
    files.push_back(*home / ".gitconfig");
    files.push_back(variable("XDG_CONFIG_HOME").value_or(*home / ".config") / "git" / "config");
  }
  if (std::getenv("GIT_CONFIG_NOSYSTEM") == nullptr) {
    files.push_back(variable("GIT_CONFIG_SYSTEM").value_or("/etc/gitconfig"));
  }
  return std::none_of(files.begin(), files.end(), [](const path& file) {
    const std::optional<std::string> text = core::try_read_file(file, kConfigCap);
    return text && mentions(core::lower_ascii(*text), {"logoutputencoding"});
  });
}

bool environment_is_plain() {
  for (const char* name : {"GIT_DIR", "GIT_WORK_TREE", "GIT_COMMON_DIR", "GIT_OBJECT_DIRECTORY",
                           "GIT_ALTERNATE_OBJECT_DIRECTORIES", "GIT_REPLACE_REF_BASE", "GIT_NAMESPACE",
                           "GIT_GRAFT_FILE", "GIT_SHALLOW_FILE", "GIT_CONFIG", "GIT_CONFIG_COUNT"}) {
    if (std::getenv(name) != nullptr) return false;
  }
  const char* parameters = std::getenv("GIT_CONFIG_PARAMETERS");
  return parameters == nullptr ||
         !mentions(core::lower_ascii(parameters), {"extensions", "logoutputencoding", "replace"});
}

// The packed-refs file, "" when there is none; nullopt when it is too
// large to read here.
std::optional<std::string> packed_refs(const path& common) {
  if (!core::path_exists(common / "packed-refs")) return std::string();
  return core::try_read_file(common / "packed-refs", kPackedRefsCap);
}

std::optional<std::string> packed_hash(const std::string& packed, std::string_view ref) {
  for (size_t start = 0; start < packed.size();) {
    size_t end = packed.find('\n', start);
    if (end == std::string::npos) end = packed.size();
    const std::string_view line(packed.data() + start, end - start);
    if (line.size() == kHashLength + 1 + ref.size() && line[kHashLength] == ' ' &&
        line.substr(kHashLength + 1) == ref && is_hash(line.substr(0, kHashLength))) {
      return std::string(line.substr(0, kHashLength));
    }
    start = end + 1;
  }
  return std::nullopt;
}

struct PlainRepository {
  services::GitDirs dirs;
  std::string packed;  // packed-refs, "" when there is none
};

// Replace refs, grafts and a shallow boundary all change a commit's parents
// or content as git shows them.
bool history_is_plain(const path& common, const std::string& packed) {
  if (core::path_exists(common / "info" / "grafts") || core::path_exists(common / "shallow")) return false;
  std::error_code error;
  const path replace = common / "refs" / "replace";
  if (std::filesystem::exists(replace, error) && !std::filesystem::is_empty(replace, error)) return false;
  return packed.find(" refs/replace/") == std::string::npos;
}

// The hash of a branch ref, loose or packed; nullopt for anything else (a
// symbolic ref, a broken file).
std::optional<std::string> branch_hash(const path& common, const std::string& packed, const std::string& ref) {
  const path loose = common / ref;
  if (core::path_exists(loose)) {
    const std::optional<std::string> text = core::try_read_file(loose, kHashLength + 2);
    if (!text || text->size() != kHashLength + 1 || text->back() != '\n') return std::nullopt;
    const std::string hash = text->substr(0, kHashLength);
    return is_hash(hash) ? std::optional<std::string>(hash) : std::nullopt;
  }
  return packed_hash(packed, ref);
}

// `--abbrev-ref` shortens refs/heads/NAME to NAME unless NAME, refs/NAME or
// refs/tags/NAME also exists; then git's longer answer is asked for.
bool short_name_is_unambiguous(const PlainRepository& repository, const std::string& name) {
  const services::GitDirs& dirs = repository.dirs;
  const std::string& packed = repository.packed;
  for (const std::string& candidate : {name, "refs/" + name, "refs/tags/" + name}) {
    if (core::path_exists(dirs.own / candidate) || core::path_exists(dirs.common / candidate)) return false;
    if (packed_hash(packed, candidate)) return false;
  }
  return true;
}

// The checkout's git directories when nothing in the environment or the
// repository makes git answer otherwise than the files read here say.
std::optional<PlainRepository> plain_repository(const path& work_tree) {
  if (!environment_is_plain()) return std::nullopt;
  std::optional<services::GitDirs> dirs = services::git_dirs_of(work_tree);
  if (!dirs || !repository_config_is_plain(dirs->common) || !user_config_is_plain()) return std::nullopt;
  std::optional<std::string> packed = packed_refs(dirs->common);
  if (!packed || !history_is_plain(dirs->common, *packed)) return std::nullopt;
  return PlainRepository{std::move(*dirs), std::move(*packed)};
}

std::optional<std::string> inflate_object(const std::string& compressed) {
  z_stream stream{};
  if (inflateInit(&stream) != Z_OK) return std::nullopt;
  std::string out;
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(compressed.data()));
  stream.avail_in = static_cast<uInt>(compressed.size());
  int status = Z_OK;
  char buffer[16384];
  while (status == Z_OK && out.size() <= kCommitCap) {
    stream.next_out = reinterpret_cast<Bytef*>(buffer);
    stream.avail_out = sizeof buffer;
    status = inflate(&stream, Z_NO_FLUSH);
    out.append(buffer, sizeof buffer - stream.avail_out);
    if (status == Z_BUF_ERROR && stream.avail_in == 0) break;
  }
  inflateEnd(&stream);
  if (status != Z_STREAM_END || out.size() > kCommitCap) return std::nullopt;
  return out;
}

// The content of a loose commit object, checked against its header.
std::optional<std::string> loose_commit(const path& common, const std::string& full) {
  const path file = common / "objects" / full.substr(0, 2) / full.substr(2);
  const std::optional<std::string> compressed = core::try_read_file(file, kObjectFileCap);
  if (!compressed) return std::nullopt;
  std::optional<std::string> object = inflate_object(*compressed);
  if (!object) return std::nullopt;
  constexpr std::string_view kType = "commit ";
  const size_t nul = object->find('\0');
  if (!object->starts_with(kType) || nul == std::string::npos) return std::nullopt;
  size_t size = 0;
  const char* digits = object->data() + kType.size();
  const auto [end, error] = std::from_chars(digits, object->data() + nul, size);
  if (error != std::errc() || end != object->data() + nul || size != object->size() - nul - 1) return std::nullopt;
  return object->substr(nul + 1);
}

struct Ident {
  std::string name;
  std::string email;
  std::string date;  // strict ISO 8601, empty for the committer
};

// Git's own ident layout: "Name <email> 1700000000 +0100".
std::optional<Ident> parse_ident(std::string_view line, bool with_date) {
  const size_t open = line.find('<');
  if (open == std::string_view::npos) return std::nullopt;
  const size_t close = line.find('>', open);
  if (close == std::string_view::npos) return std::nullopt;
  size_t name_end = open;
  while (name_end > 0 && is_git_space(line[name_end - 1])) --name_end;
  Ident ident{.name = core::decode_utf8_lossy(line.substr(0, name_end)),
              .email = core::decode_utf8_lossy(line.substr(open + 1, close - open - 1))};
  if (!with_date) return ident;

  // Date and zone follow the last '>', as git reads them.
  std::string_view rest = line.substr(line.rfind('>') + 1);
  const auto skip_spaces = [&] {
    while (!rest.empty() && is_git_space(rest.front())) rest.remove_prefix(1);
  };
  skip_spaces();
  if (rest.empty() || rest.front() < '0' || rest.front() > '9') return std::nullopt;
  long long seconds = 0;
  auto [after_date, date_error] = std::from_chars(rest.data(), rest.data() + rest.size(), seconds);
  // Eleven digits reach the year 5138; past that, git's own reading rules.
  if (date_error != std::errc() || after_date - rest.data() > 11) return std::nullopt;
  rest.remove_prefix(static_cast<size_t>(after_date - rest.data()));
  skip_spaces();
  if (rest.size() != 5 || (rest[0] != '+' && rest[0] != '-')) return std::nullopt;
  int zone = 0;
  const auto [after_zone, zone_error] = std::from_chars(rest.data() + 1, rest.data() + rest.size(), zone);
  if (zone_error != std::errc() || after_zone != rest.data() + rest.size()) return std::nullopt;
  const int offset_minutes = (zone / 100) * 60 + zone % 100;
  const std::time_t local =
      static_cast<std::time_t>(seconds + (rest[0] == '-' ? -offset_minutes : offset_minutes) * 60LL);
  std::tm tm{};
  if (gmtime_r(&local, &tm) == nullptr) return std::nullopt;
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d%c%02d:%02d", tm.tm_year + 1900, tm.tm_mon + 1,
                tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, zone == 0 ? '+' : rest[0], zone / 100, zone % 100);
  ident.date = text;
  return ident;
}

// A line of the message, its end of line and trailing blanks left out.
std::string_view trimmed_line(std::string_view line) {
  while (!line.empty() && is_git_space(line.back())) line.remove_suffix(1);
  return line;
}

// %s: blank lines skipped, then the lines up to the next blank one joined
// with spaces.
std::string subject_of(std::string_view message) {
  std::string subject;
  bool in_paragraph = false;
  while (!message.empty()) {
    const size_t end = message.find('\n');
    const std::string_view line = message.substr(0, end == std::string_view::npos ? message.size() : end + 1);
    message.remove_prefix(line.size());
    const std::string_view text = trimmed_line(line);
    if (text.empty()) {
      if (in_paragraph) break;
      continue;
    }
    if (in_paragraph) subject += ' ';
    subject.append(text);
    in_paragraph = true;
  }
  return core::decode_utf8_lossy(subject);
}

}  // namespace

std::optional<CommitFields> parse_commit_object(std::string_view content) {
  const size_t headers_end = content.find("\n\n");
  const std::string_view headers =
      content.substr(0, headers_end == std::string_view::npos ? content.size() : headers_end + 1);
  const std::string_view message =
      headers_end == std::string_view::npos ? std::string_view() : content.substr(headers_end + 2);

  CommitFields fields;
  std::optional<Ident> author;
  std::optional<Ident> committer;
  bool has_tree = false;
  for (size_t start = 0; start < headers.size();) {
    const size_t end = headers.find('\n', start);
    const std::string_view line = headers.substr(start, end - start);
    start = end + 1;
    if (line.starts_with(' ')) continue;  // a multi-line header's continuation (gpgsig, mergetag)
    const size_t space = line.find(' ');
    const std::string_view key = line.substr(0, space);
    const std::string_view value = space == std::string_view::npos ? std::string_view() : line.substr(space + 1);
    if (key == "tree") {
      if (has_tree || !is_hash(value)) return std::nullopt;
      has_tree = true;
    } else if (key == "parent") {
      if (!has_tree || author || !is_hash(value)) return std::nullopt;
      fields.parents.emplace_back(value);
    } else if (key == "author") {
      if (author) return std::nullopt;
      author = parse_ident(value, true);
      if (!author) return std::nullopt;
    } else if (key == "committer") {
      if (committer) return std::nullopt;
      committer = parse_ident(value, false);
      if (!committer) return std::nullopt;
    } else if (key == "encoding") {
      const std::string name = core::lower_ascii(value);
      if (name != "utf-8" && name != "utf8") return std::nullopt;
    }
  }
  if (!has_tree || !author || !committer) return std::nullopt;
  fields.author_date = std::move(author->date);
  fields.author_name = std::move(author->name);
  fields.author_email = std::move(author->email);
  fields.committer_name = std::move(committer->name);
  fields.committer_email = std::move(committer->email);
  fields.subject = subject_of(message);
  return fields;
}

std::optional<CommitFields> read_commit_from_files(const path& work_tree, const std::string& full) {
  if (!is_hash(full)) return std::nullopt;
  const std::optional<PlainRepository> repository = plain_repository(work_tree);
  if (!repository) return std::nullopt;
  const std::optional<std::string> content = loose_commit(repository->dirs.common, full);
  if (!content) return std::nullopt;
  return parse_commit_object(*content);
}

std::optional<HeadFromFiles> read_head_from_files(const path& work_tree) {
  const std::optional<PlainRepository> repository = plain_repository(work_tree);
  if (!repository) return std::nullopt;
  const services::GitDirs& dirs = repository->dirs;
  const std::optional<std::string> head = core::try_read_file(dirs.own / "HEAD", core::kSmallFileCap);
  if (!head || !head->ends_with('\n')) return std::nullopt;
  const std::string_view pointer(head->data(), head->size() - 1);
  constexpr std::string_view kSymbolic = "ref: ";
  constexpr std::string_view kBranches = "refs/heads/";
  HeadFromFiles found{.git_dir = dirs.own};
  if (is_hash(pointer)) {
    found.full = pointer;
    found.branch = "HEAD";
  } else if (pointer.starts_with(kSymbolic) && pointer.substr(kSymbolic.size()).starts_with(kBranches)) {
    const std::string ref(pointer.substr(kSymbolic.size()));
    found.branch = ref.substr(kBranches.size());
    const std::optional<std::string> hash = branch_hash(dirs.common, repository->packed, ref);
    if (found.branch.empty() || !hash || !short_name_is_unambiguous(*repository, found.branch)) return std::nullopt;
    found.full = *hash;
  } else {
    return std::nullopt;
  }
  const std::optional<std::string> content = loose_commit(dirs.common, found.full);
  if (!content) return std::nullopt;
  std::optional<CommitFields> fields = parse_commit_object(*content);
  if (!fields) return std::nullopt;
  found.fields = std::move(*fields);
  return found;
}

}  // namespace tamrik::synccore
