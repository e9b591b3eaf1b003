#pragma once
// What every dashboard page shares: the document head, the header with
// the signed-in member and their sign-out form, and a project's heading
// with its tabs. Defined in dashboard_pages.cpp.

#include "platform/dashboard_pages.hpp"
#include "platform/html.hpp"

#include <string>

namespace tamrik::platform::pages {

// Opens the page up to <main>; close_page() ends it.
html::Builder page(const std::string& title, const Viewer& viewer);
std::string close_page(html::Builder& out);
// The project's title, remote and tabs; `current` names the tab shown.
void project_heading(html::Builder& out, const Project& project, const char* current);

}  // namespace tamrik::platform::pages
