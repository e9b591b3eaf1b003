#include "platform/dashboard_routes.hpp"

#include "platform/callers.hpp"
#include "platform/dashboard_pages.hpp"
#include "platform/dashboard_session.hpp"
#include "platform/dashboard_style.hpp"
#include "platform/server_log.hpp"
#include "platform/storage.hpp"

#include <httplib.h>

#include <charconv>
#include <memory>

namespace tamrik::platform {

namespace {

using httplib::Request;
using httplib::Response;

constexpr const char* kSignInCookie = "tamrik_sign_in";
constexpr const char* kProjectPattern = R"(/dashboard/projects/(\d{1,18}))";
constexpr const char* kPolicy =
    "default-src 'none'; style-src 'self'; form-action 'self'; frame-ancestors 'none'; base-uri 'none'";

// A page answered as it is, with a status: thrown from deep in a handler.
struct PageAnswer {
  int status;
  std::string title;
  std::string text;
};

void protect(Response& res) {
  res.set_header("Content-Security-Policy", kPolicy);
  res.set_header("X-Content-Type-Options", "nosniff");
  res.set_header("Referrer-Policy", "no-referrer");
  res.set_header("X-Frame-Options", "DENY");
}

// Pages show what one member may see: no cache keeps them.
void send_page(Response& res, int status, const std::string& body) {
  res.set_header("Cache-Control", "no-store");
  res.status = status;
  res.set_content(body, "text/html; charset=utf-8");
}

void redirect(Response& res, const std::string& path) {
  res.set_header("Cache-Control", "no-store");
  res.status = 303;
  res.set_header("Location", path);
  res.set_content("See " + path + "\n", "text/plain; charset=utf-8");
}

// Behind a TLS proxy that says so, cookies are sent over https only.
bool over_https(const Request& req) { return req.get_header_value("X-Forwarded-Proto") == "https"; }

std::string cookie(const Request& req, std::string_view name, const std::string& value, long long max_age) {
  std::string text = std::string(name) + "=" + value +
                     "; Path=/dashboard; HttpOnly; SameSite=Strict; Max-Age=" + std::to_string(max_age);
  if (over_https(req)) text += "; Secure";
  return text;
}

std::string param(const Request& req, const char* name) {
  return req.has_param(name) ? req.get_param_value(name) : std::string();
}

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r' || text.back() == '\n')) {
    text.remove_suffix(1);
  }
  return text;
}

class Dashboard {
 public:
  Dashboard(Storage& storage, const Callers& callers) : storage_(storage), callers_(callers) {}

  using Page = void (Dashboard::*)(const Request&, Response&);

  // Runs a handler; whatever fails becomes a page that says so.
  void serve(const Request& req, Response& res, Page handler) {
    protect(res);
    try {
      (this->*handler)(req, res);
    } catch (const PageAnswer& answer) {
      send_page(res, answer.status, pages::message(viewer_of(req), answer.title, answer.text));
    } catch (const StorageUnavailable& e) {
      log_line(std::string("tamrik-platform: page failed: ") + e.what() + "\n");
      send_page(res, 503, pages::message({}, "Try again shortly", "The platform's database is not reachable now."));
    } catch (const std::exception& e) {
      log_line(std::string("tamrik-platform: page failed: ") + e.what() + "\n");
      send_page(res, 500,
                pages::message({}, "Something failed", "The page could not be made; the server's log says why."));
    }
  }

  void home(const Request&, Response& res) { redirect(res, "/dashboard"); }

  void style(const Request&, Response& res) {
    res.set_header("Cache-Control", "max-age=3600");
    res.set_content(kDashboardStyle, "text/css; charset=utf-8");
  }

  void sign_in_form(const Request& req, Response& res) {
    if (visitor(req)) return redirect(res, "/dashboard");
    show_sign_in(req, res, 200, "");
  }

  // The form's token must be the one its page set in a cookie, so another
  // site cannot sign a browser in to an account of its choosing.
  void sign_in(const Request& req, Response& res) {
    const std::string expected = cookie_value(req.get_header_value("Cookie"), kSignInCookie);
    if (expected.empty() || !same_token(expected, param(req, "form_token"))) {
      return show_sign_in(req, res, 403, "The sign-in form had expired; sign in again.");
    }
    const std::string authorization = "Bearer " + std::string(trimmed(param(req, "key")));
    if (!callers_.identify(authorization)) {
      return show_sign_in(req, res, 401,
                          "That key was not accepted: check it, or ask the platform's administrator for one.");
    }
    const DashboardSessions::Opened opened = sessions_.open(authorization);
    res.set_header("Set-Cookie",
                   cookie(req, kSessionCookie, opened.cookie_token, std::chrono::seconds(kSessionLifetime).count()));
    res.set_header("Set-Cookie", cookie(req, kSignInCookie, "", 0));
    redirect(res, "/dashboard");
  }

  void sign_out(const Request& req, Response& res) {
    const std::string token = cookie_value(req.get_header_value("Cookie"), kSessionCookie);
    const std::optional<Session> session = sessions_.find(token);
    if (session && !same_token(session->form_token, param(req, "form_token"))) {
      throw PageAnswer{403, "Not signed out", "The sign-out form did not come from this dashboard; use its button."};
    }
    sessions_.close(token);
    res.set_header("Set-Cookie", cookie(req, kSessionCookie, "", 0));
    redirect(res, "/dashboard/sign-in");
  }

  void projects(const Request& req, Response& res) {
    const auto who = signed_in(req, res);
    if (!who) return;
    send_page(res, 200, pages::projects(who->viewer, storage_.projects_of_teams(who->caller.team_ids)));
  }

  void records(const Request& req, Response& res) {
    const auto who = signed_in(req, res);
    if (!who) return;
    const Project project = project_of(req, *who);
    const ListingForm form = ListingForm::read([&req](const char* name) { return param(req, name); });
    const ListingForm::Parsed parsed = form.parsed();
    const std::vector<RecordRow> rows =
        parsed.problem.empty() ? storage_.find_records(project.id, parsed.query) : std::vector<RecordRow>{};
    send_page(res, parsed.problem.empty() ? 200 : 400,
              pages::records(who->viewer, project, form, parsed.problem, rows));
  }

  void record(const Request& req, Response& res) {
    const auto who = signed_in(req, res);
    if (!who) return;
    const Project project = project_of(req, *who);
    const std::string commit = req.matches[2].str();
    const std::optional<StoredRecord> stored = storage_.stored_record(project.id, commit);
    if (!stored) throw PageAnswer{404, "No such record", "This project holds no record of commit " + commit + "."};
    send_page(res, 200, pages::record(who->viewer, project, commit, *stored));
  }

  void charts(const Request& req, Response& res) {
    const auto who = signed_in(req, res);
    if (!who) return;
    const Project project = project_of(req, *who);
    send_page(res, 200, pages::charts(who->viewer, project, storage_.project_totals(project.id)));
  }

  void not_found(const Request& req, Response&) {
    throw PageAnswer{404, "Not found", "There is no page " + req.path.substr(0, 200) + " here."};
  }

 private:
  struct Visitor {
    Caller caller;
    pages::Viewer viewer;
  };

  // The signed-in visitor, when the session cookie names a live session
  // whose key is still accepted.
  std::optional<Visitor> visitor(const Request& req) {
    const std::optional<Session> session = sessions_.find(cookie_value(req.get_header_value("Cookie"), kSessionCookie));
    if (!session) return std::nullopt;
    std::optional<Caller> caller = callers_.identify(session->authorization);
    if (!caller) return std::nullopt;
    pages::Viewer viewer{caller->member, session->form_token};
    return Visitor{std::move(*caller), std::move(viewer)};
  }

  // The header of an error page: who is signed in, if anyone (never
  // failing, since it serves the page that reports a failure).
  pages::Viewer viewer_of(const Request& req) {
    try {
      if (std::optional<Visitor> who = visitor(req)) return who->viewer;
    } catch (const std::exception&) {
    }
    return {};
  }

  // The visitor, or nullopt after sending them to the sign-in form.
  std::optional<Visitor> signed_in(const Request& req, Response& res) {
    std::optional<Visitor> who = visitor(req);
    if (!who) redirect(res, "/dashboard/sign-in");
    return who;
  }

  void show_sign_in(const Request& req, Response& res, int status, const std::string& problem) {
    std::string token = cookie_value(req.get_header_value("Cookie"), kSignInCookie);
    if (token.empty() || token.size() > 128) {
      token = new_member_key();
      res.set_header("Set-Cookie", cookie(req, kSignInCookie, token, 3600));
    }
    send_page(res, status, pages::sign_in(token, problem));
  }

  // The project the path names, when it is one of the visitor's teams';
  // any other is answered exactly as one that does not exist.
  Project project_of(const Request& req, const Visitor& who) {
    const std::string digits = req.matches[1].str();
    long long id = 0;
    std::from_chars(digits.data(), digits.data() + digits.size(), id);
    std::optional<Project> project = storage_.find_project(id);
    if (!project || !who.caller.on_team(project->team_id)) {
      throw PageAnswer{404, "No such project", "There is no project " + digits + " you can see here."};
    }
    return *project;
  }

  Storage& storage_;
  const Callers& callers_;
  DashboardSessions sessions_;
};

}  // namespace

bool is_dashboard_path(std::string_view path) {
  return path == "/" || path == "/dashboard" || path.starts_with("/dashboard/");
}

void install_dashboard(httplib::Server& server, Storage& storage, const Callers& callers) {
  auto dashboard = std::make_shared<Dashboard>(storage, callers);
  const auto handler = [dashboard](Dashboard::Page page) {
    return [dashboard, page](const Request& req, Response& res) { dashboard->serve(req, res, page); };
  };
  const std::string project = kProjectPattern;
  server.Get("/", handler(&Dashboard::home));
  server.Get("/dashboard", handler(&Dashboard::projects));
  server.Get("/dashboard/style.css", handler(&Dashboard::style));
  server.Get("/dashboard/sign-in", handler(&Dashboard::sign_in_form));
  server.Post("/dashboard/sign-in", handler(&Dashboard::sign_in));
  server.Post("/dashboard/sign-out", handler(&Dashboard::sign_out));
  server.Get(project, handler(&Dashboard::records));
  server.Get(project + "/charts", handler(&Dashboard::charts));
  server.Get(project + "/records/(.{1,128})", handler(&Dashboard::record));
  server.Get("/dashboard/.*", handler(&Dashboard::not_found));
  server.Post("/dashboard/.*", handler(&Dashboard::not_found));
}

}  // namespace tamrik::platform
