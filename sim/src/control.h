// The pure parts of the `sim` control verbs.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "box.h"

namespace sim {

// "key=value": the value is JSON when it parses as JSON, else the text itself.
std::optional<std::pair<std::string, json>> parse_assignment(const std::string& word);
// Sets one state member; returns the complaint, or "" when it was applied.
std::string apply_set(Box& box, const std::string& key, const json& value);
// Pretends `ms` passed on the box: every stored instant moves that far into the past.
void shift_box(Box& box, int64_t ms);
// The user typed their Autodesk password at the sign-in wall.
void enter_password(Box& box, int64_t now_ms);
// Occupies Fusion's main thread with a verb of the given label for a while.
void make_busy(Box& box, double seconds, const std::string& label, int64_t now_ms);

}  // namespace sim
