#pragma once

#include <cstddef>
#include <string_view>

namespace loomdeck {

// Who may use a route: anyone, or only the callers the server's gate lets through.
enum class Access { kPublic, kGated };

// One row of a route table: the path (matched exactly, or as a prefix), what answers it and who
// may use it.
template <typename Handler>
struct Route {
  std::string_view path;
  Handler handler;
  Access access;
  bool prefix = false;
};

// The first row of the table that matches the path, in table order; nullptr when none does.
template <typename Handler, std::size_t N>
const Route<Handler>* find_route(const Route<Handler> (&table)[N], std::string_view path) {
  for (const Route<Handler>& route : table) {
    if (route.prefix ? path.starts_with(route.path) : path == route.path) return &route;
  }
  return nullptr;
}

}  // namespace loomdeck
