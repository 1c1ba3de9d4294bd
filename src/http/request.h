#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "core/json_text.h"
#include "http/byte_source.h"
#include "http/peer_address.h"

namespace loomdeck {

// The three request headers the server's gate reads; browsers never let a page set any of them.
struct GateHeaders {
  std::optional<std::string> host;
  std::optional<std::string> origin;
  std::optional<std::string> sec_fetch_site;
};

struct Request {
  std::string method;   // upper-cased
  std::string path;     // the target up to the first "?"
  std::string query;    // raw, undecoded
  std::optional<std::string> target_param;
  json body = json::object();
  GateHeaders headers;  // Host, Origin and Sec-Fetch-Site, for the request gate
  // The Content-Length the client announced; more than the body cap means bytes were left unread.
  std::size_t announced_length = 0;
  PeerAddress peer;  // filled in by the connection from its socket
};

// Bounds on what one request may send before we give up on it without a reply.
inline constexpr std::size_t kMaxLineBytes = 8192;
inline constexpr std::size_t kMaxBodyBytes = 1048576;

// The raw value of the first query parameter whose text starts with "<name>=".
std::optional<std::string_view> raw_query_param(std::string_view query, std::string_view name);

// Splits a request target into path, query and the `target` parameter.
void split_target(std::string_view target, Request& request);

// Reads one request. Nothing means: close the connection without a reply (also when its body
// did not fully arrive).
std::optional<Request> read_request(LineReader& reader);

}  // namespace loomdeck
