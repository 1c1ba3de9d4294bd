#include "http/request.h"

#include <cctype>
#include <vector>

#include "core/text.h"
#include "core/utf8.h"

namespace loomdeck {

namespace {

bool is_space(char c) { return kWhiteSpace.find(c) != std::string_view::npos; }

std::string ascii_upper(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

std::vector<std::string_view> split_whitespace(std::string_view s) {
  std::vector<std::string_view> out;
  std::size_t i = 0;
  while (i < s.size()) {
    while (i < s.size() && is_space(s[i])) ++i;
    const std::size_t start = i;
    while (i < s.size() && !is_space(s[i])) ++i;
    if (i > start) out.push_back(s.substr(start, i - start));
  }
  return out;
}

}  // namespace

std::optional<std::string_view> raw_query_param(std::string_view query, std::string_view name) {
  const std::string prefix = std::string(name) + "=";
  std::size_t start = 0;
  for (;;) {
    const std::size_t amp = query.find('&', start);
    const std::string_view piece =
        query.substr(start, amp == std::string_view::npos ? std::string_view::npos : amp - start);
    if (piece.starts_with(prefix)) return piece.substr(prefix.size());
    if (amp == std::string_view::npos) return std::nullopt;
    start = amp + 1;
  }
}

void split_target(std::string_view target, Request& request) {
  const std::size_t q = target.find('?');
  request.path = lenient_utf8(target.substr(0, q));
  request.query.clear();
  if (q == std::string_view::npos) return;
  const std::string_view query = target.substr(q + 1);
  request.query = std::string(query.substr(0, query.find('?')));
}

void Headers::add(std::string name, std::string value) { fields_.emplace_back(std::move(name), std::move(value)); }

std::optional<std::string> Headers::get(std::string_view name) const {
  for (const auto& [n, v] : fields_) {
    if (n == name) return v;
  }
  return std::nullopt;
}

std::vector<std::string> Headers::all(std::string_view name) const {
  std::vector<std::string> values;
  for (const auto& [n, v] : fields_) {
    if (n == name) values.push_back(v);
  }
  return values;
}

namespace {

// The body's length from its framing: one plain decimal Content-Length (the same in every copy of
// the field), or none. Anything else leaves the body's end unknown, so the request is not acted on.
std::optional<std::string> body_framing_problem(const Headers& headers, std::size_t& length) {
  length = 0;
  if (headers.count("transfer-encoding") > 0) {
    return "Transfer-Encoding is not accepted here: send the body with a Content-Length";
  }
  std::optional<unsigned long long> first;
  for (const std::string& value : headers.all("content-length")) {
    const std::optional<unsigned long long> plain = parse_digits(value, 18);
    if (!plain)
      return "Content-Length \"" + utf8_prefix(lenient_utf8(value), 40) + "\" is not one plain decimal number";
    if (first && *plain != *first) return "the request has Content-Lengths that differ";
    if (!first) first = plain;
  }
  if (first) length = static_cast<std::size_t>(*first);
  return std::nullopt;
}

}  // namespace

std::optional<Request> read_request(LineReader& reader) {
  std::string line;
  // A line without its newline was cut short by the client closing: the request never arrived whole.
  if (reader.read_line(line, kMaxLineBytes) != LineStatus::kLine || !line.ends_with('\n')) return std::nullopt;
  const std::vector<std::string_view> tokens = split_whitespace(line);
  if (tokens.empty()) return std::nullopt;

  Request request;
  request.method = ascii_upper(tokens[0]);
  split_target(tokens.size() > 1 ? tokens[1] : std::string_view("/"), request);

  for (;;) {
    const LineStatus status = reader.read_line(line, kMaxLineBytes);
    if (status != LineStatus::kLine || !line.ends_with('\n')) return std::nullopt;
    const std::string_view trimmed = trim(line);
    if (trimmed.empty()) break;
    if (request.headers.size() == kMaxHeaderFields) return std::nullopt;
    const std::size_t colon = trimmed.find(':');
    if (colon == std::string_view::npos) continue;
    request.headers.add(ascii_lower(trim(trimmed.substr(0, colon))), std::string(trim(trimmed.substr(colon + 1))));
  }

  std::size_t content_length = 0;
  request.malformed = body_framing_problem(request.headers, content_length);
  if (request.malformed) return request;
  request.announced_length = content_length;
  const std::size_t body_bytes = content_length < kMaxBodyBytes ? content_length : kMaxBodyBytes;
  if (body_bytes > 0) {
    std::string buffer(body_bytes, '\0');
    // A body that stopped short (deadline passed, or the client went away) is never acted on.
    if (reader.read_exact(buffer.data(), body_bytes) < body_bytes) return std::nullopt;
    if (auto parsed = parse_json(buffer)) request.body = std::move(*parsed);
  }
  return request;
}

}  // namespace loomdeck
