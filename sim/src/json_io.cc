#include "json_io.h"

namespace sim {

std::string dump(const json& value) { return value.dump(-1, ' ', false, json::error_handler_t::replace); }

std::string dump_pretty(const json& value) { return value.dump(2, ' ', false, json::error_handler_t::replace); }

std::optional<json> parse(const std::string& text) {
  json v = json::parse(text, nullptr, false);
  if (v.is_discarded()) return std::nullopt;
  return v;
}

std::string to_valid_utf8(const std::string& text) {
  // A JSON string round trip through the replacing serialiser does exactly the decoding we need.
  std::string quoted = json(text).dump(-1, ' ', false, json::error_handler_t::replace);
  return json::parse(quoted).get<std::string>();
}

bool bool_at(const json& obj, const char* key, bool fallback) {
  if (!obj.is_object()) return fallback;
  auto it = obj.find(key);
  return it != obj.end() && it->is_boolean() ? it->get<bool>() : fallback;
}

std::string string_at(const json& obj, const char* key, const std::string& fallback) {
  if (!obj.is_object()) return fallback;
  auto it = obj.find(key);
  return it != obj.end() && it->is_string() ? it->get<std::string>() : fallback;
}

int64_t int_at(const json& obj, const char* key, int64_t fallback) {
  if (!obj.is_object()) return fallback;
  auto it = obj.find(key);
  if (it == obj.end() || !it->is_number()) return fallback;
  return it->is_number_float() ? static_cast<int64_t>(it->get<double>()) : it->get<int64_t>();
}

double number_at(const json& obj, const char* key, double fallback) {
  if (!obj.is_object()) return fallback;
  auto it = obj.find(key);
  return it != obj.end() && it->is_number() ? it->get<double>() : fallback;
}

}  // namespace sim
