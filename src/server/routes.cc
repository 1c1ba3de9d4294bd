#include "server/routes.h"

#include <exception>
#include <string>

#include "actions/dispatcher.h"
#include "bridge/status_routes.h"
#include "bridge/targets.h"
#include "core/box_name.h"
#include "core/version.h"
#include "http/asset_reply.h"
#include "http/assets.h"
#include "http/event_stream.h"
#include "http/negotiation.h"
#include "http/not_found_page.h"
#include "http/response.h"
#include "http/route_table.h"
#include "logbook/logbook_routes.h"
#include "parts/surfaces.h"
#include "server/gate_refusal.h"
#include "server/page_policy.h"
#include "server/remote_control.h"
#include "settings/settings_routes.h"
#include "tour/narration.h"
#include "tour/tts.h"
#include "workspace/control_proxy.h"

namespace loomdeck {

namespace {

// One request on its way through a route: the shared state, what was asked, where the reply goes.
struct Exchange {
  ServerState& state;
  const Request& request;
  Stream& stream;
};

using ServerRoute = Route<void (*)(Exchange&)>;

constexpr std::string_view kHtml = "text/html; charset=utf-8";

// What a tool that asked for a path nobody serves is pointed to.
constexpr std::string_view kRouteList =
    "GET / /favicon.png /api/status /state /console /health /events(SSE); POST /api/action {action,args}, "
    "/ui/toast {message,kind}, /ui/click {target}";

void send_asset(Exchange& ex, std::string_view name, std::string_view content_type) {
  const std::optional<EmbeddedAsset> asset = embedded_asset_entry(name);
  if (!asset) {
    send_not_found(ex.stream, kRouteList);
    return;
  }
  serve_asset(ex.stream, ex.request, content_type, *asset);
}

// A page opened with the token in its address: the browser keeps the token in a cookie only this
// server's own pages send back, and the address bar and history lose it.
bool keep_token_in_cookie(Exchange& ex) {
  const std::optional<std::string_view> in_query = raw_query_param(ex.request.query, "token");
  if (!in_query || !token_matches(*in_query, ex.state.token)) return false;
  send_redirect(ex.stream, location_without_token(ex.request.path, ex.request.query),
                "Set-Cookie: " + std::string(kTokenCookie) + "=" + ex.state.token.value +
                    "; HttpOnly; SameSite=Strict; Path=/\r\n");
  return true;
}

// A page reached from another site is served marked, so it starts nothing by itself, and the
// user hears of it.
void send_page(Exchange& ex, std::string_view name) {
  if (keep_token_in_cookie(ex)) return;
  const std::optional<EmbeddedAsset> asset = embedded_asset_entry(name);
  if (!asset) {
    send_not_found(ex.stream, kRouteList);
    return;
  }
  const Representation chosen = choose_representation(*asset, ex.request.headers);
  if (!foreign_entrance(ex.request, ex.state.dock_key)) {
    serve_page(ex.stream, kHtml, chosen.bytes, ex.state.page_headers + chosen.headers);
    return;
  }
  const std::string culprit = entrance_culprit(ex.request.headers);
  ex.state.log.append("page " + ex.request.path + " opened from " + culprit + ": it starts nothing by itself");
  if (ex.state.entrance_notices.should_announce(culprit, ex.state.clock.now())) {
    toast(ex.state.sink, entrance_notice_text(culprit), "warn");
  }
  // The marked page is made per request, so it goes out uncompressed.
  serve_page(ex.stream, kHtml, mark_foreign_entrance(asset->bytes),
             ex.state.page_headers + "Vary: Accept-Encoding\r\n");
}

// The server's own routes: pages, icons, identity, liveness, the log and the live channel.
void dashboard_page(Exchange& ex) { send_page(ex, "index.html"); }
void quick_actions_page(Exchange& ex) { send_page(ex, "quick-actions.html"); }
void newbie_panel_script(Exchange& ex) { send_asset(ex, "newbie-panel.js", "application/javascript; charset=utf-8"); }
void favicon_svg(Exchange& ex) { send_asset(ex, "favicon.svg", "image/svg+xml"); }
void favicon_png(Exchange& ex) { send_asset(ex, "favicon.png", "image/png"); }
void ping(Exchange& ex) {
  static const std::string kIdentity = dump_compact(json{{"app", "loomdeck"}, {"dashboardVersion", LOOMDECK_VERSION}});
  respond(ex.stream, "200 OK", "application/json", kIdentity);
}
void logbook(Exchange& ex) { handle_logbook(ex.state.logbook, named_box(ex.request.query), ex.request, ex.stream); }
void console(Exchange& ex) { send_json(ex.stream, json{{"lines", ex.state.log.lines()}}); }
void health(Exchange& ex) {
  send_json(ex.stream,
            json{{"ok", true}, {"sseClients", ex.state.events.viewer_count()}, {"version", LOOMDECK_VERSION}});
}
// A page names the box it shows (`?target=`, else the default box); the server refreshes that box
// for as long as the stream is open. A refused name still gets the stream, without a watch.
void events(Exchange& ex) {
  const std::unique_ptr<PeerSlots::Hold> slot = ex.state.event_stream_slots.take(ex.request.peer);
  if (!slot) {
    ex.state.log.append("sse client refused: " + ex.request.peer.text + " holds " +
                        std::to_string(kMaxEventStreamsPerPeer) + " event streams already");
    respond(ex.stream, "503 Service Unavailable", "application/json",
            dump_compact(
                json{{"ok", false},
                     {"why", "this machine holds " + std::to_string(kMaxEventStreamsPerPeer) +
                                 " event streams of this server already; close a dashboard tab and try again"}}));
    return;
  }
  const std::string box = named_box(ex.request.query).value_or(ex.state.default_target);
  StatusWatch::Hold hold;
  if (const std::optional<std::string> problem = box_name_problem(box)) {
    ex.state.log.append("sse client's box not watched: " + *problem);
  } else if (hold = ex.state.status_watch.show(box); !hold.watching()) {
    ex.state.log.append("sse client's box not watched: " + std::to_string(kMaxWatchedBoxes) +
                        " boxes are watched already");
  }
  serve_event_stream(ex.state.events, ex.state.log, ex.stream);
}
void ui_toast(Exchange& ex) { handle_ui_toast(ex.state.events, ex.state.log, ex.request, ex.stream); }
void ui_click(Exchange& ex) { handle_ui_click(ex.state.events, ex.state.log, ex.request, ex.stream); }

// The features' routes, each handed the service of its feature (or what it works with).
void targets(Exchange& ex) {
  handle_targets(ex.state.status.bridge, ex.state.clock, ex.state.target_listings, ex.request, ex.stream);
}
void status(Exchange& ex) { handle_status(ex.state.status, ex.request, ex.stream); }
void status_health(Exchange& ex) { handle_health(ex.state.status, ex.request, ex.stream); }
void action(Exchange& ex) { handle_action(ex.state.actions, ex.request, ex.stream); }
void auto_green(Exchange& ex) { handle_auto_green(ex.state.actions, ex.request, ex.stream); }
void surface(Exchange& ex) { handle_surface(ex.state.parts, ex.request, ex.stream); }
void narration(Exchange& ex) { handle_narration(ex.request, ex.stream); }
void tts(Exchange& ex) { handle_tts(ex.state.runner, ex.state.tts_flights, ex.request, ex.stream); }
void get_settings(Exchange& ex) { handle_get_settings(ex.state.settings, ex.stream); }
void post_settings(Exchange& ex) { handle_post_settings(ex.state.settings, ex.state.log, ex.request, ex.stream); }
void run_prompt(Exchange& ex) { handle_run_prompt(ex.state.runner, ex.request, ex.stream); }
void run_prompt_status(Exchange& ex) { handle_run_prompt_status(ex.state.runner, ex.request, ex.stream); }
void updater_status(Exchange& ex) { handle_updater_status(ex.state.runner, ex.request, ex.stream); }

// Every route that spends (a bridge call, a child process, a broadcast, a write) or reveals
// something is gated; pages, scripts, icons, narration clips and the identity and liveness
// replies are public. In the order they are tested; the first match wins.
const ServerRoute kGetRoutes[] = {
    {"/", dashboard_page, Access::kPublic},
    {"/index.html", dashboard_page, Access::kPublic},
    {"/quick-actions", quick_actions_page, Access::kPublic},
    {"/quick-actions.html", quick_actions_page, Access::kPublic},
    {"/newbie-panel.js", newbie_panel_script, Access::kPublic},
    {"/updater/status", updater_status, Access::kGated},
    {"/ai-threads/run-prompt/status", run_prompt_status, Access::kGated},
    {"/favicon.svg", favicon_svg, Access::kPublic},
    {"/favicon.png", favicon_png, Access::kPublic},
    {"/favicon.ico", favicon_png, Access::kPublic},
    {"/events", events, Access::kGated},
    {"/api/targets", targets, Access::kGated},
    {"/api/health", status_health, Access::kGated},
    {"/api/ping", ping, Access::kPublic},
    {"/api/status", status, Access::kGated},
    {"/state", status, Access::kGated},
    {"/console", console, Access::kGated},
    {"/api/logbook", logbook, Access::kGated},
    {"/health", health, Access::kPublic},
    {"/settings", get_settings, Access::kGated},
    {kNarrationPrefix, narration, Access::kPublic, true},
    {"/api/tts", tts, Access::kGated},
};

const ServerRoute kPostRoutes[] = {
    {"/api/action", action, Access::kGated},
    {"/api/surface", surface, Access::kGated},
    {"/ai-threads/run-prompt", run_prompt, Access::kGated},
    {"/settings", post_settings, Access::kGated},
    {"/api/auto-green", auto_green, Access::kGated},
    {"/ui/toast", ui_toast, Access::kGated},
    {"/ui/click", ui_click, Access::kGated},
};

const ServerRoute* find_server_route(const Request& request) {
  if (request.method == "GET") return find_route(kGetRoutes, request.path);
  if (request.method == "POST") return find_route(kPostRoutes, request.path);
  return nullptr;
}

// Runs the route; a route that throws still answers (when it has not begun to) and is logged.
void run_route(const ServerRoute& route, Exchange& ex) {
  std::string failure;
  try {
    route.handler(ex);
    return;
  } catch (const std::exception& e) {
    failure = e.what();
  } catch (...) {
    failure = "unknown exception";
  }
  ex.state.log.append(ex.request.method + " " + ex.request.path + " failed: " + failure);
  if (!ex.stream.started()) {
    send_json(ex.stream, json{{"ok", false},
                              {"why", "The server hit an internal error on " + ex.request.path + ": " + failure},
                              {"_hint", "Read GET /console for the server's log, then retry."}});
  }
}

}  // namespace

void dispatch(ServerState& state, const Request& request, Stream& stream, bool token) {
  const ServerRoute* route = find_server_route(request);
  // A path nobody serves shows nobody at work: any page can make a browser ask for one. A person
  // gets a page that leads back to the dashboard; tools keep the JSON answer.
  if (!route) {
    if (asks_for_html(request.headers)) {
      send_not_found_page(stream, request.path);
    } else {
      send_not_found(stream, kRouteList);
    }
    return;
  }
  if (route->access == Access::kGated) {
    const GateVerdict verdict = decide_gate(gate_request(request, token), state.gate);
    if (!verdict.allowed) {
      answer_refused(state, request, stream, verdict);
      return;
    }
  }
  if (counts_as_activity(request.path)) state.touch();
  Exchange ex{state, request, stream};
  run_route(*route, ex);
}

bool counts_as_activity(std::string_view path) { return path != "/events" && path != "/api/ping"; }

}  // namespace loomdeck
