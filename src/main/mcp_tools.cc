#include "main/mcp_tools.h"

#include <vector>

#include "core/process.h"
#include "core/text.h"

namespace loomdeck {

namespace {

using std::chrono::minutes;
using std::chrono::seconds;

// Where an argument travels: in the query of the URL, or as a member of the JSON body.
enum class Place { kQuery, kBody };

struct Argument {
  const char* name;
  const char* type;  // a JSON Schema type: string, boolean, integer or object
  const char* description;
  bool required;
  Place place;
};

struct Tool {
  const char* name;
  const char* description;
  bool post;  // a JSON POST (its body holds at least {}), else a GET
  const char* path;
  seconds time_limit;
  std::vector<Argument> arguments;
};

constexpr const char* kBoxDescription =
    "The box (the user's desktop machine) as the targets tool lists it; left out, the dashboard's default box.";

// A status build waits for a slot and then for its slowest probe; actions and surfaces wait for
// the bridge, which may take minutes (a launch, a tour, staging a part).
constexpr seconds kQuickCall = seconds(120);
constexpr seconds kLongCall = minutes(30);

const std::vector<Tool>& tools() {
  static const std::vector<Tool> kTools = {
      {"status",
       "One status snapshot of a box, read live through the bridge: whether Fusion runs, the bridge add-in serves, "
       "who is signed in, and whether APS cloud search, the Fusion MCP server, the Data Hub and updates are in order. "
       "Every LED carries its own _hint naming the verb that fixes it. The snapshot is also pushed to every open "
       "dashboard as a state event.",
       false,
       "/api/status",
       kQuickCall,
       {{"target", "string", kBoxDescription, false, Place::kQuery}}},
      {"targets",
       "The boxes the bridge knows, each with running, ready and lastReadyAt. One Autodesk seat: start Fusion on "
       "whichever box suits the moment - the seat follows automatically (the other box's Fusion suspends resumably).",
       false,
       "/api/targets",
       kQuickCall,
       {}},
      {"action",
       "Act on Fusion through the dashboard's one door: the verb runs on the box and the bridge's answer comes back. "
       "Actions: start, stop, signin, tour, tour_progress, set_auto_update, set_seat_takeover, mcp_enable, "
       "aps_signin, import_basic_part (also set_driving_badge, set_activity_indicator, tour_control). start launches "
       "Fusion in the BACKGROUND (never steals focus); signin self-drives the sign-in wall up to the password.",
       true,
       "/api/action",
       kLongCall,
       {{"action", "string", "The verb, e.g. start, stop or mcp_enable.", true, Place::kBody},
        {"args", "object",
         "The verb's arguments, handed to its bridge tool unchanged, e.g. {\"enabled\": true} for set_auto_update, "
         "{\"mode\": \"progress\"} for set_activity_indicator, {\"page\": \"owner/slug\"} for import_basic_part.",
         false, Place::kBody},
        {"target", "string", kBoxDescription, false, Place::kBody}}},
      {"auto_green",
       "Drive a box to all green in the BACKGROUND: launch Fusion if needed (never taking the one Autodesk seat from "
       "a box that uses it), wait for the bridge add-in, drive the sign-in to the password step, heal a silent "
       "add-in, turn on the Fusion MCP server and sign in to APS cloud search. Answers at once; each step arrives as "
       "toast and state events (follow them with `loomdeck watch`) or re-read status.",
       true,
       "/api/auto-green",
       kQuickCall,
       {{"target", "string", kBoxDescription, false, Place::kQuery},
        {"force", "boolean",
         "Start a run even when autoGreenOnLaunch is off or a run for this box finished in the last 3 minutes.", false,
         Place::kBody}}},
      {"toast",
       "Narrate a toast over every open dashboard page. delivered = live SSE viewers that showed it. 0 means nobody "
       "has the page open - open it first.",
       true,
       "/ui/toast",
       kQuickCall,
       {{"message", "string", "The text to show, e.g. \"running test 3 of 8\".", true, Place::kBody},
        {"kind", "string", "ok, err or info (info when left out).", false, Place::kBody}}},
      {"click",
       "Press one of the dashboard's own buttons on every open page. The PAGE performs the click, so what the AI "
       "drives is exactly what the user gets; delivered counts the pages that received it.",
       true,
       "/ui/click",
       kQuickCall,
       {{"target", "string", "The button: setup, start, stop, tour, import-part, settings or refresh.", true,
         Place::kBody}}},
      {"logbook",
       "What changed on each box, and when: one entry per change of a status LED, oldest first, with at (UTC), box, "
       "led, label, from, to and hint (the LED's _hint at that moment). The led \"bridge\" records the bridge going "
       "\"silent\" and \"answering\" again.",
       false,
       "/api/logbook",
       kQuickCall,
       {{"target", "string", "The box; left out, every box.", false, Place::kQuery},
        {"limit", "integer", "How many of the newest entries, 1 to 2000 (200 when left out).", false, Place::kQuery}}},
      {"surface",
       "Show the dashboard's demo part from the parts wiki on one of Fusion's design surfaces and answer with a "
       "capture of Fusion's window as base64 text. The part is staged on the box first and the surface opens in the "
       "BACKGROUND; this can take several minutes.",
       true,
       "/api/surface",
       kLongCall,
       {{"surface", "string",
         "symbol, footprint, package3d, library, schematic, board2d, board3d or project (the last four open a "
         "generated test project around the part).",
         true, Place::kBody},
        {"target", "string", kBoxDescription, false, Place::kBody}}},
      {"console",
       "The server's activity log, oldest first (at most 500 lines): toasts, clicks, status requests, actions and "
       "the progress lines of launches, surfaces and part imports.",
       false,
       "/console",
       kQuickCall,
       {}},
  };
  return kTools;
}

const Tool* find_tool(std::string_view name) {
  for (const Tool& tool : tools()) {
    if (name == tool.name) return &tool;
  }
  return nullptr;
}

json input_schema(const Tool& tool) {
  json properties = json::object();
  json required = json::array();
  for (const Argument& a : tool.arguments) {
    properties[a.name] = json{{"type", a.type}, {"description", a.description}};
    if (a.required) required.push_back(a.name);
  }
  return json{{"type", "object"}, {"properties", properties}, {"required", required}};
}

bool has_type(const json& value, std::string_view type) {
  if (type == "string") return value.is_string();
  if (type == "boolean") return value.is_boolean();
  if (type == "integer") return value.is_number_integer();
  return value.is_object();
}

// The text of a checked query value: a string as it is, a whole number in decimal.
std::string query_text(const json& value) { return value.is_string() ? value.get<std::string>() : value.dump(); }

json argument_error(const Tool& tool, const std::string& error) {
  return json{{"error", error},
              {"_hint",
               std::string("The arguments of ") + tool.name + " are described by its inputSchema in tools/list."}};
}

}  // namespace

const json& mcp_tool_list() {
  static const json kList = [] {
    json list = json::array();
    for (const Tool& tool : tools()) {
      list.push_back(json{{"name", tool.name}, {"description", tool.description}, {"inputSchema", input_schema(tool)}});
    }
    return list;
  }();
  return kList;
}

bool is_mcp_tool(std::string_view name) { return find_tool(name) != nullptr; }

std::variant<LoopbackRequest, json> request_for_tool(std::string_view name, const json& arguments) {
  const Tool* tool = find_tool(name);
  if (!tool) return json{{"error", "unknown tool " + std::string(name)}, {"_hint", "tools/list names every tool."}};
  LoopbackRequest request{tool->path, std::nullopt, tool->time_limit};
  if (tool->post) request.body = json::object();
  char separator = '?';
  for (const Argument& a : tool->arguments) {
    const json* value = member(arguments, a.name);
    if (!value || value->is_null()) {
      if (a.required) return argument_error(*tool, std::string(a.name) + " is required");
      continue;
    }
    if (!has_type(*value, a.type)) {
      return argument_error(*tool, std::string(a.name) + " must be of type " + a.type);
    }
    if (a.place == Place::kBody) {
      (*request.body)[a.name] = *value;
      continue;
    }
    request.path += separator;
    request.path += std::string(a.name) + "=" + percent_encoded(query_text(*value));
    separator = '&';
  }
  // The body travels as one command-line argument of curl.
  if (request.body && !fits_one_argument(dump_compact(*request.body))) {
    return json{{"error", std::string("the arguments of ") + tool->name + " are too long to send"},
                {"_hint", "Keep the whole request under 128 KiB."}};
  }
  return request;
}

bool reply_is_error(const json& reply) {
  const json* error = member(reply, "error");
  const bool says_error = error && !error->is_null() && *error != false && *error != "";
  return says_error || is_false(reply, "ok");
}

json tool_result(const json& reply) {
  return json{{"content", json::array({json{{"type", "text"}, {"text", dump_compact(reply)}}})},
              {"isError", reply_is_error(reply)}};
}

}  // namespace loomdeck
