#pragma once
// The dashboard's pages as HTML, from what the storage gave: no request,
// no database here. Every stored value is hostile (agents wrote it) and
// goes through html::Builder, which escapes it; every link is a path this
// server builds.

#include "core/json.hpp"
#include "platform/record_listing.hpp"
#include "platform/storage.hpp"

#include <string>
#include <vector>

namespace tamrik::platform::pages {

// Who is signed in, for the header: their name and the token their
// sign-out form sends back.
struct Viewer {
  std::string member;
  std::string form_token;
};

std::string sign_in(const std::string& form_token, const std::string& problem);
std::string projects(const Viewer& viewer, const std::vector<Project>& projects);
// `rows` may hold one more than a page: then there is an older page.
std::string records(const Viewer& viewer, const Project& project, const ListingForm& form, const std::string& problem,
                    const std::vector<RecordRow>& rows);
std::string record(const Viewer& viewer, const Project& project, const std::string& commit, const StoredRecord& stored);
std::string charts(const Viewer& viewer, const Project& project, const ProjectTotals& totals);
// A page that says what went wrong; `viewer` is empty when nobody is signed in.
std::string message(const Viewer& viewer, const std::string& title, const std::string& text);

// The paths the pages link to.
std::string project_path(long long project_id);
std::string record_path(long long project_id, const std::string& commit);

}  // namespace tamrik::platform::pages
