#include "server/page_policy.h"

#include <cstdlib>

#include "core/text.h"
#include "core/utf8.h"

namespace loomdeck {

namespace {

constexpr std::string_view kUserMarker = R"(<meta name="loomdeck-entrance" content="user">)";
constexpr std::string_view kForeignMarker = R"(<meta name="loomdeck-entrance" content="foreign">)";

// A CSP source as the user wrote it, when it cannot change the policy's meaning: no separators,
// quotes only around a keyword.
bool plain_source(std::string_view source) {
  if (source == "'self'" || source == "'none'") return true;
  for (const char c : source) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                    std::string_view(":/.-_*[]+%").find(c) != std::string_view::npos;
    if (!ok) return false;
  }
  return !source.empty();
}

}  // namespace

std::string page_security_headers(const GateConfig& config, std::string_view frame_ancestors) {
  std::string sources = "'self'";
  for (const std::string& origin : config.allowed_origins) sources += " " + origin;
  while (!frame_ancestors.empty()) {
    const std::size_t space = frame_ancestors.find_first_of(" \t");
    const std::string_view item = frame_ancestors.substr(0, space);
    if (plain_source(item)) sources += " " + std::string(item);
    if (space == std::string_view::npos) break;
    frame_ancestors.remove_prefix(space + 1);
  }
  return "Content-Security-Policy: frame-ancestors " + sources + "\r\nCross-Origin-Opener-Policy: same-origin\r\n";
}

std::string frame_ancestors_from_environment() {
  const char* value = std::getenv("LOOMDECK_FRAME_ANCESTORS");
  return value ? value : "vscode-webview:";
}

bool foreign_entrance(const Request& request, const std::string& dock_key) {
  const std::string site = ascii_lower(request.headers.get("sec-fetch-site").value_or(""));
  if (site != "cross-site" && site != "same-site") return false;
  const std::optional<std::string_view> key = raw_query_param(request.query, "entrance");
  return dock_key.empty() || !key || *key != dock_key;
}

std::string with_dock_key(const std::string& url, const std::string& key) {
  const std::size_t hash = url.find('#');
  const std::string base = url.substr(0, hash);
  const std::string fragment = hash == std::string::npos ? "" : url.substr(hash);
  return base + (base.find('?') == std::string::npos ? "?" : "&") + "entrance=" + key + fragment;
}

std::string entrance_culprit(const Headers& headers) {
  std::string who = headers.get("origin").value_or("");
  if (who.empty() || who == "null") {
    const std::string referer = headers.get("referer").value_or("");
    const std::size_t scheme = referer.find("://");
    if (scheme != std::string::npos) who = referer.substr(0, referer.find('/', scheme + 3));
  }
  if (who.empty() || who == "null") return "another site";
  return utf8_prefix(lenient_utf8(who), 200);
}

std::string entrance_notice_text(const std::string& culprit) { return "The dashboard was opened from " + culprit; }

std::string mark_foreign_entrance(std::string_view page) { return replace_all(page, kUserMarker, kForeignMarker); }

bool is_page_path(std::string_view path) {
  return path == "/" || path == "/index.html" || path == "/quick-actions" || path == "/quick-actions.html";
}

}  // namespace loomdeck
