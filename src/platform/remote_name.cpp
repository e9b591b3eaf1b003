#include "platform/remote_name.hpp"
#include "core/text.hpp"

#include <algorithm>
#include <array>

namespace tamrik::platform {

namespace {

constexpr std::array<std::string_view, 6> kRemoteSchemes = {"https", "http", "ssh", "git", "git+ssh", "ssh+git"};

bool valid_host(std::string_view host) {
  return !host.empty() && std::all_of(host.begin(), host.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '_' ||
           c == ':';  // the inside of an IPv6 literal
  });
}

// An IPv6 literal: two colons at least, hex digits and dots otherwise.
bool ipv6_literal(std::string_view host) {
  return std::count(host.begin(), host.end(), ':') >= 2 && std::all_of(host.begin(), host.end(), [](char c) {
           return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || c == ':' || c == '.';
         });
}

// The host of an authority: credentials and port dropped, brackets removed.
// The name carries an IPv6 host without brackets, so an unbracketed IPv6
// literal is read back as a host too (it leaves no room for a port).
std::string host_of(std::string_view authority) {
  const auto at = authority.rfind('@');
  if (at != std::string_view::npos) authority.remove_prefix(at + 1);
  if (authority.starts_with('[')) {
    const auto close = authority.find(']');
    if (close == std::string_view::npos) return {};
    const std::string inside = core::lower_ascii(authority.substr(1, close - 1));
    return ipv6_literal(inside) ? inside : std::string();
  }
  std::string lowered = core::lower_ascii(authority);
  if (ipv6_literal(lowered)) return lowered;
  return lowered.substr(0, lowered.find(':'));
}

bool blank(std::string_view segment) { return segment.find_first_not_of(' ') == std::string_view::npos; }

// Segments joined by single slashes, blank ones dropped like empty ones. The
// end loses ".git" suffixes, blanks and slashes however they nest
// ("repo.git/.git", "repo /"): a name read back as a URL must give itself.
std::string clean_path(std::string_view path) {
  std::string out;
  size_t start = 0;
  while (start <= path.size()) {
    const auto end = std::min(path.find('/', start), path.size());
    const std::string_view segment = path.substr(start, end - start);
    if (!blank(segment)) {
      if (!out.empty()) out += '/';
      out += segment;
    }
    start = end + 1;
  }
  size_t length = 0;
  do {
    length = out.size();
    if (out.ends_with(".git")) out.resize(out.size() - 4);
    while (out.ends_with(' ') || out.ends_with('/')) out.pop_back();
  } while (out.size() != length);
  return out;
}

std::optional<std::string> joined(const std::string& host, std::string_view path) {
  const std::string cleaned = clean_path(path);
  if (!valid_host(host) || cleaned.empty()) return std::nullopt;
  return host + "/" + cleaned;
}

}  // namespace

std::optional<std::string> normalise_remote(std::string_view remote) {
  const std::string_view text = core::trim(remote);
  if (text.empty() ||
      std::any_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; })) {
    return std::nullopt;
  }
  const auto scheme_end = text.find("://");
  if (scheme_end != std::string_view::npos) {
    const std::string scheme = core::lower_ascii(text.substr(0, scheme_end));
    if (std::find(kRemoteSchemes.begin(), kRemoteSchemes.end(), scheme) == kRemoteSchemes.end()) {
      return std::nullopt;
    }
    const std::string_view rest = text.substr(scheme_end + 3);
    const auto slash = rest.find('/');
    if (slash == std::string_view::npos) return std::nullopt;
    return joined(host_of(rest.substr(0, slash)), rest.substr(slash + 1));
  }
  // scp-like "[user@]host:path": a colon before any slash. Anything else
  // (a local path) names no shared repository.
  const auto colon = text.find(':');
  if (colon == std::string_view::npos || text.substr(0, colon).find('/') != std::string_view::npos) {
    return std::nullopt;
  }
  return joined(host_of(text.substr(0, colon)), text.substr(colon + 1));
}

std::string repository_name(std::string_view normalised) {
  const auto slash = normalised.rfind('/');
  return std::string(slash == std::string_view::npos ? normalised : normalised.substr(slash + 1));
}

}  // namespace tamrik::platform
