// Whatever the bridge prints: turning it into a result, unwrapping `data`, judging success.
#include <cstddef>
#include <cstdint>
#include <string>

#include "bridge/bridge.h"
#include "core/utf8.h"
#include "fuzz_check.h"

using namespace loomdeck;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  ProcessResult process;
  process.started = (data[0] & 1) == 0;
  process.out_truncated = (data[0] & 6) == 6;
  process.exit_code = data[0] >> 3;
  process.out.assign(reinterpret_cast<const char*>(data) + 1, size - 1);
  if (!process.started) process.error_text = "No such file or directory";

  const json result = bridge_result_from_process(process);
  const std::optional<json> parsed = parse_json(process.out);
  if (!process.started) {
    FUZZ_CHECK(result.size() == 2 && result.contains("_hint"));
    FUZZ_CHECK(string_member(result, "error") == "ovra-bridge CLI not runnable: No such file or directory");
  } else if (parsed && !process.out_truncated) {
    FUZZ_CHECK(result == *parsed);
  } else {
    FUZZ_CHECK(result.is_object() && result.size() == 1);
    const json* error = member(result, "error");
    FUZZ_CHECK(error && error->is_string());
    const std::string text = error->get<std::string>();
    FUZZ_CHECK(is_valid_utf8(text));
    FUZZ_CHECK(code_point_count(text) <= 200);
    FUZZ_CHECK(text == utf8_prefix(lenient_utf8(process.out), 200));
  }
  must_dump(result);

  const json unwrapped = unwrap_bridge_data(result);
  const json* inner = member(result, "data");
  if (inner && inner->is_object() && !inner->empty()) {
    FUZZ_CHECK(unwrapped == *inner);
  } else {
    FUZZ_CHECK(unwrapped == result);
  }

  const bool ok = bridge_call_ok(result, unwrapped);
  if (is_true(result, "success") || is_true(unwrapped, "success")) FUZZ_CHECK(ok);
  if (!is_true(result, "success") && !is_true(unwrapped, "success") && !string_member(result, "error").empty()) {
    FUZZ_CHECK(!ok);
  }
  if (!process.started) FUZZ_CHECK(!ok);
  return 0;
}
