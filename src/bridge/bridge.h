#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <semaphore>
#include <string>
#include <string_view>

#include "bridge/bridge_tools.h"
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

// The bridge-style error for a call stopped at its time limit; the hint names the command
// that checks the box.
json bridge_timeout_error(const std::string& tool, const std::string& box, std::chrono::milliseconds limit);

// The error for argument text too long to pass on the bridge's command line.
json bridge_arguments_too_long(const std::string& tool, std::size_t bytes);

// An answer this large is parsed only while holding one of the server's few large-answer
// permits: reading one costs about four times its size for a moment (the text, the parser's
// buffer and the value), and the seven probes of a box all answer at once.
inline constexpr std::size_t kLargeAnswerBytes = 1u << 20;
inline constexpr std::ptrdiff_t kLargeAnswersAtOnce = 2;
using LargeAnswerPermits = std::counting_semaphore<kLargeAnswersAtOnce>;

// Runs `ovra-bridge --target <box> --ai-thread <attribution> <tool> <args>` to completion (or
// its time limit) and turns what it printed into a JSON value, a large answer only with one of
// `permits` when given. Argument text too long for the command line is refused without spawning.
json run_bridge_tool(ProcessRunner& runner, const std::string& attribution, const std::string& box,
                     const std::string& tool, const std::string& args, LargeAnswerPermits* permits = nullptr);

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
  LargeAnswerPermits large_answers_{kLargeAnswersAtOnce};
};

}  // namespace loomdeck
