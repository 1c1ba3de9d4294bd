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
    const std::optional<unsigned long long> value = parse_digits(port, 5);
    if (!value || *value > 65535) return std::nullopt;
    hp.port = static_cast<int>(*value);
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

bool is_localhost_name(const std::string& host) {
  return host == "localhost" || (host.size() > 10 && host.ends_with(".localhost"));
}

bool contains(const std::vector<std::string>& list, const std::string& item) {
  return std::find(list.begin(), list.end(), item) != list.end();
}

bool names_this_server(const std::string& host, const GateConfig& config) {
  return is_ip_literal(host) || is_localhost_name(host) || contains(config.own_names, host);
}

// 127.0.0.0/8, [::1], localhost and *.localhost: names that only ever reach this machine.
bool is_loopback_name(const std::string& host) {
  if (is_localhost_name(host) || host == "[::1]") return true;
  in_addr v4{};
  return ::inet_pton(AF_INET, host.c_str(), &v4) == 1 && (ntohl(v4.s_addr) >> 24) == 127;
}

bool mentions(std::string_view text, std::string_view part) {
  return ascii_lower(text).find(part) != std::string::npos;
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
    if (const auto hp = parse_host_port(item)) {
      config.own_names.push_back(hp->host);
      config.browser_hosts.push_back(hp->host);
    }
  }
  const std::string proxy = replace_all(proxy_uri, "{{port}}", std::to_string(port));
  if (const auto o = parse_origin(trim(proxy, kBlanks), true); o && (o->scheme == "http" || o->scheme == "https")) {
    config.allowed_origins.push_back(o->text());
    config.own_names.push_back(o->host);
    config.browser_hosts.push_back(o->host);
    config.proxy_host = o->host;
    config.proxy_scheme = o->scheme;
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

bool has_browser_signs(const Headers& headers) {
  if (headers.count("sec-fetch-dest") > 0 || headers.count("upgrade-insecure-requests") > 0) return true;
  if (headers.get("user-agent").value_or("").starts_with("Mozilla/")) return true;
  const std::string accept = headers.get("accept").value_or("");
  return mentions(accept, "text/html") || mentions(accept, "image/");
}

GateRequest gate_request(const Request& request, bool token) {
  return {request.headers.get("host"), request.headers.get("origin"), request.headers.get("sec-fetch-site"),
          has_browser_signs(request.headers), token};
}

std::optional<std::string> repeated_gate_header(const Headers& headers) {
  for (const char* name : {"Host", "Origin", "Sec-Fetch-Site"}) {
    if (headers.count(ascii_lower(name)) > 1) return std::string(name);
  }
  return std::nullopt;
}

GateVerdict decide_gate(const GateRequest& request, const GateConfig& config) {
  const std::optional<Origin> origin = request.origin ? parse_origin(*request.origin, false) : std::optional<Origin>();
  if (origin && contains(config.allowed_origins, origin->text())) return {};

  // A foreign name rebound to this machine is refused whatever else the request says.
  std::optional<HostPort> host;
  if (request.host && !request.host->empty()) {
    host = parse_host_port(*request.host);
    if (!host) return refuse("Host " + shown(*request.host) + " is not a name of this server", shown(*request.host));
    if (!names_this_server(host->host, config)) {
      return refuse("Host " + shown(host->host) + " is not a name of this server", shown(host->host));
    }
  }

  if (request.sec_fetch_site) {
    const std::string site = ascii_lower(*request.sec_fetch_site);
    if (site == "same-origin" || site == "none") return {};
    const std::string who = request.origin ? shown(*request.origin) : "another web page";
    if (site == "cross-site" || site == "same-site") return refuse(site + " request from " + who, who);
    return refuse("Sec-Fetch-Site " + shown(site) + " is not same-origin (request from " + who + ")", who);
  }

  // Browsers send Fetch Metadata only to trustworthy addresses; for any other name the request
  // may come from another site's page, so only names that reach this machine alone are believed
  // (or the token's cookie, which a browser never sends along with another site's request).
  if (request.browser_signs && !request.token &&
      !(host && (is_loopback_name(host->host) || contains(config.browser_hosts, host->host)))) {
    const std::string who = request.origin ? shown(*request.origin) : "another web page";
    const std::string name = host ? shown(host->host) : std::string("none");
    return refuse("browser request without Fetch Metadata to Host " + name +
                      ", which is not a loopback name (request from " + who + ")",
                  who);
  }

  if (request.origin) {
    const std::string who = shown(*request.origin);
    if (*request.origin == "null") return refuse("request from an opaque origin (Origin: null)", "a sandboxed page");
    if (!origin) return refuse("Origin " + who + " is not a web origin", who);
    if (!host) return refuse("cross-origin request from " + who + " without a Host header", who);
    const std::string scheme =
        !config.proxy_host.empty() && host->host == config.proxy_host ? config.proxy_scheme : std::string("http");
    const std::optional<int> host_port = host->port ? host->port : default_port(scheme);
    if (origin->scheme != scheme || origin->host != host->host || origin->port != host_port) {
      return refuse("cross-origin request from " + who + " to Host " + shown(*request.host), who);
    }
  }
  return {};
}

}  // namespace loomdeck
