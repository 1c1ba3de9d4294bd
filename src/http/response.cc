#include "http/response.h"

#include <string>

namespace loomdeck {

namespace {

constexpr std::string_view kCors = "Access-Control-Allow-Origin: *\r\n";
// Pages are never cached, so a rebuilt server's pages show at once.
constexpr std::string_view kPageHeaders =
    "Cache-Control: no-store, must-revalidate\r\nPragma: no-cache\r\nExpires: 0\r\nAccess-Control-Allow-Origin: *\r\n";

// The status line, Content-Type, Content-Length, the given header lines, Connection: close, body;
// handed to the system in one call.
void write_reply(Stream& stream, std::string_view status_text, std::string_view content_type, std::string_view body,
                 std::string_view headers) {
  std::string head;
  head.reserve(160 + content_type.size() + headers.size());
  head += "HTTP/1.1 ";
  head += status_text;
  head += "\r\nContent-Type: ";
  head += content_type;
  head += "\r\nContent-Length: ";
  head += std::to_string(body.size());
  head += "\r\n";
  head += headers;
  head += "Connection: close\r\n\r\n";
  stream.write({head, body});
}

}  // namespace

void respond(Stream& stream, std::string_view status_text, std::string_view content_type, std::string_view body) {
  write_reply(stream, status_text, content_type, body, kCors);
}

void respond_with(Stream& stream, std::string_view status_text, std::string_view content_type, std::string_view body,
                  std::string_view headers) {
  write_reply(stream, status_text, content_type, body, std::string(kCors) + std::string(headers));
}

void send_json_uncorsed(Stream& stream, std::string_view status_text, const json& value) {
  write_reply(stream, status_text, "application/json", dump_compact(value), "");
}

void send_json(Stream& stream, const json& value) {
  respond(stream, "200 OK", "application/json", dump_compact(value));
}

void serve_page(Stream& stream, std::string_view content_type, std::string_view bytes, std::string_view headers) {
  if (headers.empty()) {
    write_reply(stream, "200 OK", content_type, bytes, kPageHeaders);
    return;
  }
  write_reply(stream, "200 OK", content_type, bytes, std::string(kPageHeaders) + std::string(headers));
}

void send_redirect(Stream& stream, std::string_view location, std::string_view headers) {
  std::string lines = "Location: ";
  lines += location;
  lines += "\r\nCache-Control: no-store\r\n";
  lines += headers;
  write_reply(stream, "303 See Other", "text/plain; charset=utf-8", "", lines);
}

void send_preflight(Stream& stream) { stream.write(kPreflightReply); }

void send_not_found(Stream& stream, std::string_view hint) {
  respond(stream, "404 Not Found", "application/json", dump_compact(json{{"_hint", hint}, {"error", "not found"}}));
}

}  // namespace loomdeck
