#include "http/routes.h"

#include <exception>
#include <string>

#include "actions/dispatcher.h"
#include "bridge/status_service.h"
#include "bridge/targets.h"
#include "core/version.h"
#include "http/assets.h"
#include "http/event_stream.h"
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

struct Route {
  std::string_view path;
  RouteHandler handler;
  bool prefix = false;
};

// In the order they are tested; the first match wins.
const Route kGetRoutes[] = {
    {"/", dashboard_page},
    {"/index.html", dashboard_page},
    {"/quick-actions", quick_actions_page},
    {"/quick-actions.html", quick_actions_page},
    {"/newbie-panel.js", newbie_panel_script},
    {"/updater/status", handle_updater_status},
    {"/ai-threads/run-prompt/status", handle_run_prompt_status},
    {"/favicon.svg", favicon_svg},
    {"/favicon.png", favicon_png},
    {"/favicon.ico", favicon_png},
    {"/events", events},
    {"/api/targets", handle_targets},
    {"/api/health", handle_health},
    {"/api/ping", ping},
    {"/api/status", handle_status},
    {"/state", handle_status},
    {"/console", console},
    {"/health", health},
    {"/settings", handle_get_settings},
    {kNarrationPrefix, handle_narration, true},
    {"/api/tts", handle_tts},
};

const Route kPostRoutes[] = {
    {"/api/action", handle_action},
    {"/api/surface", handle_surface},
    {"/ai-threads/run-prompt", handle_run_prompt},
    {"/settings", handle_post_settings},
    {"/api/auto-green", handle_auto_green},
    {"/ui/toast", handle_ui_toast},
    {"/ui/click", handle_ui_click},
};

template <std::size_t N>
RouteHandler find_route(const Route (&table)[N], std::string_view path) {
  for (const Route& r : table) {
    if (r.prefix ? path.substr(0, r.path.size()) == r.path : path == r.path) return r.handler;
  }
  return nullptr;
}

}  // namespace

void dispatch(ServerState& state, const Request& request, Stream& stream) {
  RouteHandler handler = nullptr;
  if (request.method == "GET") handler = find_route(kGetRoutes, request.path);
  else if (request.method == "POST") handler = find_route(kPostRoutes, request.path);
  if (!handler) {
    send_not_found(stream);
    return;
  }
  Exchange ex{state, request, stream};
  std::string failure;
  try {
    handler(ex);
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
