#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace loomdeck {

// The control API's base URL from the address file's content: white space trimmed, every
// trailing "/" removed. Nothing when the content is not valid UTF-8, ends up empty, or starts
// with "-" (curl would take it for an option rather than an address).
std::optional<std::string> control_base_from_text(std::string_view content);

// "{HOME}/.ovra/brindle-control-url", read afresh on every call.
std::optional<std::string> read_control_base_url();

}  // namespace loomdeck
