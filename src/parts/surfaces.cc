#include "parts/surfaces.h"

#include "actions/ready_first.h"
#include "bridge/readiness.h"
#include "core/box_name.h"
#include "core/utf8.h"
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

void settle(PartsService& ctx, const std::string& box, long long max_seconds) {
  wait_until_settled(ctx.bridge, ctx.clock, box, max_seconds);
}

std::string label_of(const Surface& s) { return std::string(s.label); }

std::string tool_args(const Surface& surface, const StagedPart& staged) {
  if (surface.needs_project) return "{}";
  if (surface.key == "library") return dump_compact(json{{"libraryPath", staged.library_path}});
  return dump_compact(json{{"libraryPath", staged.library_path}, {"name", staged.deviceset}});
}

// Polls fusion_state every 10 s, at most `polls` times, until the main thread is free.
bool poll_until_free(PartsService& ctx, const std::string& box, int polls) {
  for (int i = 0; i < polls; ++i) {
    ctx.clock.sleep_for(seconds(10));
    if (main_thread_free(ctx.bridge.call(box, tool::kState, kStateArgs).data)) return true;
  }
  return false;
}

// The reply of a surface that could not be shown before its tool ran.
json not_shown(const std::string& surface_key, const Surface& surface, const std::string& error, const char* hint) {
  return json{{"surface", surface_key}, {"label", label_of(surface)}, {"ok", false}, {"error", error}, {"_hint", hint}};
}

// Generates the test project a project surface needs: the failure reply, or nothing once it is usable.
std::optional<json> generate_for_surface(PartsService& ctx, const std::string& box, const std::string& part,
                                         const Surface& surface, const std::string& surface_key,
                                         const StagedPart& staged) {
  if (!ready_first(ctx.runs, box, 240)) {
    return not_shown(surface_key, surface, "Fusion did not become ready on " + box_label(box) + " in time",
                     "Open Settings and read the status cards - a sign-in wall or a stuck launch is reported there.");
  }
  toast(ctx.sink, "Generating the test project for the design surfaces");
  const BridgeReply made = generate_test_project(ctx, box, staged.library_path,
                                                 "The test project is still generating - waiting for Fusion to finish");
  ctx.staged_parts.set(staged_part_key(box, part), StagedPart{staged.library_path, staged.deviceset, made.ok});
  if (made.ok) return std::nullopt;
  return not_shown(surface_key, surface, "could not generate the test project: " + dump_compact(made.error),
                   "The design surfaces need a generated project; the component surfaces (symbol, footprint, 3D "
                   "package, library) work without it.");
}

// The surface tool's outcome, and whether the view was taken as opened because the verb outran
// the relay window while the bridge finished it.
struct Opened {
  BridgeReply call;
  bool outran = false;
};

// Waits for the main thread, runs the tool, and when the answer says Fusion is still at it,
// waits up to 24 polls for the main thread to come free.
Opened open_surface(PartsService& ctx, const std::string& box, const Surface& surface, const std::string& args) {
  settle(ctx, box, 900);
  Opened opened{ctx.bridge.call(box, surface.tool, args)};
  const BridgeReply& call = opened.call;
  if (call.ok ||
      !reads_as_still_working(joined_lower({string_member(call.result, "error"), string_member(call.result, "status"),
                                            string_member(call.data, "error"), string_member(call.data, "status")}))) {
    return opened;
  }
  toast(ctx.sink, label_of(surface) + " is waiting its turn on Fusion's main thread");
  if (poll_until_free(ctx, box, 24)) {
    opened.call = read_bridge_reply(
        json{{"note", "the verb outran the relay window; the bridge finished it and the view was verified by capture"},
             {"success", true}});
    opened.outran = true;
  }
  return opened;
}

// Clears what usually stands in the way (dialogs, a busy main thread, a silent add-in, stale
// files on the box), then runs the tool once more.
BridgeReply remediate_and_retry(PartsService& ctx, const std::string& box, const Surface& surface,
                                const std::string& surface_key, const std::string& part, const std::string& args,
                                const BridgeReply& failed) {
  const std::string label = label_of(surface);
  ctx.log.append("surface " + surface_key + " failed (" + dump_compact(failed.error) + "), remediating");
  toast(ctx.sink, label + " did not open first try - clearing the way and retrying");
  ctx.bridge.send(box, tool::kDismissBlockingDialogs);

  const std::string text = joined_lower({string_member(failed.data, "error"), string_member(failed.result, "error")});
  if (contains_any(text, {"main thread busy", "in progress from another"}) ||
      string_member(failed.data, "errorCode") == "main_thread_busy") {
    toast(ctx.sink, label + " is queued behind other Fusion work - waiting for it to finish");
    poll_until_free(ctx, box, 30);
  }
  if (contains_any(text, {"not running", "not responding", "add-in"})) ready_first(ctx.runs, box, 180);
  if (contains_any(text,
                   {"edit", "library", "deviceset", "not found", "make_test_project", "urn required", "no design"})) {
    ctx.staged_parts.erase(staged_part_key(box, part));
    stage_part(ctx, box, part);
  }
  ctx.clock.sleep_for(seconds(2));
  return ctx.bridge.call(box, surface.tool, args);
}

// Up to three captures of Fusion's window, until one is more than a blank window; the last one.
json capture(PartsService& ctx, const std::string& box, const std::string& surface_key) {
  json image = nullptr;
  for (int attempt = 1; attempt <= 3; ++attempt) {
    settle(ctx, box, 180);
    image = member_or_null(ctx.bridge.call(box, tool::kState, kCaptureArgs).data, "screenshotBase64");
    if (image.is_string() && code_point_count(image.get_ref<const std::string&>()) > kBlankCaptureChars) break;
    ctx.log.append("surface " + surface_key + " capture " + std::to_string(attempt) + " came back empty, retrying");
    ctx.clock.sleep_for(seconds(4));
  }
  return image;
}

}  // namespace

json show_surface(PartsService& ctx, const std::string& box, const std::string& surface_key, const std::string& part) {
  const Surface* surface = find_surface(surface_key);
  if (!surface) return json{{"error", "unknown surface " + surface_key}};

  const StageResult staging = stage_part(ctx, box, part);
  if (!staging.part) return json{{"error", staging.error}};
  const StagedPart& staged = *staging.part;

  if (surface->needs_project && !staged.generated) {
    if (std::optional<json> failed = generate_for_surface(ctx, box, part, *surface, surface_key, staged)) {
      return *failed;
    }
  }

  const std::string args = tool_args(*surface, staged);
  Opened opened = open_surface(ctx, box, *surface, args);
  if (!opened.call.ok) opened.call = remediate_and_retry(ctx, box, *surface, surface_key, part, args, opened.call);
  const BridgeReply& call = opened.call;

  json reply = {{"_hint", label_of(*surface) + " surface via " + std::string(surface->tool) +
                              " on the staged part - opened in the BACKGROUND and rendered with fusion_state."},
                {"deviceset", staged.deviceset},
                {"error", call.error},
                {"image", call.ok ? capture(ctx, box, surface_key) : json(nullptr)},
                {"label", label_of(*surface)},
                {"ok", call.ok},
                {"surface", surface_key}};
  if (opened.outran) reply["note"] = member_or_null(call.data, "note");
  return reply;
}

std::string requested_part(const json& body, const json& settings) {
  const json* part = member(body, "part");
  if (part && part->is_string()) return part->get<std::string>();
  return string_member(settings, "demoPart", kDefaultDemoPart);
}

void handle_surface(PartsService& ctx, const Request& request, Stream& stream) {
  const json& body = request.body;
  const std::string surface = string_member(body, "surface");
  const json* target = member(body, "target");
  const std::string box = target && target->is_string() ? target->get<std::string>() : request_box(ctx.boxes, request);
  if (!box_usable(stream, box)) return;
  const std::string part = requested_part(body, ctx.settings.load());
  ctx.log.append("surface " + surface + " (" + part + ")");
  send_json(stream, show_surface(ctx, box, surface, part));
}

}  // namespace loomdeck
