#include "http/routes.h"

#include <exception>
#include <string>

#include "actions/dispatcher.h"
#include "bridge/status_service.h"
#include "bridge/targets.h"
#include "core/version.h"
#include "http/assets.h"
#include "http/event_stream.h"
#include "http/answer.h"
#include "http/gate_refusal.h"
#include "http/remote_control.h"
#include "http/response.h"
#include "parts/surfaces.h"
#include "settings/settings_routes.h"
#include "tour/narration.h"
#include "tour/tts.h"
#include "workspace/control_proxy.h"

namespace loomdeck {

namespace {

constexpr std::string_view kHtml = "text/html; charset=utf-8";

void send_asset(Exchange& ex, std::string_view name, std::string_view content_type, bool page) {
  const std::optional<std::string_view> bytes = embedded_asset(name);
  if (!bytes) {
    send_not_found(ex.stream);
    return;
  }
  if (page) {
    serve_page(ex.stream, content_type, *bytes);
  } else {
    respond(ex.stream, "200 OK", content_type, *bytes);
  }
}

void dashboard_page(Exchange& ex) { send_asset(ex, "index.html", kHtml, true); }
void quick_actions_page(Exchange& ex) { send_asset(ex, "quick-actions.html", kHtml, true); }
void newbie_panel_script(Exchange& ex) {
  send_asset(ex, "newbie-panel.js", "application/javascript; charset=utf-8", false);
}
void favicon_svg(Exchange& ex) { send_asset(ex, "favicon.svg", "image/svg+xml", false); }
void favicon_png(Exchange& ex) { send_asset(ex, "favicon.png", "image/png", false); }

void events(Exchange& ex) { serve_event_stream(ex.state, ex.stream); }

void ping(Exchange& ex) { send_json(ex.stream, json{{"app", "loomdeck"}, {"dashboardVersion", LOOMDECK_VERSION}}); }

void console(Exchange& ex) { send_json(ex.stream, json{{"lines", ex.state.log.lines()}}); }

void health(Exchange& ex) {
  send_json(ex.stream, json{{"ok", true}, {"sseClients", ex.state.events.viewer_count()}, {"version", LOOMDECK_VERSION}});
}

// Whether only the user's own pages and local tools may use a route: every route that spends
// (a bridge call, a child process, a broadcast, a write) or reveals something is gated; pages,
// scripts, icons, narration clips and the identity and liveness replies are public.
enum class Access { kPublic, kGated };

struct Route {
  std::string_view path;
  RouteHandler handler;
  Access access;
  bool prefix = false;
};

// In the order they are tested; the first match wins.
const Route kGetRoutes[] = {
    {"/", dashboard_page, Access::kPublic},
    {"/index.html", dashboard_page, Access::kPublic},
    {"/quick-actions", quick_actions_page, Access::kPublic},
    {"/quick-actions.html", quick_actions_page, Access::kPublic},
    {"/newbie-panel.js", newbie_panel_script, Access::kPublic},
    {"/updater/status", handle_updater_status, Access::kGated},
    {"/ai-threads/run-prompt/status", handle_run_prompt_status, Access::kGated},
    {"/favicon.svg", favicon_svg, Access::kPublic},
    {"/favicon.png", favicon_png, Access::kPublic},
    {"/favicon.ico", favicon_png, Access::kPublic},
    {"/events", events, Access::kGated},
    {"/api/targets", handle_targets, Access::kGated},
    {"/api/health", handle_health, Access::kGated},
    {"/api/ping", ping, Access::kPublic},
    {"/api/status", handle_status, Access::kGated},
    {"/state", handle_status, Access::kGated},
    {"/console", console, Access::kGated},
    {"/health", health, Access::kPublic},
    {"/settings", handle_get_settings, Access::kGated},
    {kNarrationPrefix, handle_narration, Access::kPublic, true},
    {"/api/tts", handle_tts, Access::kGated},
};

const Route kPostRoutes[] = {
    {"/api/action", handle_action, Access::kGated},
    {"/api/surface", handle_surface, Access::kGated},
    {"/ai-threads/run-prompt", handle_run_prompt, Access::kGated},
    {"/settings", handle_post_settings, Access::kGated},
    {"/api/auto-green", handle_auto_green, Access::kGated},
    {"/ui/toast", handle_ui_toast, Access::kGated},
    {"/ui/click", handle_ui_click, Access::kGated},
};

template <std::size_t N>
const Route* find_route(const Route (&table)[N], std::string_view path) {
  for (const Route& r : table) {
    if (r.prefix ? path.substr(0, r.path.size()) == r.path : path == r.path) return &r;
  }
  return nullptr;
}

}  // namespace

void dispatch(ServerState& state, const Request& request, Stream& stream) {
  const Route* route = nullptr;
  if (request.method == "GET") route = find_route(kGetRoutes, request.path);
  else if (request.method == "POST") route = find_route(kPostRoutes, request.path);
  if (route && route->access == Access::kGated) {
    const GateVerdict verdict = decide_gate(request.headers, state.gate);
    if (!verdict.allowed) {
      answer_refused(state, request, stream, verdict);
      return;
    }
  }
  if (counts_as_activity(request.path)) state.touch();
  if (!route) {
    send_not_found(stream);
    return;
  }
  Exchange ex{state, request, stream};
  std::string failure;
  try {
    route->handler(ex);
    return;
  } catch (const std::exception& e) {
    failure = e.what();
  } catch (...) {
    failure = "unknown exception";
  }
  state.log.append(request.method + " " + request.path + " failed: " + failure);
  if (!stream.started()) {
    send_json(stream, json{{"ok", false},
                           {"why", "The server hit an internal error on " + request.path + ": " + failure},
                           {"_hint", "Read GET /console for the server's log, then retry."}});
  }
}

}  // namespace loomdeck
