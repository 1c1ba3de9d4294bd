#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace loomdeck {

using json = nlohmann::json;

// Compact text, keys sorted (the library keeps objects ordered). Invalid UTF-8 that slipped
// into a string is replaced rather than thrown on, so serialising can never end a thread.
std::string dump_compact(const json& value);

// Indented by two spaces per level, same guarantees.
std::string dump_pretty(const json& value);

// Copying, comparing and serialising a value recurse once per level of nesting, so a document
// nested deeper than this (a 1 MiB body of "[" is 1 MiB levels) would exhaust a thread's stack.
inline constexpr std::size_t kMaxJsonDepth = 512;

// Whether no array or object in the text opens more than `max_depth` levels deep (brackets
// inside strings do not count).
bool nesting_within(std::string_view text, std::size_t max_depth);

// One JSON document, or nothing when the text does not parse or nests deeper than kMaxJsonDepth.
std::optional<json> parse_json(std::string_view text);

// Member reads that never throw: a non-object or a missing key reads as absent.
const json* member(const json& value, std::string_view key);
bool is_true(const json& value, std::string_view key);
bool is_false(const json& value, std::string_view key);
std::optional<bool> bool_member(const json& value, std::string_view key);
// The member when it is a string, else `fallback`.
std::string string_member(const json& value, std::string_view key, std::string_view fallback = "");
// A copy of the member, or null when absent.
json member_or_null(const json& value, std::string_view key);

}  // namespace loomdeck
