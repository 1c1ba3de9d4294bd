#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/json_text.h"
#include "core/process.h"
#include "http/request.h"
#include "http/stream.h"

namespace loomdeck {

// Prompts sent through this server are tagged so the workspace can attribute them.
inline constexpr std::string_view kPromptTag = "app:ovra/gantry";

// A prompt body as forwarded: `type` dropped and the tag appended to `tags` once. Bodies that
// are not objects pass unchanged.
json tag_prompt_body(json body);

std::vector<std::string> run_prompt_command(const std::string& base, const std::string& body_text);
// The same for a body too long for one command-line argument, which curl reads from `body_file`.
std::vector<std::string> run_prompt_file_command(const std::string& base, const std::string& body_file);
std::vector<std::string> prompt_status_command(const std::string& base, std::string_view query);
std::vector<std::string> updater_status_command(const std::string& base);

struct ProxyReply {
  std::string status;  // "200 OK" or "503 Service Unavailable"
  std::string body;    // JSON text
};

// The three pass-throughs, given the base URL (nothing when the address file gave none).
ProxyReply proxy_run_prompt(ProcessRunner& runner, const std::optional<std::string>& base, const json& body);
ProxyReply proxy_prompt_status(ProcessRunner& runner, const std::optional<std::string>& base, std::string_view query);
ProxyReply proxy_updater_status(ProcessRunner& runner, const std::optional<std::string>& base);

// POST /ai-threads/run-prompt, GET /ai-threads/run-prompt/status and GET /updater/status.
void handle_run_prompt(ProcessRunner& runner, const Request& request, Stream& stream);
void handle_run_prompt_status(ProcessRunner& runner, const Request& request, Stream& stream);
void handle_updater_status(ProcessRunner& runner, const Request& request, Stream& stream);

}  // namespace loomdeck
