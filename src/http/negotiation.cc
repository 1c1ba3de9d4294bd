#include "http/negotiation.h"

#include <optional>
#include <string>

#include "core/text.h"

namespace loomdeck {

namespace {

// "q=0.5" and friends as thousandths; nothing when the text is not a q-value ("0", "1", up to
// three decimals).
std::optional<int> parse_q(std::string_view text) {
  if (text.empty() || (text[0] != '0' && text[0] != '1')) return std::nullopt;
  int value = (text[0] - '0') * 1000;
  text.remove_prefix(1);
  if (text.empty()) return value;
  if (text[0] != '.' || text.size() > 4) return std::nullopt;
  int scale = 100;
  for (char c : text.substr(1)) {
    if (c < '0' || c > '9') return std::nullopt;
    value += (c - '0') * scale;
    scale /= 10;
  }
  return value > 1000 ? std::nullopt : std::optional<int>(value);
}

// One element "name;param;q=0.8": its lower-cased name and its weight.
struct Element {
  std::string name;
  int weight = 1000;
};

Element parse_element(std::string_view text) {
  Element element;
  const std::size_t semi = text.find(';');
  element.name = ascii_lower(trim(text.substr(0, semi)));
  std::string_view params = semi == std::string_view::npos ? std::string_view() : text.substr(semi + 1);
  while (!params.empty()) {
    const std::size_t next = params.find(';');
    const std::string_view param = trim(params.substr(0, next));
    params = next == std::string_view::npos ? std::string_view() : params.substr(next + 1);
    if (param.size() >= 2 && (param[0] == 'q' || param[0] == 'Q') && param[1] == '=') {
      element.weight = parse_q(trim(param.substr(2))).value_or(0);
    }
  }
  return element;
}

}  // namespace

int listed_weight(const Headers& headers, std::string_view header, std::string_view name, std::string_view wildcard) {
  std::optional<int> own;
  std::optional<int> wild;
  const std::string wanted = ascii_lower(name);
  for (const std::string& value : headers.all(header)) {
    std::string_view rest = value;
    while (!rest.empty()) {
      const std::size_t comma = rest.find(',');
      const Element element = parse_element(rest.substr(0, comma));
      rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
      if (element.name == wanted && !own) own = element.weight;
      if (!wildcard.empty() && element.name == wildcard && !wild) wild = element.weight;
    }
  }
  return own ? *own : wild.value_or(0);
}

bool accepts_gzip(const Headers& headers) { return listed_weight(headers, "accept-encoding", "gzip", "*") > 0; }

bool asks_for_html(const Headers& headers) {
  const int html = listed_weight(headers, "accept", "text/html", "");
  return html > 0 && html >= listed_weight(headers, "accept", "application/json", "");
}

bool if_none_match_hits(std::string_view if_none_match, std::string_view etag) {
  const std::string_view wanted = etag.starts_with("W/") ? etag.substr(2) : etag;
  std::string_view rest = if_none_match;
  while (!rest.empty()) {
    const std::size_t comma = rest.find(',');
    std::string_view tag = trim(rest.substr(0, comma));
    rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
    if (tag == "*") return true;
    if (tag.starts_with("W/")) tag.remove_prefix(2);
    if (!tag.empty() && tag == wanted) return true;
  }
  return false;
}

}  // namespace loomdeck
