#include "parts/surfaces.h"

#include "actions/launch.h"
#include "bridge/readiness.h"
#include "bridge/targets.h"
#include "http/response.h"
#include "parts/busy_signs.h"
#include "parts/staging.h"
#include "parts/surface_table.h"
#include "settings/settings.h"

namespace loomdeck {

namespace {

using std::chrono::seconds;

constexpr const char* kCaptureArgs = "{\"imageAs\":\"base64\"}";
// A capture this short (in characters) is a blank window, not a picture.
constexpr std::size_t kBlankCaptureChars = 2000;

void toast(ServerState& state, const std::string& message) {
  state.sink.broadcast("toast", json{{"kind", ""}, {"message", message}});
}

json fusion_state(ServerState& state, const std::string& box) {
  return unwrap_bridge_data(state.bridge.call(state.attribution, box, "fusion_state", kStateArgs));
}

std::size_t utf8_length(const std::string& s) {
  std::size_t n = 0;
  for (const unsigned char c : s) n += (c & 0xC0) != 0x80;
  return n;
}

std::string tool_args(const Surface& surface, const StagedPart& staged) {
  if (surface.needs_project) return "{}";
  if (surface.key == "library") return dump_compact(json{{"libraryPath", staged.library_path}});
  return dump_compact(json{{"libraryPath", staged.library_path}, {"name", staged.deviceset}});
}

// One run of the surface tool, read the common way.
struct ToolCall {
  json result;
  json data;
  bool ok = false;
};

ToolCall call_tool(ServerState& state, const std::string& box, const Surface& surface, const std::string& args) {
  ToolCall c;
  c.result = state.bridge.call(state.attribution, box, std::string(surface.tool), args);
  c.data = unwrap_bridge_data(c.result);
  c.ok = bridge_call_ok(c.result, c.data);
  return c;
}

// Polls fusion_state every 10 s, at most `polls` times, until the main thread is free.
bool poll_until_free(ServerState& state, const std::string& box, int polls) {
  for (int i = 0; i < polls; ++i) {
    state.clock.sleep_for(seconds(10));
    if (main_thread_free(fusion_state(state, box))) return true;
  }
  return false;
}

std::string label_of(const Surface& s) { return std::string(s.label); }

// Clears what usually stands in the way (dialogs, a busy main thread, a silent add-in, stale
// files on the box), then runs the tool once more.
ToolCall remediate_and_retry(ServerState& state, const std::string& box, const Surface& surface,
                             const std::string& surface_key, const std::string& part, const std::string& args,
                             const ToolCall& failed) {
  const std::string label = label_of(surface);
  state.log.append("surface " + surface_key + " failed (" + dump_compact(member_or_null(failed.data, "error")) +
                   "), remediating");
  toast(state, label + " did not open first try - clearing the way and retrying");
  state.bridge.call(state.attribution, box, "fusion_dismiss_blocking_dialogs", "{}");

  const std::string text = joined_lower({string_member(failed.data, "error"), string_member(failed.result, "error")});
  if (contains_any(text, {"main thread busy", "in progress from another"}) ||
      string_member(failed.data, "errorCode") == "main_thread_busy") {
    toast(state, label + " is queued behind other Fusion work - waiting for it to finish");
    poll_until_free(state, box, 30);
  }
  if (contains_any(text, {"not running", "not responding", "add-in"})) ready_first(state, box, 180);
  if (contains_any(text, {"edit", "library", "deviceset", "not found", "make_test_project", "urn required", "no design"})) {
    state.staged_parts.erase(staged_part_key(box, part));
    stage_part(state, box, part);
  }
  state.clock.sleep_for(seconds(2));
  return call_tool(state, box, surface, args);
}

}  // namespace

json show_surface(ServerState& state, const std::string& box, const std::string& surface_key, const std::string& part) {
  const Surface* surface = find_surface(surface_key);
  if (!surface) return json{{"error", "unknown surface " + surface_key}};
  const std::string label = label_of(*surface);

  const StageResult staging = stage_part(state, box, part);
  if (!staging.part) return json{{"error", staging.error}};
  const StagedPart& staged = *staging.part;

  if (surface->needs_project && !staged.generated) {
    if (!ready_first(state, box, 240)) {
      return json{{"surface", surface_key},
                  {"label", label},
                  {"ok", false},
                  {"error", "Fusion did not become ready on " + box + " in time"},
                  {"_hint", "Open Settings and read the status cards - a sign-in wall or a stuck launch is reported there."}};
    }
    toast(state, "Generating the test project for the design surfaces");
    const Generation g = generate_test_project(state, box, staged.library_path,
                                               "The test project is still generating - waiting for Fusion to finish");
    state.staged_parts.set(staged_part_key(box, part), StagedPart{staged.library_path, staged.deviceset, g.ok});
    if (!g.ok) {
      return json{{"surface", surface_key},
                  {"label", label},
                  {"ok", false},
                  {"error", "could not generate the test project: " + dump_compact(member_or_null(g.data, "error"))},
                  {"_hint", "The design surfaces need a generated project; the component surfaces (symbol, footprint, 3D package, library) work without it."}};
    }
  }

  const std::string args = tool_args(*surface, staged);
  wait_until_settled(state.bridge, state.clock, state.attribution, box, 900);
  ToolCall call = call_tool(state, box, *surface, args);
  bool outran = false;

  if (!call.ok) {
    const std::string text = joined_lower({string_member(call.result, "error"), string_member(call.result, "status"),
                                           string_member(call.data, "error"), string_member(call.data, "status")});
    if (reads_as_still_working(text)) {
      toast(state, label + " is waiting its turn on Fusion's main thread");
      if (poll_until_free(state, box, 24)) {
        call.data = json{{"note", "the verb outran the relay window; the bridge finished it and the view was verified by capture"},
                         {"success", true}};
        call.ok = true;
        outran = true;
      }
    }
  }
  if (!call.ok) call = remediate_and_retry(state, box, *surface, surface_key, part, args, call);

  json image = nullptr;
  if (call.ok) {
    for (int attempt = 1; attempt <= 3; ++attempt) {
      wait_until_settled(state.bridge, state.clock, state.attribution, box, 180);
      image = member_or_null(unwrap_bridge_data(state.bridge.call(state.attribution, box, "fusion_state", kCaptureArgs)),
                             "screenshotBase64");
      if (image.is_string() && utf8_length(image.get_ref<const std::string&>()) > kBlankCaptureChars) break;
      state.log.append("surface " + surface_key + " capture " + std::to_string(attempt) + " came back empty, retrying");
      state.clock.sleep_for(seconds(4));
    }
  }

  json reply = {{"_hint", label + " surface via " + std::string(surface->tool) +
                              " on the staged part - opened in the BACKGROUND and rendered with fusion_state."},
                {"deviceset", staged.deviceset},
                {"error", member_or_null(call.data, "error")},
                {"image", std::move(image)},
                {"label", label},
                {"ok", call.ok},
                {"surface", surface_key}};
  if (outran) reply["note"] = call.data["note"];
  return reply;
}

std::string requested_part(const json& body, const json& settings) {
  const json* part = member(body, "part");
  if (part && part->is_string()) return part->get<std::string>();
  return string_member(settings, "demoPart", kDefaultDemoPart);
}

void handle_surface(Exchange& ex) {
  const json& body = ex.request.body;
  const std::string surface = string_member(body, "surface");
  const json* target = member(body, "target");
  const std::string box = target && target->is_string() ? target->get<std::string>() : request_box(ex);
  if (!box_usable(ex, box)) return;
  const std::string part = requested_part(body, load_settings());
  ex.state.log.append("surface " + surface + " (" + part + ")");
  send_json(ex.stream, show_surface(ex.state, box, surface, part));
}

}  // namespace loomdeck
