// Accounts and services on a box: the Autodesk sign-in wall, APS cloud search, the Fusion MCP
// server, and the four sticky bridge settings.
#include "model.h"
#include "stamps.h"
#include "tool_kit.h"

namespace sim {

namespace {

json signed_in_answer(const Box& b) {
  return {{"success", true}, {"signedIn", true}, {"user", b.fusion_user}, {"message", "Already signed in to Autodesk as " + b.fusion_user}};
}

json password_wall_answer(const Box& b) {
  return {{"success", true},
          {"signinWall", "password"},
          {"needsPassword", true},
          {"email", b.fusion_user},
          {"message", "Typed the email and pressed Next - Fusion now waits for the user's Autodesk password."},
          {"_hint", "Only the user can type the password; fusion_readiness turns ready once they have."}};
}

Outcome signin(ToolCtx& ctx) {
  Box& b = ctx.box;
  if (!b.running && b.launch)
    return reply({{"success", false}, {"error", "Fusion is still starting on " + ctx.target}, {"_hint", "Retry once fusion_readiness shows running."}});
  if (!b.running)
    return reply({{"success", false},
                  {"error", "Fusion is not running on " + ctx.target},
                  {"_hint", "fusion_start launches it; fusion_signin then drives the sign-in wall to the password step."}});
  if (!b.needs_signin) return reply(signed_in_answer(b));
  if (b.signin_wall == "password") return reply(password_wall_answer(b));
  if (auto busy = main_thread_taken(b)) return reply(*busy);
  if (std::string email = string_at(ctx.args, "email"); !email.empty()) b.fusion_user = email;
  return wait_for_op(ctx, "fusion_signin", b.signin_seconds, true);
}

json complete_signin(Box& b, const Op&, int64_t) {
  if (!b.needs_signin) return signed_in_answer(b);
  b.signin_wall = "password";
  return password_wall_answer(b);
}

json aps_identity(const Box& b) {
  return b.aps_configured && b.aps_signed_in ? json{{"email", b.aps_email}, {"name", b.aps_name}} : json(nullptr);
}

Outcome aps_status(ToolCtx& ctx) {
  const Box& b = ctx.box;
  bool live = b.aps_configured && b.aps_signed_in;
  return reply({{"configured", b.aps_configured}, {"signedIn", live}, {"ready", live}, {"signedInAs", aps_identity(b)}});
}

Outcome aps_signin(ToolCtx& ctx) {
  Box& b = ctx.box;
  if (!b.aps_configured)
    return reply({{"success", false},
                  {"error", "APS is not configured on " + ctx.target + " - no client id is set"},
                  {"_hint", "fusion_aps_set_client_id {\"clientId\": ...} first, then fusion_aps_signin."}});
  if (b.aps_signed_in) return reply({{"success", true}, {"alreadySignedIn", true}, {"signedInAs", aps_identity(b)}});
  return wait_for_op(ctx, "fusion_aps_signin", b.aps_signin_seconds, false);
}

json complete_aps_signin(Box& b, const Op&, int64_t) {
  if (!b.aps_configured) return {{"success", false}, {"error", "APS lost its client id during the sign-in"}};
  b.aps_signed_in = true;
  return {{"success", true}, {"silent", true}, {"signedInAs", aps_identity(b)}};
}

Outcome aps_set_client_id(ToolCtx& ctx) {
  std::string id = string_at(ctx.args, "clientId");
  if (id.empty()) return reply({{"success", false}, {"error", "fusion_aps_set_client_id needs a clientId"}, {"_hint", "Pass {\"clientId\": \"...\"}."}});
  ctx.box.aps_configured = true;
  return reply({{"success", true}, {"configured", true}, {"_hint", "fusion_aps_signin signs in next."}});
}

Outcome mcp_status(ToolCtx& ctx) {
  const Box& b = ctx.box;
  json out = {{"enabled", b.mcp_enabled && b.running}, {"enabledInPreferences", b.mcp_enabled}, {"lastEnabledAt", b.mcp_last_enabled_at}};
  if (b.mcp_enabled && b.running) out["url"] = "http://127.0.0.1:27182/mcp";
  return reply(out);
}

Outcome mcp_enable(ToolCtx& ctx) {
  Box& b = ctx.box;
  if (b.mcp_enabled && b.running) return reply({{"success", true}, {"alreadyEnabled", true}, {"lastEnabledAt", b.mcp_last_enabled_at}});
  if (auto refusal = cannot_take_verb(b, ctx.target)) return reply(*refusal);
  return wait_for_op(ctx, "fusion_mcp_enable", b.mcp_enable_seconds, true);
}

json complete_mcp_enable(Box& b, const Op&, int64_t at_ms) {
  b.mcp_enabled = true;
  b.mcp_last_enabled_at = utc_stamp(at_ms);
  return {{"success", true}, {"enabled", true}, {"lastEnabledAt", b.mcp_last_enabled_at}};
}

// A sticky setting: {} reads it, {"enabled": bool} (or {"mode": text}) sets it.
template <bool Box::*Field>
Outcome bool_setting(ToolCtx& ctx, const char* key, const char* tool) {
  Box& b = ctx.box;
  bool changed = false;
  if (ctx.args.contains("enabled")) {
    if (!ctx.args["enabled"].is_boolean())
      return reply({{"success", false}, {"error", std::string(tool) + " takes {\"enabled\": true|false}"}, {"_hint", "Send {} to read the current value."}});
    bool v = ctx.args["enabled"].get<bool>();
    changed = v != b.*Field;
    b.*Field = v;
  } else if (!ctx.args.empty()) {
    return reply({{"success", false}, {"error", std::string(tool) + " takes {\"enabled\": true|false}"}, {"_hint", "Send {} to read the current value."}});
  }
  return reply({{"success", true}, {key, b.*Field}, {"changed", changed}, {"sticky", true}});
}

Outcome set_auto_update(ToolCtx& ctx) { return bool_setting<&Box::auto_update_fusion>(ctx, "autoUpdateFusion", "fusion_set_auto_update"); }
Outcome set_seat_takeover(ToolCtx& ctx) { return bool_setting<&Box::auto_take_over_seat>(ctx, "autoTakeOverSeat", "fusion_set_seat_takeover"); }
Outcome set_driving_badge(ToolCtx& ctx) { return bool_setting<&Box::show_driving_badge>(ctx, "showDrivingBadge", "fusion_set_driving_badge"); }

Outcome set_activity_indicator(ToolCtx& ctx) {
  Box& b = ctx.box;
  bool changed = false;
  const json& a = ctx.args;
  if (a.contains("mode")) {
    std::string mode = string_at(a, "mode");
    if (mode != "progress" && mode != "flash")
      return reply({{"success", false},
                    {"error", "fusion_set_activity_indicator takes {\"mode\": \"progress\"|\"flash\"}"},
                    {"_hint", "progress paces a bar by the verb's measured duration; flash flashes the taskbar button."}});
    changed = mode != b.activity_indicator;
    b.activity_indicator = mode;
  } else if (!a.empty()) {
    return reply({{"success", false}, {"error", "fusion_set_activity_indicator takes {\"mode\": \"progress\"|\"flash\"}"}, {"_hint", "Send {} to read the current value."}});
  }
  return reply({{"success", true}, {"activityIndicator", b.activity_indicator}, {"changed", changed}, {"sticky", true}});
}

}  // namespace

const std::vector<ToolDef>& account_tools() {
  static const std::vector<ToolDef> defs = {
      {"fusion_signin", signin, false, false, complete_signin},
      {"fusion_aps_status", aps_status, true, false},
      {"fusion_aps_signin", aps_signin, false, false, complete_aps_signin},
      {"fusion_aps_set_client_id", aps_set_client_id, false, false},
      {"fusion_mcp_status", mcp_status, false, false},
      {"fusion_mcp_enable", mcp_enable, false, false, complete_mcp_enable},
      {"fusion_set_auto_update", set_auto_update, false, false},
      {"fusion_set_seat_takeover", set_seat_takeover, false, false},
      {"fusion_set_driving_badge", set_driving_badge, false, false},
      {"fusion_set_activity_indicator", set_activity_indicator, false, false},
  };
  return defs;
}

}  // namespace sim
