#include "server/request_gate.h"

#include <arpa/inet.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string_view>

#include "core/text.h"
#include "core/utf8.h"

namespace loomdeck {

namespace {

// Header texts are the client's; what of them goes into a reply, a log line or a toast is cut.
constexpr std::size_t kShownChars = 200;

std::string shown(std::string_view text) { return utf8_prefix(lenient_utf8(text), kShownChars); }

// HTTP's optional white space: what is trimmed around list items and header values.
constexpr std::string_view kBlanks = " \t";

std::vector<std::string_view> comma_list(std::string_view text) {
  std::vector<std::string_view> items;
  for (;;) {
    const std::size_t comma = text.find(',');
    const std::string_view item = trim(text.substr(0, comma), kBlanks);
    if (!item.empty()) items.push_back(item);
    if (comma == std::string_view::npos) return items;
    text.remove_prefix(comma + 1);
  }
}

// "host[:port]" with the host lower-cased, an IPv6 literal kept in its brackets, one trailing dot
// dropped; nothing when it is not that shape.
struct HostPort {
  std::string host;
  std::optional<int> port;
};

std::optional<HostPort> parse_host_port(std::string_view text) {
  HostPort hp;
  std::string_view host = text;
  std::string_view port;
  bool has_port = false;
  if (!text.empty() && text.front() == '[') {
    const std::size_t close = text.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    host = text.substr(0, close + 1);
    const std::string_view rest = text.substr(close + 1);
    if (!rest.empty()) {
      if (rest.front() != ':') return std::nullopt;
      port = rest.substr(1);
      has_port = true;
    }
  } else if (const std::size_t colon = text.rfind(':'); colon != std::string_view::npos) {
    host = text.substr(0, colon);
    port = text.substr(colon + 1);
    has_port = true;
    if (host.find(':') != std::string_view::npos) return std::nullopt;
  }
  if (host.empty()) return std::nullopt;
  if (has_port && !port.empty()) {
    if (port.size() > 5) return std::nullopt;
    int value = 0;
    for (const char c : port) {
      if (c < '0' || c > '9') return std::nullopt;
      value = value * 10 + (c - '0');
    }
    if (value > 65535) return std::nullopt;
    hp.port = value;
  }
  hp.host = ascii_lower(host);
  if (hp.host.size() > 1 && hp.host.back() == '.') hp.host.pop_back();
  return hp;
}

std::optional<int> default_port(std::string_view scheme) {
  if (scheme == "http" || scheme == "ws") return 80;
  if (scheme == "https" || scheme == "wss") return 443;
  return std::nullopt;
}

struct Origin {
  std::string scheme;
  std::string host;
  std::optional<int> port;  // explicit or the scheme's default

  std::string text() const {
    std::string out = scheme + "://" + host;
    if (port && port != default_port(scheme)) out += ":" + std::to_string(*port);
    return out;
  }
};

// "scheme://host[:port]", optionally followed by a path when `allow_path` (a proxy URL).
std::optional<Origin> parse_origin(std::string_view text, bool allow_path) {
  const std::size_t sep = text.find("://");
  if (sep == std::string_view::npos || sep == 0) return std::nullopt;
  Origin o;
  o.scheme = ascii_lower(text.substr(0, sep));
  for (const char c : o.scheme) {
    if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.')) return std::nullopt;
  }
  std::string_view authority = text.substr(sep + 3);
  const std::size_t end = authority.find_first_of("/?#");
  if (end != std::string_view::npos) {
    if (!allow_path && authority.substr(end) != "/") return std::nullopt;
    authority = authority.substr(0, end);
  }
  if (allow_path) {
    if (const std::size_t at = authority.rfind('@'); at != std::string_view::npos) authority.remove_prefix(at + 1);
  }
  const std::optional<HostPort> hp = parse_host_port(authority);
  if (!hp) return std::nullopt;
  o.host = hp->host;
  o.port = hp->port ? hp->port : default_port(o.scheme);
  return o;
}

bool is_ip_literal(const std::string& host) {
  unsigned char buf[16];
  if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
    return ::inet_pton(AF_INET6, host.substr(1, host.size() - 2).c_str(), buf) == 1;
  }
  return ::inet_pton(AF_INET, host.c_str(), buf) == 1;
}

bool names_this_server(const std::string& host, const GateConfig& config) {
  if (is_ip_literal(host)) return true;
  if (host == "localhost" || (host.size() > 10 && host.ends_with(".localhost"))) return true;
  return std::find(config.own_names.begin(), config.own_names.end(), host) != config.own_names.end();
}

GateVerdict refuse(std::string why, std::string culprit) { return {false, std::move(why), std::move(culprit)}; }

}  // namespace

GateConfig gate_config(const std::string& allowed_origins, const std::string& allowed_hosts,
                       const std::string& proxy_uri, const std::string& machine_host, uint16_t port) {
  GateConfig config;
  for (const std::string_view item : comma_list(allowed_origins)) {
    if (const auto o = parse_origin(item, false)) config.allowed_origins.push_back(o->text());
  }
  for (const std::string_view item : comma_list(allowed_hosts)) {
    if (const auto hp = parse_host_port(item)) config.own_names.push_back(hp->host);
  }
  const std::string proxy = replace_all(proxy_uri, "{{port}}", std::to_string(port));
  if (const auto o = parse_origin(trim(proxy, kBlanks), true); o && (o->scheme == "http" || o->scheme == "https")) {
    config.allowed_origins.push_back(o->text());
    config.own_names.push_back(o->host);
  }
  if (const auto hp = parse_host_port(trim(machine_host, kBlanks))) config.own_names.push_back(hp->host);
  return config;
}

GateConfig gate_config_from_environment(uint16_t port) {
  const auto env = [](const char* name) {
    const char* value = std::getenv(name);
    return std::string(value ? value : "");
  };
  char host[256] = {};
  if (::gethostname(host, sizeof host - 1) != 0) host[0] = '\0';
  return gate_config(env("LOOMDECK_ALLOWED_ORIGINS"), env("LOOMDECK_ALLOWED_HOSTS"), env("VSCODE_PROXY_URI"), host,
                     port);
}

GateVerdict decide_gate(const GateHeaders& headers, const GateConfig& config) {
  const std::optional<Origin> origin =
      headers.origin ? parse_origin(*headers.origin, false) : std::optional<Origin>();
  if (origin) {
    const std::string text = origin->text();
    if (std::find(config.allowed_origins.begin(), config.allowed_origins.end(), text) != config.allowed_origins.end()) {
      return {};
    }
  }

  if (headers.sec_fetch_site) {
    const std::string site = ascii_lower(*headers.sec_fetch_site);
    if (site == "same-origin" || site == "none") return {};
    const std::string who = headers.origin ? shown(*headers.origin) : "another web page";
    if (site == "cross-site" || site == "same-site") return refuse(site + " request from " + who, who);
    return refuse("Sec-Fetch-Site " + shown(site) + " is not same-origin (request from " + who + ")", who);
  }

  std::optional<HostPort> host;
  if (headers.host && !headers.host->empty()) {
    host = parse_host_port(*headers.host);
    if (!host) return refuse("Host " + shown(*headers.host) + " is not a name of this server", shown(*headers.host));
    if (!names_this_server(host->host, config)) {
      return refuse("Host " + shown(host->host) + " is not a name of this server", shown(host->host));
    }
  }

  if (headers.origin) {
    const std::string who = shown(*headers.origin);
    if (*headers.origin == "null") return refuse("request from an opaque origin (Origin: null)", "a sandboxed page");
    if (!origin) return refuse("Origin " + who + " is not a web origin", who);
    if (!host) return refuse("cross-origin request from " + who + " without a Host header", who);
    const std::optional<int> host_port = host->port ? host->port : default_port(origin->scheme);
    if (origin->host != host->host || origin->port != host_port) {
      return refuse("cross-origin request from " + who + " to Host " + shown(*headers.host), who);
    }
  }
  return {};
}

}  // namespace loomdeck
