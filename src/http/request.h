#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/json_text.h"
#include "http/byte_source.h"
#include "http/peer_address.h"

namespace loomdeck {

// A request's header fields: names lower-cased, values trimmed, in the order they came.
class Headers {
 public:
  void add(std::string name, std::string value);
  // The first value of the field, when it came at all.
  std::optional<std::string> get(std::string_view name) const;
  // Every value of the field, in order.
  std::vector<std::string> all(std::string_view name) const;
  std::size_t count(std::string_view name) const { return all(name).size(); }
  std::size_t size() const { return fields_.size(); }

 private:
  std::vector<std::pair<std::string, std::string>> fields_;
};

struct Request {
  std::string method;  // upper-cased
  std::string path;    // the target up to the first "?"
  std::string query;   // raw, undecoded
  json body = json::object();
  Headers headers;
  // The Content-Length the client announced; more than the body cap means bytes were left unread.
  std::size_t announced_length = 0;
  PeerAddress peer;  // filled in by the connection from its socket
  // Why the request cannot be acted on although it arrived whole (its body's framing is one the
  // server does not read); it is answered 400 and nothing runs.
  std::optional<std::string> malformed;
};

// Bounds on what one request may send before we give up on it without a reply.
inline constexpr std::size_t kMaxLineBytes = 8192;
inline constexpr std::size_t kMaxBodyBytes = 1048576;
inline constexpr std::size_t kMaxHeaderFields = 100;

// The raw value of the first query parameter whose text starts with "<name>=".
std::optional<std::string_view> raw_query_param(std::string_view query, std::string_view name);

// Splits a request target into path and query.
void split_target(std::string_view target, Request& request);

// Reads one request. Nothing means: close the connection without a reply, also when the request
// did not arrive whole (its head or body cut short by the client closing or the deadline).
std::optional<Request> read_request(LineReader& reader);

}  // namespace loomdeck
