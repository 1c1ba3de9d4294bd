#include "http/request.h"

#include <cctype>
#include <limits>
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
    const std::string_view piece = query.substr(start, amp == std::string_view::npos ? std::string_view::npos : amp - start);
    if (piece.starts_with(prefix)) return piece.substr(prefix.size());
    if (amp == std::string_view::npos) return std::nullopt;
    start = amp + 1;
  }
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
  if (const std::optional<std::string_view> box = raw_query_param(query, "target")) {
    request.target_param = lenient_utf8(replace_all(*box, "%20", " "));
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
