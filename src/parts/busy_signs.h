#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

#include "core/json_text.h"

namespace loomdeck {

// The texts lower-cased and joined by single spaces.
std::string joined_lower(std::initializer_list<std::string> texts);

bool contains_any(const std::string& text, std::initializer_list<std::string_view> needles);

// A verb that timed out or met a busy main thread is still being worked on by the add-in.
bool reads_as_still_working(const std::string& lowered);

}  // namespace loomdeck
