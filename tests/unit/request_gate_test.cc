#include "server/request_gate.h"

#include <gtest/gtest.h>

#include "fakes.h"
#include "http/request.h"
#include "http/stream.h"
#include "server/answer.h"
#include "server/gate_refusal.h"
#include "server/page_policy.h"
#include "server/server_state.h"

namespace loomdeck {
namespace {

using Opt = std::optional<std::string>;
const Opt none;

GateConfig test_config() {
  return gate_config(" https://trusted.example ,HTTP://Tools.Local:3000/,not an origin,", "devbox.lan, Spare.Lan.:81",
                     "https://ws-42.brindle.example/proxy/{{port}}/", "c0ffee", 8930);
}

TEST(RequestGate, DecisionTable) {
  struct Case {
    Opt host, origin, site;
    const char* why;     // nullptr: allowed
    bool signs = false;  // it looks like a browser's request
    bool token = false;  // it carried the token's cookie
  };
  const Case cases[] = {
      // curl, the CLI and agents send neither Origin nor Sec-Fetch-Site.
      {"127.0.0.1:8930", none, none, nullptr},
      {none, none, none, nullptr},
      // The server's own pages, a typed address.
      {"127.0.0.1:8930", "http://127.0.0.1:8930", "same-origin", nullptr},
      {"localhost:8930", none, "none", nullptr},
      {"localhost:8930", none, "Same-Origin", nullptr},
      // Other sites, as a current browser marks them.
      {"127.0.0.1:8930", "https://evil.example", "cross-site", "cross-site request from https://evil.example"},
      {"localhost:8930", "http://localhost:3000", "same-site", "same-site request from http://localhost:3000"},
      {"127.0.0.1:8930", none, "cross-site", "cross-site request from another web page"},
      {"127.0.0.1:8930", "http://127.0.0.1:8930", "nested", "Sec-Fetch-Site nested is not same-origin"},
      // Listed origins and the workspace proxy's origin win over everything else.
      {"127.0.0.1:8930", "https://trusted.example", "cross-site", nullptr},
      {"127.0.0.1:8930", "https://trusted.example:443", "cross-site", nullptr},
      {"127.0.0.1:8930", "http://tools.local:3000", none, nullptr},
      {"127.0.0.1:8930", "https://ws-42.brindle.example", none, nullptr},
      {"127.0.0.1:8930", "http://ws-42.brindle.example", none,
       "cross-origin request from http://ws-42.brindle.example"},
      // A foreign name rebound to this machine, seen by a browser that sends no Sec-Fetch-Site.
      {"rebind.example:8930", none, none, "Host rebind.example is not a name of this server"},
      {"rebind.example:8930", "http://rebind.example:8930", none, "Host rebind.example is not a name of this server"},
      {"localhost.evil.example", none, none, "Host localhost.evil.example is not a name of this server"},
      {"evil-localhost:8930", none, none, "Host evil-localhost is not a name of this server"},
      {"bad host:x", none, none, "Host bad host:x is not a name of this server"},
      {"::1", none, none, "Host ::1 is not a name of this server"},
      // Names of this server: literals, localhost, the machine, the proxy, the listed hosts.
      {"LOCALHOST.", none, none, nullptr},
      {"dash.localhost:8930", none, none, nullptr},
      {"10.0.0.5:8930", "http://10.0.0.5:8930", none, nullptr},
      {"[::1]:8930", "http://[::1]:8930", none, nullptr},
      {"[::1]", "http://[::1]:8930", none, "cross-origin request from http://[::1]:8930 to Host [::1]"},
      {"C0FFEE:8930", none, none, nullptr},
      {"ws-42.brindle.example", none, none, nullptr},
      {"devbox.lan:8930", "http://devbox.lan:8930", none, nullptr},
      {"spare.lan", none, none, nullptr},
      // Without Sec-Fetch-Site an Origin must be the Host's, ports included (defaults by scheme).
      {"localhost", "http://localhost", none, nullptr},
      {"localhost:80", "http://localhost", none, nullptr},
      // ... and its scheme: this server speaks http (behind the proxy, the proxy's scheme).
      {"localhost:443", "https://localhost", none, "cross-origin request from https://localhost to Host localhost:443"},
      {"127.0.0.1:8930", "https://127.0.0.1:8930", none, "cross-origin request from https://127.0.0.1:8930"},
      {"ws-42.brindle.example:8443", "https://ws-42.brindle.example:8443", none, nullptr},
      {"ws-42.brindle.example:8443", "http://ws-42.brindle.example:8443", none, "cross-origin request"},
      // The Host rule comes first: a rebound name is refused even for an address typed by the user.
      {"rebind.example:8930", none, "none", "Host rebind.example is not a name of this server"},
      // A browser sends no Fetch Metadata to an address that is not trustworthy: it is believed only
      // for names that reach this machine alone, the listed hosts and the proxy's host.
      {"127.0.0.1:8930", none, none, nullptr, true},
      {"127.9.9.9:8930", "http://127.9.9.9:8930", none, nullptr, true},
      {"dash.localhost:8930", none, none, nullptr, true},
      {"[::1]:8930", none, none, nullptr, true},
      {"devbox.lan:8930", "http://devbox.lan:8930", none, nullptr, true},
      {"ws-42.brindle.example", none, none, nullptr, true},
      {"10.0.0.5:8930", none, none, "browser request without Fetch Metadata to Host 10.0.0.5", true},
      {"0.0.0.0:8930", none, none, "which is not a loopback name", true},
      {"c0ffee:8930", none, none, "which is not a loopback name", true},
      {none, none, none, "to Host none", true},
      // ... unless it carries the token's cookie, which a browser keeps from other sites' requests.
      {"10.0.0.5:8930", "http://10.0.0.5:8930", none, nullptr, true, true},
      {"10.0.0.5:8930", "http://evil.example", none, "cross-origin request from http://evil.example", true, true},
      {"127.0.0.1:8930", "http://127.0.0.1:9999", none,
       "cross-origin request from http://127.0.0.1:9999 to Host 127.0.0.1:8930"},
      {"127.0.0.1:8930", "http://localhost:8930", none, "cross-origin request from http://localhost:8930"},
      {"127.0.0.1:8930", "null", none, "request from an opaque origin (Origin: null)"},
      {"127.0.0.1:8930", "evil", none, "Origin evil is not a web origin"},
      {none, "http://127.0.0.1:8930", none, "without a Host header"},
  };
  const GateConfig config = test_config();
  for (const Case& c : cases) {
    const GateVerdict v = decide_gate(GateRequest{c.host, c.origin, c.site, c.signs, c.token}, config);
    const std::string label = c.host.value_or("-") + " | " + c.origin.value_or("-") + " | " + c.site.value_or("-") +
                              (c.signs ? " | browser" : "") + (c.token ? " | token" : "");
    EXPECT_EQ(v.allowed, c.why == nullptr) << label << ": " << v.why;
    if (c.why) {
      EXPECT_NE(v.why.find(c.why), std::string::npos) << label << ": " << v.why;
    }
  }
  // A workspace proxy URL that names the port in its host name.
  const GateConfig by_port = gate_config("", "", "https://{{port}}-ws.example.com/", "", 8931);
  EXPECT_TRUE(decide_gate({"8931-ws.example.com", "https://8931-ws.example.com", none}, by_port).allowed);
  EXPECT_FALSE(decide_gate({"8931-ws.example.com", "https://8930-ws.example.com", none}, by_port).allowed);
  // A relative proxy URL names no origin and no host.
  EXPECT_TRUE(gate_config("", "", "./proxy/{{port}}/", "", 8930).allowed_origins.empty());
}

TEST(RequestGate, HeadersAreReadWhateverTheirCaseAndBrowserSignsAreSeen) {
  const std::string raw =
      "POST /ui/toast HTTP/1.1\r\nhOsT:  rebind.example:8930 \r\noRiGiN:\thttp://rebind.example:8930\r\n"
      "SEC-FETCH-SITE: cross-site\r\nSec-Fetch-Mode: cors\r\n\r\n";
  StringSource source(raw, 5);
  LineReader reader(source);
  const std::optional<Request> r = read_request(reader);
  ASSERT_TRUE(r);
  const GateRequest g = gate_request(*r, false);
  EXPECT_EQ(g.host, "rebind.example:8930");
  EXPECT_EQ(g.origin, "http://rebind.example:8930");
  EXPECT_EQ(g.sec_fetch_site, "cross-site");
  EXPECT_FALSE(g.browser_signs);
  const auto signs = [](const char* name, const char* value) {
    Headers h;
    h.add(name, value);
    return has_browser_signs(h);
  };
  EXPECT_TRUE(signs("sec-fetch-dest", "image"));
  EXPECT_TRUE(signs("upgrade-insecure-requests", "1"));
  EXPECT_TRUE(signs("user-agent", "Mozilla/5.0 (X11; Linux x86_64)"));
  EXPECT_TRUE(signs("accept", "TEXT/HTML,application/xhtml+xml"));
  EXPECT_TRUE(signs("accept", "image/avif,image/webp,*/*"));
  EXPECT_FALSE(signs("user-agent", "curl/8.5.0"));
  EXPECT_FALSE(signs("accept", "*/*"));
  EXPECT_FALSE(signs("accept", "text/event-stream"));
}

class GatedRoutes : public ::testing::Test {
 protected:
  using Fields = std::vector<std::pair<std::string, std::string>>;
  std::string send(const std::string& method, const std::string& target, const Fields& fields,
                   PeerAddress peer = {"127.0.0.1", true}) {
    Request request;
    request.method = method;
    split_target(target, request);
    for (const auto& [name, value] : fields) request.headers.add(name, value);
    request.peer = std::move(peer);
    StringStream stream;
    answer_request(*state_, request, stream);
    return stream.data;
  }
  static Fields from(const std::string& origin) {
    return {{"host", "127.0.0.1:8930"}, {"origin", origin}, {"sec-fetch-site", "cross-site"}};
  }

  FakeClock clock_;
  FakeRunner runner_;
  ScriptedBridge bridge_;
  RecordingSink sink_;
  std::shared_ptr<ServerState> state_ =
      std::make_shared<ServerState>("t7", "Studio", std::nullopt, clock_, runner_, bridge_, &sink_);
};

TEST_F(GatedRoutes, RoutesThatSpendOrRevealRunNothingForAnotherSite) {
  const std::pair<const char*, const char*> gated[] = {
      {"GET", "/events"},
      {"GET", "/api/status?target=Studio"},
      {"GET", "/state"},
      {"GET", "/api/targets"},
      {"GET", "/api/health?target=New"},
      {"GET", "/console"},
      {"GET", "/settings"},
      {"GET", "/updater/status"},
      {"GET", "/ai-threads/run-prompt/status?job=[1-9]"},
      {"GET", "/api/tts?text=hi"},
      {"POST", "/api/action"},
      {"POST", "/api/surface"},
      {"POST", "/ai-threads/run-prompt"},
      {"POST", "/settings"},
      {"POST", "/api/auto-green"},
      {"POST", "/ui/toast"},
      {"POST", "/ui/click"},
  };
  const Clock::Instant started = state_->last_activity();
  clock_.advance(std::chrono::seconds(1));
  for (const auto& [method, target] : gated) {
    const std::string reply = send(method, target, from("https://evil.example"));
    EXPECT_EQ(reply.rfind("HTTP/1.1 403 Forbidden\r\nContent-Type: application/json\r\n", 0), 0u) << target;
    EXPECT_EQ(reply.find("Access-Control-Allow-Origin"), std::string::npos) << target;
  }
  EXPECT_TRUE(bridge_.calls().empty());
  EXPECT_TRUE(runner_.calls.empty());
  // A hostile page polling the server must not keep it from retiring.
  EXPECT_EQ(state_->last_activity(), started);

  const std::string body =
      R"({"_hint":"Requests from other web sites are refused. Use the dashboard page itself, or curl and loomdeck ui from the container; a trusted origin can be listed in LOOMDECK_ALLOWED_ORIGINS.","error":"refused: cross-site request from https://evil.example","ok":false,"why":"cross-site request from https://evil.example"})";
  EXPECT_EQ(send("POST", "/ui/click", from("https://evil.example")),
            "HTTP/1.1 403 Forbidden\r\nContent-Type: application/json\r\nContent-Length: " +
                std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
  const std::vector<std::string> lines = state_->log.lines();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), "refused POST /ui/click: cross-site request from https://evil.example");
  for (const std::string& line : lines) EXPECT_EQ(line.rfind("refused ", 0), 0u) << line;

  // Pages, scripts, icons, clips, identity, liveness and the 404 stay public.
  for (const char* target : {"/", "/quick-actions", "/newbie-panel.js", "/favicon.svg", "/favicon.ico", "/api/ping",
                             "/health", "/demo/audio/missing.mp3", "/no-such-route"}) {
    EXPECT_EQ(send("GET", target, from("https://evil.example")).find("403 Forbidden"), std::string::npos) << target;
  }
  EXPECT_EQ(send("PUT", "/ui/toast", from("https://evil.example")).rfind("HTTP/1.1 404 Not Found", 0), 0u);
}

TEST_F(GatedRoutes, TheUserHearsOfBlockedRequestsAtMostOncePerOriginPerMinuteAndOncePer10s) {
  const auto blocked = [&](const std::string& origin, std::chrono::seconds after) {
    clock_.advance(after);
    send("POST", "/api/action", from(origin));
  };
  blocked("https://a.example", std::chrono::seconds(0));
  blocked("https://b.example", std::chrono::seconds(1));           // within 10 s of the last toast
  blocked("https://b.example", std::chrono::seconds(10));          // 11 s: b is named
  blocked("https://a.example", std::chrono::seconds(11));          // 22 s: a was named 22 s ago
  blocked("https://a.example", std::chrono::seconds(39));          // 61 s: a again
  send("POST", "/api/action", {{"host", "rebind.example:8930"}});  // same instant
  clock_.advance(std::chrono::seconds(10));
  send("GET", "/console", {{"host", "rebind.example:8930"}});
  const std::string tail = " - another web page tried to drive this dashboard";
  EXPECT_EQ(sink_.toasts(), (std::vector<std::string>{"Blocked a request from https://a.example to /api/action" + tail,
                                                      "Blocked a request from https://b.example to /api/action" + tail,
                                                      "Blocked a request from https://a.example to /api/action" + tail,
                                                      "Blocked a request from rebind.example to /console" + tail}));
  for (const auto& [name, value] : sink_.events()) EXPECT_EQ(value.at("kind"), "err");
}

TEST_F(GatedRoutes, AmbiguousOrUnframedRequestsAreAnswered400AndRunNothing) {
  const Clock::Instant started = state_->last_activity();
  clock_.advance(std::chrono::seconds(1));
  const Fields repeated[] = {
      {{"host", "127.0.0.1:8930"}, {"host", "rebind.example"}},
      {{"origin", "http://127.0.0.1:8930"}, {"origin", "https://evil.example"}},
      {{"sec-fetch-site", "same-origin"}, {"sec-fetch-site", "cross-site"}},
  };
  for (const Fields& fields : repeated) {
    const std::string reply = send("POST", "/api/auto-green", fields);
    EXPECT_EQ(reply.rfind("HTTP/1.1 400 Bad Request\r\nContent-Type: application/json\r\n", 0), 0u) << reply;
    EXPECT_NE(reply.find(R"("ok":false,"why":"the request has more than one )"), std::string::npos) << reply;
  }
  Request request;
  request.method = "POST";
  split_target("/ui/toast", request);
  request.peer = {"127.0.0.1", true};
  request.malformed = "Transfer-Encoding is not accepted here: send the body with a Content-Length";
  StringStream stream;
  answer_request(*state_, request, stream);
  EXPECT_EQ(stream.data.rfind("HTTP/1.1 400 Bad Request", 0), 0u);
  EXPECT_TRUE(bridge_.calls().empty());
  EXPECT_TRUE(sink_.events().empty());
  // Neither they, nor a 404, nor a preflight show anybody at work.
  send("GET", "/no-such-route", {});
  send("OPTIONS", "/api/action", {});
  EXPECT_EQ(state_->last_activity(), started);
}

TEST_F(GatedRoutes, NetworkPeersNeedTheTokenOnEveryRouteButPing) {
  const std::string tok(64, 'a');
  state_->token = {tok, "/home/u/.ovra/loomdeck/token", ""};
  const PeerAddress far{"10.213.7.1", false};
  const std::string body =
      R"({"_hint":")" + std::string(kTokenHint) +
      R"(","error":"refused: 10.213.7.1 is not on this machine and presented no token","ok":false,"why":"10.213.7.1 is not on this machine and presented no token"})";
  EXPECT_EQ(send("GET", "/api/status?target=Studio", {{"host", "10.213.7.1:8930"}}, far),
            "HTTP/1.1 401 Unauthorized\r\nContent-Type: application/json\r\nContent-Length: " +
                std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
  for (const char* target : {"/", "/favicon.svg", "/no-such-route", "/health"}) {
    EXPECT_EQ(send("GET", target, {}, far).rfind("HTTP/1.1 401", 0), 0u) << target;
  }
  EXPECT_EQ(send("OPTIONS", "/api/action", {}, far).rfind("HTTP/1.1 401", 0), 0u);
  EXPECT_NE(
      send("GET", "/", {{"authorization", "Bearer " + std::string(64, 'b')}}, far).find("is not this dashboard's"),
      std::string::npos);
  EXPECT_TRUE(bridge_.calls().empty());
  EXPECT_EQ(state_->log.lines().back(),
            "refused GET / from 10.213.7.1: the token presented by 10.213.7.1 is not this dashboard's");
  // One toast names the peer, however often it tries.
  EXPECT_EQ(sink_.toasts(), (std::vector<std::string>{"Refused a request from 10.213.7.1 to /api/status - a machine on "
                                                      "the network tried to use this dashboard without its token"}));

  EXPECT_EQ(send("GET", "/api/ping", {}, far).rfind("HTTP/1.1 200 OK", 0), 0u);
  EXPECT_EQ(send("GET", "/console", {{"authorization", "Bearer " + tok}}, far).rfind("HTTP/1.1 200 OK", 0), 0u);
  EXPECT_EQ(send("GET", "/console", {{"cookie", "a=1; loomdeck_token=" + tok}}, far).rfind("HTTP/1.1 200 OK", 0), 0u);
  // Opening a page with the token keeps it in a cookie and takes it out of the address.
  EXPECT_EQ(send("GET", "/?target=Bench&token=" + tok, {}, far),
            "HTTP/1.1 303 See Other\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Length: 0\r\n"
            "Location: ./?target=Bench\r\nCache-Control: no-store\r\nSet-Cookie: loomdeck_token=" +
                tok + "; HttpOnly; SameSite=Strict; Path=/\r\nConnection: close\r\n\r\n");
  EXPECT_NE(send("GET", "/quick-actions?token=" + tok, {}, far).find("\r\nLocation: quick-actions\r\n"),
            std::string::npos);
  EXPECT_EQ(send("GET", "/api/status?token=" + tok, {}, far).rfind("HTTP/1.1 401", 0), 0u);
  // This machine's own tools need nothing; without a usable token file nobody else gets in.
  EXPECT_EQ(send("GET", "/console", {}).rfind("HTTP/1.1 200 OK", 0), 0u);
  state_->token = {"", "/t", "the token file /t is a symbolic link"};
  EXPECT_NE(send("GET", "/console", {{"authorization", "Bearer "}}, far)
                .find("network peers cannot be let in: the token file /t is a symbolic link"),
            std::string::npos);
}

TEST_F(GatedRoutes, APageOpenedFromAnotherSiteIsMarkedAndTheUserHearsOfIt) {
  state_->page_headers = page_security_headers(state_->gate, "vscode-webview:");
  const std::string own = send("GET", "/", {{"sec-fetch-site", "none"}});
  EXPECT_NE(own.find(R"(<meta name="loomdeck-entrance" content="user">)"), std::string::npos);
  EXPECT_NE(own.find("\r\nContent-Security-Policy: frame-ancestors 'self' vscode-webview:\r\n"
                     "Cross-Origin-Opener-Policy: same-origin\r\n"),
            std::string::npos);
  for (const char* path : {"/", "/quick-actions"}) {
    for (const char* site : {"cross-site", "same-site"}) {
      const std::string page = send("GET", path, {{"sec-fetch-site", site}});
      EXPECT_NE(page.find(R"(<meta name="loomdeck-entrance" content="foreign">)"), std::string::npos) << path << site;
      EXPECT_NE(page.find("Content-Security-Policy: frame-ancestors"), std::string::npos);
    }
  }
  // The dock's webview frames the page from the editor's scheme, with the key the server gave it.
  state_->dock_key = "d0c4";
  EXPECT_NE(send("GET", "/?entrance=d0c4", {{"sec-fetch-site", "cross-site"}}).find(R"(content="user">)"),
            std::string::npos);
  EXPECT_NE(send("GET", "/?entrance=d0c5", {{"sec-fetch-site", "cross-site"}}).find(R"(content="foreign">)"),
            std::string::npos);
  EXPECT_EQ(with_dock_key("https://ws.example/p/1/?a=1#top", "d0c4"), "https://ws.example/p/1/?a=1&entrance=d0c4#top");
  clock_.advance(std::chrono::seconds(11));
  send("GET", "/", {{"sec-fetch-site", "cross-site"}, {"referer", "https://evil.example/lure?x=1"}});
  EXPECT_TRUE(bridge_.calls().empty());
  EXPECT_EQ(sink_.toasts(), (std::vector<std::string>{"The dashboard was opened from another site",
                                                      "The dashboard was opened from https://evil.example"}));
}

TEST(PagePolicy, FrameAncestorsNameTheProxyTheListedOriginsAndOnlyPlainSources) {
  const GateConfig config = test_config();
  EXPECT_EQ(page_security_headers(
                config, "vscode-webview:  https://ide.example;script-src 'unsafe-inline'\r\nX:y\thttps://ide.example"),
            "Content-Security-Policy: frame-ancestors 'self' https://trusted.example http://tools.local:3000 "
            "https://ws-42.brindle.example vscode-webview: https://ide.example\r\nCross-Origin-Opener-Policy: "
            "same-origin\r\n");
}

}  // namespace
}  // namespace loomdeck
