#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "core/json_text.h"

namespace loomdeck {

inline constexpr std::size_t kMaxBoxNameBytes = 128;

// Why a box name must not reach ovra-bridge, or nothing when it may: longer than 128 bytes,
// holding a control character (a NUL would cut the argument short), or starting with "-" (the
// bridge would read it as an option). The empty name is passed on as it is.
std::optional<std::string> box_name_problem(std::string_view box);

// The reply for a refused box name: `error` naming the rule and a `_hint`.
json box_name_refusal(const std::string& problem);

// The box as a message names it: a request without a box goes to the bridge's default box, so an
// empty name reads "the default box" rather than leaving a gap in the sentence.
std::string box_label(std::string_view box);

}  // namespace loomdeck
