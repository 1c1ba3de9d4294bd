#pragma once

#include <string_view>

#include "core/json_text.h"
#include "http/stream.h"

namespace loomdeck {

// The three writers every route uses, plus the fixed preflight and not-found replies.
void respond(Stream& stream, std::string_view status_text, std::string_view content_type, std::string_view body);
// The same with `headers` (whole header lines) added.
void respond_with(Stream& stream, std::string_view status_text, std::string_view content_type, std::string_view body,
                  std::string_view headers);
void send_json(Stream& stream, const json& value);
// A page: never cached, with `headers` (whole header lines) added.
void serve_page(Stream& stream, std::string_view content_type, std::string_view bytes, std::string_view headers = "");
// 303 to `location` with `headers` (whole header lines) added, nothing cached.
void send_redirect(Stream& stream, std::string_view location, std::string_view headers);
void send_preflight(Stream& stream);
// A JSON reply without Access-Control-Allow-Origin, so no other web site can read it.
void send_json_uncorsed(Stream& stream, std::string_view status_text, const json& value);
// 404 with {"_hint": hint, "error": "not found"}.
void send_not_found(Stream& stream, std::string_view hint);

inline constexpr std::string_view kPreflightReply =
    "HTTP/1.1 204 No Content\r\nAccess-Control-Allow-Origin: *\r\nAccess-Control-Allow-Methods: GET, POST, "
    "OPTIONS\r\nAccess-Control-Allow-Headers: Content-Type\r\nAccess-Control-Max-Age: 600\r\nContent-Length: "
    "0\r\nConnection: close\r\n\r\n";

}  // namespace loomdeck
