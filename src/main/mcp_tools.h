#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "core/json_text.h"

namespace loomdeck {

// The `tools/list` entries: one per thing agents do through the running server, each with a
// description and an input JSON Schema (every property described, the required ones listed).
const json& mcp_tool_list();

// Whether `name` is one of those tools.
bool is_mcp_tool(std::string_view name);

// One request to the running server on loopback.
struct LoopbackRequest {
  std::string path;          // with its query; every value percent-escaped
  std::optional<json> body;  // present: a JSON POST
  std::chrono::seconds time_limit;
};

// The request a call of a listed tool makes, or the error object (`error`, `_hint`) that answers
// it instead: a required argument missing, an argument of the wrong type, or a body too long for
// the command line.
std::variant<LoopbackRequest, json> request_for_tool(std::string_view name, const json& arguments);

// Whether a route's reply reports a failure: an `error` member that says something (not null,
// false or empty), or `ok` false.
bool reply_is_error(const json& reply);

// A `tools/call` result: the reply as compact JSON text, `isError` as reply_is_error says.
json tool_result(const json& reply);

}  // namespace loomdeck
