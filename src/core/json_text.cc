#include "core/json_text.h"

namespace loomdeck {

std::string dump_compact(const json& value) { return value.dump(-1, ' ', false, json::error_handler_t::replace); }

std::string dump_pretty(const json& value) { return value.dump(2, ' ', false, json::error_handler_t::replace); }

bool nesting_within(std::string_view text, std::size_t max_depth) {
  std::size_t depth = 0;
  bool in_string = false;
  bool escaped = false;
  for (const char c : text) {
    if (in_string) {
      if (escaped) {
        escaped = false;
      } else if (c == '\\') {
        escaped = true;
      } else if (c == '"') {
        in_string = false;
      }
    } else if (c == '"') {
      in_string = true;
    } else if (c == '[' || c == '{') {
      if (++depth > max_depth) return false;
    } else if ((c == ']' || c == '}') && depth > 0) {
      --depth;
    }
  }
  return true;
}

std::optional<json> parse_json(std::string_view text) {
  // The parser takes a NUL byte for the end of input; JSON text never holds a raw one, so a
  // NUL means the text is not JSON (a body cut short keeps its zero-filled tail).
  if (text.find('\0') != std::string_view::npos) return std::nullopt;
  if (!nesting_within(text, kMaxJsonDepth)) return std::nullopt;
  json parsed = json::parse(text.begin(), text.end(), nullptr, false);
  if (parsed.is_discarded()) return std::nullopt;
  return parsed;
}

const json* member(const json& value, std::string_view key) {
  if (!value.is_object()) return nullptr;
  const auto it = value.find(key);
  if (it == value.end()) return nullptr;
  return &*it;
}

bool is_true(const json& value, std::string_view key) {
  const json* m = member(value, key);
  return m && m->is_boolean() && m->get<bool>();
}

bool is_false(const json& value, std::string_view key) {
  const json* m = member(value, key);
  return m && m->is_boolean() && !m->get<bool>();
}

std::optional<bool> bool_member(const json& value, std::string_view key) {
  const json* m = member(value, key);
  if (!m || !m->is_boolean()) return std::nullopt;
  return m->get<bool>();
}

std::string string_member(const json& value, std::string_view key, std::string_view fallback) {
  const json* m = member(value, key);
  if (!m || !m->is_string()) return std::string(fallback);
  return m->get<std::string>();
}

json member_or_null(const json& value, std::string_view key) {
  const json* m = member(value, key);
  return m ? *m : json(nullptr);
}

}  // namespace loomdeck
