#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "http/request.h"

namespace loomdeck {

// The dashboard's token: what a peer that is not on this machine presents on every request.
struct AccessToken {
  std::string value;    // 64 hex digits; empty when the file could not be used
  std::string path;     // where it is kept
  std::string problem;  // why the file could not be used, when it could not
};

inline constexpr std::string_view kTokenCookie = "loomdeck_token";

// `bytes` random bytes as lower-case hex; empty when the system gave none.
std::string random_hex(std::size_t bytes);

// Reads the token kept at `path`, or makes one (32 random bytes as hex) in a new file of mode
// 0600. A file that is a link, not a regular file, owned by another user, open to other users or
// not a token is not used.
AccessToken load_or_create_token(const std::string& path);

// The token a request presents: "Authorization: Bearer <token>" or the token's cookie.
std::optional<std::string> presented_token(const Headers& headers);

// Compares in time independent of where the texts differ; an empty token matches nothing.
bool token_matches(std::string_view presented, const AccessToken& token);

// Where to send a page opened with "?token=...": the same page, relative to itself (so it works
// behind a proxy that adds a path prefix), with every other query parameter kept.
std::string location_without_token(std::string_view path, std::string_view query);

}  // namespace loomdeck
