#pragma once

#include <optional>
#include <string>

#include "core/json_text.h"
#include "core/process.h"

namespace loomdeck {

// Every operation on Fusion goes through this seam. Production spawns `ovra-bridge`; tests
// script the replies and record the calls.
class Bridge {
 public:
  virtual ~Bridge() = default;
  // One tool call. Never fails: a failure is a JSON object with `error` (and usually `_hint`).
  virtual json call(const std::string& attribution, const std::string& box, const std::string& tool,
                    const std::string& args) = 0;
  // `ovra-bridge targets`: its parsed output, or nothing when it cannot run or does not parse.
  virtual std::optional<json> targets() = 0;
};

// Output past this is treated as unparsable (screenshots arrive as base64 of a few MiB).
inline constexpr std::size_t kBridgeOutputLimit = 64u << 20;

// Runs `ovra-bridge --target <box> --ai-thread <attribution> <tool> <args>` to completion and
// turns what it printed into a JSON value.
json run_bridge_tool(ProcessRunner& runner, const std::string& attribution, const std::string& box,
                     const std::string& tool, const std::string& args);

// What a finished bridge process means as a JSON value (spawn failure, unparsable, parsed).
json bridge_result_from_process(const ProcessResult& result);

// The `data` object when it is a non-empty object, else the result itself (a copy either way).
json unwrap_bridge_data(const json& result);

// The common judgement of whether a tool call succeeded.
bool bridge_call_ok(const json& result, const json& data);

class ProcessBridge : public Bridge {
 public:
  explicit ProcessBridge(ProcessRunner& runner) : runner_(runner) {}
  json call(const std::string& attribution, const std::string& box, const std::string& tool,
            const std::string& args) override;
  std::optional<json> targets() override;

 private:
  ProcessRunner& runner_;
};

}  // namespace loomdeck
