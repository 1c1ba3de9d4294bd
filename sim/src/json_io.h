// JSON helpers shared by the simulator's tools: text that never throws on bad bytes,
// and lenient member reads that fall back to a default.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

namespace sim {

using json = nlohmann::json;

// Compact text with sorted keys; invalid UTF-8 inside strings becomes U+FFFD instead of throwing.
std::string dump(const json& value);
// Two-space indented text, same replacement rule.
std::string dump_pretty(const json& value);

// Parses text; nullopt when it is not one JSON document.
std::optional<json> parse(const std::string& text);

// Decodes text as UTF-8, replacing every invalid sequence with U+FFFD.
std::string to_valid_utf8(const std::string& text);

bool bool_at(const json& obj, const char* key, bool fallback);
std::string string_at(const json& obj, const char* key, const std::string& fallback = "");
int64_t int_at(const json& obj, const char* key, int64_t fallback);
double number_at(const json& obj, const char* key, double fallback);

}  // namespace sim
