#include "http/request.h"

#include <cctype>
#include <limits>
#include <vector>

#include "core/utf8.h"

namespace loomdeck {

namespace {

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v'; }

std::string ascii_lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

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

std::string replace_all(std::string_view text, std::string_view from, std::string_view to) {
  std::string out;
  std::size_t pos = 0;
  for (;;) {
    const std::size_t hit = text.find(from, pos);
    out.append(text.substr(pos, hit == std::string_view::npos ? std::string_view::npos : hit - pos));
    if (hit == std::string_view::npos) return out;
    out.append(to);
    pos = hit + from.size();
  }
}

}  // namespace

std::string_view trim(std::string_view text) {
  std::size_t b = 0, e = text.size();
  while (b < e && is_space(text[b])) ++b;
  while (e > b && is_space(text[e - 1])) --e;
  return text.substr(b, e - b);
}

std::optional<unsigned long long> parse_unsigned(std::string_view text) {
  if (!text.empty() && text[0] == '+') text.remove_prefix(1);
  if (text.empty()) return std::nullopt;
  unsigned long long value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    const unsigned digit = static_cast<unsigned>(c - '0');
    if (value > (std::numeric_limits<unsigned long long>::max() - digit) / 10) return std::nullopt;
    value = value * 10 + digit;
  }
  return value;
}

void split_target(std::string_view target, Request& request) {
  const std::size_t q = target.find('?');
  request.path = lenient_utf8(target.substr(0, q));
  request.query.clear();
  request.target_param.reset();
  if (q == std::string_view::npos) return;
  std::string_view query = target.substr(q + 1);
  query = query.substr(0, query.find('?'));
  request.query = std::string(query);
  std::size_t start = 0;
  for (;;) {
    const std::size_t amp = query.find('&', start);
    const std::string_view piece = query.substr(start, amp == std::string_view::npos ? std::string_view::npos : amp - start);
    if (piece.substr(0, 7) == "target=") {
      request.target_param = lenient_utf8(replace_all(piece.substr(7), "%20", " "));
      return;
    }
    if (amp == std::string_view::npos) return;
    start = amp + 1;
  }
}

namespace {

// Keeps the headers the request gate reads: names compared case-insensitively, values trimmed.
void read_gate_header(std::string_view line, GateHeaders& headers) {
  const std::size_t colon = line.find(':');
  if (colon == std::string_view::npos) return;
  const std::string name = ascii_lower(trim(line.substr(0, colon)));
  std::optional<std::string>* slot = name == "host"             ? &headers.host
                                     : name == "origin"         ? &headers.origin
                                     : name == "sec-fetch-site" ? &headers.sec_fetch_site
                                                                : nullptr;
  if (slot) *slot = std::string(trim(line.substr(colon + 1)));
}

}  // namespace

std::optional<Request> read_request(LineReader& reader) {
  std::string line;
  if (reader.read_line(line, kMaxLineBytes) != LineStatus::kLine) return std::nullopt;
  const std::vector<std::string_view> tokens = split_whitespace(line);
  if (tokens.empty()) return std::nullopt;

  Request request;
  request.method = ascii_upper(tokens[0]);
  split_target(tokens.size() > 1 ? tokens[1] : std::string_view("/"), request);

  std::size_t content_length = 0;
  for (;;) {
    const LineStatus status = reader.read_line(line, kMaxLineBytes);
    if (status == LineStatus::kError || status == LineStatus::kTooLong) return std::nullopt;
    if (status == LineStatus::kEnd) break;
    const std::string_view trimmed = trim(line);
    if (trimmed.empty()) break;
    read_gate_header(trimmed, request.headers);
    const std::string lower = ascii_lower(line);
    constexpr std::string_view kName = "content-length:";
    if (std::string_view(lower).substr(0, kName.size()) == kName) {
      const auto value = parse_unsigned(trim(std::string_view(lower).substr(kName.size())));
      content_length = (value && *value <= std::numeric_limits<std::size_t>::max()) ? static_cast<std::size_t>(*value) : 0;
    }
  }

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
