#include "platform/dashboard_pages.hpp"

#include "core/text.hpp"
#include "core/time_text.hpp"
#include "core/yaml.hpp"
#include "platform/dashboard_frame.hpp"
#include "platform/html.hpp"

namespace tamrik::platform::pages {

using core::Json;
using html::Builder;

Builder page(const std::string& title, const Viewer& viewer) {
  Builder out;
  out.markup("<!doctype html>").open("html", {{"lang", "en"}}).open("head");
  out.empty("meta", {{"charset", "utf-8"}});
  out.empty("meta", {{"name", "viewport"}, {"content", "width=device-width, initial-scale=1"}});
  out.element("title", title + " · tamrik");
  out.empty("link", {{"rel", "stylesheet"}, {"href", "/dashboard/style.css"}});
  out.close("head").open("body").open("header", {{"class", "top"}});
  out.element("a", "tamrik", {{"class", "brand"}, {"href", "/dashboard"}});
  if (!viewer.form_token.empty()) {
    out.element("a", "Projects", {{"href", "/dashboard"}});
    out.element("span", viewer.member, {{"class", "who"}});
    out.open("form", {{"method", "post"}, {"action", "/dashboard/sign-out"}});
    out.empty("input", {{"type", "hidden"}, {"name", "form_token"}, {"value", viewer.form_token}});
    out.element("button", "Sign out", {{"type", "submit"}});
    out.close("form");
  }
  out.close("header").open("main");
  return out;
}

std::string close_page(Builder& out) { return out.close("main").close("body").close("html").take(); }

namespace {

constexpr size_t kShortHash = 9;

std::string date_text(const std::optional<int64_t>& seconds) {
  if (!seconds) return "";
  const std::string utc = core::format_utc(static_cast<std::time_t>(*seconds));
  return utc.substr(0, 10) + " " + utc.substr(11, 5);
}

std::string count_text(long long value) {
  std::string digits = std::to_string(value);
  for (int at = static_cast<int>(digits.size()) - 3; at > 0; at -= 3) digits.insert(static_cast<size_t>(at), ",");
  return digits;
}

std::string tokens_text(const std::optional<TokenTotals>& tokens) {
  if (!tokens) return "";
  return "input " + count_text(tokens->input) + ", output " + count_text(tokens->output) + ", cache " +
         count_text(tokens->cache);
}

}  // namespace

void project_heading(Builder& out, const Project& project, const char* current) {
  out.element("h1", project.title).element("p", project.remote, {{"class", "remote"}});
  out.open("nav", {{"class", "tabs"}});
  const std::string base = project_path(project.id);
  for (const auto& [name, path] : {std::pair<const char*, std::string>{"Records", base},
                                   std::pair<const char*, std::string>{"Charts", base + "/charts"}}) {
    html::Attributes attributes{{"href", path}};
    if (std::string_view(name) == current) attributes.push_back({"aria-current", "page"});
    out.element("a", name, attributes);
  }
  out.close("nav");
}

namespace {

void text_field(Builder& out, const char* name, const char* label, const std::string& value) {
  out.open("label").text(label);
  out.empty("input", {{"type", "text"}, {"name", name}, {"value", value}});
  out.close("label");
}

void filter_form(Builder& out, const Project& project, const ListingForm& form) {
  out.open("form", {{"method", "get"}, {"action", project_path(project.id)}, {"class", "filters"}});
  text_field(out, "q", "Summary", form.search);
  text_field(out, "agent", "Agent", form.agent);
  text_field(out, "model", "Model", form.model);
  text_field(out, "developer", "Developer", form.developer);
  text_field(out, "task_type", "Task type", form.task_type);
  text_field(out, "since", "Since", form.since);
  text_field(out, "until", "Until", form.until);
  out.open("label").text("Attested").open("select", {{"name", "attested"}});
  for (const auto& [value, label] :
       {std::pair<const char*, const char*>{"", "any"}, {"yes", "attested"}, {"no", "unattested"}}) {
    html::Attributes attributes{{"value", value}};
    if (form.attested == value) attributes.push_back({"selected", "selected"});
    out.element("option", label, attributes);
  }
  out.close("select").close("label");
  out.element("button", "Filter", {{"type", "submit"}});
  out.close("form");
}

void record_row(Builder& out, const Project& project, const RecordRow& row) {
  const RecordFacts& facts = row.facts;
  out.open("tr");
  out.open("td", {{"class", "hash"}});
  out.element("a", row.commit.substr(0, kShortHash), {{"href", record_path(project.id, row.commit)}});
  out.close("td");
  out.element("td", date_text(facts.made_at), {{"class", "date"}});
  out.element("td", facts.branch);
  out.element("td", facts.agent);
  out.element("td", facts.model);
  out.element("td", facts.task_type);
  out.element("td", kind_name(facts.kind), {{"class", std::string("kind ") + kind_name(facts.kind)}});
  out.element("td", facts.tokens ? count_text(facts.tokens->input + facts.tokens->output) : "", {{"class", "num"}});
  out.element("td", facts.summary, {{"class", "summary"}});
  out.close("tr");
}

// "label  value" rows, a row left out when it has no value.
void field(Builder& out, const char* label, const std::string& value) {
  if (value.empty()) return;
  out.element("dt", label).element("dd", value);
}

void commit_links(Builder& out, const char* label, const Project& project, const Json& value) {
  std::vector<std::string> commits;
  if (value.is_string()) commits.push_back(value.get<std::string>());
  if (value.is_array()) {
    for (const Json& item : value) {
      if (item.is_string()) commits.push_back(item.get<std::string>());
    }
  }
  if (commits.empty()) return;
  out.element("dt", label).open("dd");
  for (const std::string& commit : commits) {
    out.element("a", commit.substr(0, 12), {{"href", record_path(project.id, commit)}, {"class", "hash"}}).text(" ");
  }
  out.close("dd");
}

// A nested value as YAML under its heading, left out when empty.
void section(Builder& out, const char* heading, const Json& value) {
  if (value.is_null() || (value.is_object() && value.empty()) || (value.is_array() && value.empty())) return;
  out.element("h2", heading);
  out.element("pre", value.is_string() ? value.get<std::string>() : core::emit_yaml(value));
}

std::string state_text(const RecordFacts& facts, const StoredRecord& stored) {
  std::string text = std::string(kind_name(facts.kind)) + ", stored on this platform";
  if (stored.superseded_by) text += "; replaced by a rewrite";
  return text;
}

}  // namespace

std::string project_path(long long project_id) { return "/dashboard/projects/" + std::to_string(project_id); }

std::string record_path(long long project_id, const std::string& commit) {
  return project_path(project_id) + "/records/" + core::percent_encoded(commit);
}

std::string sign_in(const std::string& form_token, const std::string& problem) {
  Builder out = page("Sign in", {});
  out.open("section", {{"class", "card narrow"}}).element("h1", "Sign in");
  out.element("p",
              "Sign in with an API key of this platform: the key tamrik uses (tamrik auth) or one an "
              "administrator gave you.");
  if (!problem.empty()) out.element("p", problem, {{"class", "problem"}, {"role", "alert"}});
  out.open("form", {{"method", "post"}, {"action", "/dashboard/sign-in"}});
  out.empty("input", {{"type", "hidden"}, {"name", "form_token"}, {"value", form_token}});
  out.open("label").text("API key");
  out.empty("input",
            {{"type", "password"}, {"name", "key"}, {"autocomplete", "current-password"}, {"required", "required"}});
  out.close("label");
  out.element("button", "Sign in", {{"type", "submit"}});
  out.close("form").close("section");
  return close_page(out);
}

std::string projects(const Viewer& viewer, const std::vector<Project>& projects) {
  Builder out = page("Projects", viewer);
  out.element("h1", "Projects");
  if (projects.empty()) {
    out.element("p", "No project yet: run `tamrik setup` and `tamrik sync` in a repository to send its records here.");
    return close_page(out);
  }
  out.open("ul", {{"class", "projects"}});
  for (const Project& project : projects) {
    out.open("li").element("a", project.title, {{"href", project_path(project.id)}});
    out.element("span", project.remote, {{"class", "remote"}}).close("li");
  }
  out.close("ul");
  return close_page(out);
}

std::string records(const Viewer& viewer, const Project& project, const ListingForm& form, const std::string& problem,
                    const std::vector<RecordRow>& rows) {
  Builder out = page(project.title, viewer);
  project_heading(out, project, "Records");
  filter_form(out, project, form);
  if (!problem.empty()) out.element("p", problem, {{"class", "problem"}, {"role", "alert"}});
  const size_t shown = std::min(rows.size(), kRecordsPerPage);
  if (shown == 0) {
    out.element("p", "No record matches.", {{"class", "empty"}});
  } else {
    out.open("table", {{"class", "records"}}).open("thead").open("tr");
    for (const char* heading :
         {"Commit", "Date", "Branch", "Agent", "Model", "Task type", "State", "Tokens", "Summary"}) {
      out.element("th", heading);
    }
    out.close("tr").close("thead").open("tbody");
    for (size_t i = 0; i < shown; ++i) record_row(out, project, rows[i]);
    out.close("tbody").close("table");
  }
  out.open("nav", {{"class", "pages"}});
  if (form.before) {
    const std::string newest = form.query_string(std::nullopt);
    out.element("a", "Newest", {{"href", project_path(project.id) + (newest.empty() ? "" : "?" + newest)}});
  }
  if (rows.size() > kRecordsPerPage) {
    out.element(
        "a", "Older records",
        {{"href", project_path(project.id) + "?" + form.query_string(rows[kRecordsPerPage - 1].seq)}, {"rel", "next"}});
  }
  out.close("nav");
  return close_page(out);
}

std::string record(const Viewer& viewer, const Project& project, const std::string& commit,
                   const StoredRecord& stored) {
  const Json entry = core::parse_json(stored.record_json).value_or(Json::object());
  const Json& attestation = core::member(entry, "attestation");
  const RecordFacts facts = record_facts(entry);
  Builder out = page(commit.substr(0, kShortHash) + " · " + project.title, viewer);
  project_heading(out, project, "");
  out.element("h2", "commit " + commit, {{"class", "hash"}});
  out.open("dl", {{"class", "fields"}});
  field(out, "date", core::get_text(entry, "timestamp"));
  field(out, "branch", facts.branch);
  std::string agent = facts.agent;
  if (const std::string provider = core::get_text(entry, "agent_provider"); !provider.empty())
    agent += " (" + provider + ")";
  field(out, "agent", agent);
  field(out, "model", facts.model);
  std::string session = core::get_text(entry, "agent_session_id");
  if (session.empty()) session = core::get_text(core::member(entry, "telemetry"), "session_id");
  field(out, "session", session);
  field(out, "developer", facts.developer);
  std::string task_type = facts.task_type;
  if (const std::string source = core::get_text(attestation, "task_type_source");
      !task_type.empty() && !source.empty()) {
    task_type += " (" + source + ")";
  }
  field(out, "task type", task_type);
  field(out, "state", state_text(facts, stored));
  field(out, "tokens", tokens_text(facts.tokens));
  commit_links(out, "made from", project, core::member(entry, "rewritten_from"));
  commit_links(out, "picked from", project, core::member(entry, "cherry_picked_from"));
  commit_links(out, "rewritten to", project, core::member(entry, "rewritten_to"));
  if (stored.superseded_by) commit_links(out, "replaced by", project, Json(*stored.superseded_by));
  if (const Json& carried = core::member(entry, "attestations"); carried.is_array()) {
    field(out, "carries", std::to_string(carried.size()) + " attestations of the commits it was made from");
  }
  out.close("dl");
  out.element("p", core::get_text(entry, "summary"), {{"class", "summary-full"}});
  section(out, "provenance", core::member(attestation, "provenance"));
  section(out, "rules checked", core::member(attestation, "rules"));
  section(out, "architecture changes", core::member(attestation, "changes"));
  const Json& telemetry = core::member(entry, "telemetry");
  section(out, "telemetry", telemetry.is_null() ? core::member(attestation, "telemetry") : telemetry);
  if (attestation.is_null() && facts.kind == RecordKind::attested) {
    out.element("p", "The record came without its attestation: the record's line is all there is.",
                {{"class", "empty"}});
  }
  return close_page(out);
}

std::string message(const Viewer& viewer, const std::string& title, const std::string& text) {
  Builder out = page(title, viewer);
  out.open("section", {{"class", "card narrow"}}).element("h1", title).element("p", text).close("section");
  return close_page(out);
}

}  // namespace tamrik::platform::pages
