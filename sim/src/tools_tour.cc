// The bridge's demo runner as tools: start a tour, steer it, poll its progress.
#include "model.h"
#include "tool_kit.h"
#include "tour.h"

namespace sim {

namespace {

json step_list() {
  json steps = json::array();
  for (const auto& s : tour_steps()) steps.push_back({{"step", s.key}, {"label", s.label}, {"caption", s.caption}});
  return steps;
}

Outcome demo(ToolCtx& ctx) {
  Box& b = ctx.box;
  std::string mode = string_at(ctx.args, "mode", "tour");
  if (mode != "tour")
    return reply({{"success", false}, {"error", "unknown demo mode " + mode}, {"_hint", "fusion_demo {\"mode\":\"tour\",\"preset\":\"electronics\"}"}});
  if (b.tour && !b.tour->done)
    return reply({{"success", true}, {"joined", true}, {"demoId", b.tour->demo_id}, {"steps", step_list()},
                  {"_hint", "A tour is already running on this box - joined it."}});
  if (auto no = cannot_take_verb(b, ctx.target)) return reply(*no);
  std::string id = start_tour(b, ctx.now_ms);
  return reply({{"success", true},
                {"demoId", id},
                {"steps", step_list()},
                {"preset", string_at(ctx.args, "preset", "electronics")},
                {"remote", bool_at(ctx.args, "remote", false)},
                {"_hint", "Poll fusion_demo_progress {demoId, imagesAs, sinceShot}; steer with fusion_demo_control {demoId, action}."}});
}

std::optional<json> unknown_demo(const Box& b, const std::string& id) {
  if (b.tour && b.tour->demo_id == id && !id.empty()) return std::nullopt;
  return json{{"success", false}, {"error", "unknown demoId " + id}, {"_hint", "fusion_demo starts a tour and returns its demoId."}};
}

Outcome demo_control(ToolCtx& ctx) {
  std::string id = string_at(ctx.args, "demoId"), action = string_at(ctx.args, "action");
  if (auto no = unknown_demo(ctx.box, id)) return reply(*no);
  std::string error = control_tour(ctx.box, action, ctx.now_ms);
  if (!error.empty()) return reply({{"success", false}, {"error", error}});
  return reply({{"success", true}, {"action", action}, {"paused", ctx.box.tour->paused}, {"pausing", ctx.box.tour->pause_requested},
                {"done", ctx.box.tour->done}});
}

Outcome demo_progress(ToolCtx& ctx) {
  std::string id = string_at(ctx.args, "demoId");
  if (auto no = unknown_demo(ctx.box, id)) return reply(*no);
  return reply(tour_progress(ctx.box, string_at(ctx.args, "imagesAs", "paths"), int_at(ctx.args, "sinceShot", 0), ctx.now_ms));
}

}  // namespace

const std::vector<ToolDef>& tour_tools() {
  static const std::vector<ToolDef> defs = {
      {"fusion_demo", demo, false, false},
      {"fusion_demo_control", demo_control, false, false},
      {"fusion_demo_progress", demo_progress, false, false},
  };
  return defs;
}

}  // namespace sim
