#include "server/request_gate.h"

#include <gtest/gtest.h>

#include "fakes.h"
#include "http/request.h"
#include "http/stream.h"
#include "server/answer.h"
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
    const char* why;  // nullptr: allowed
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
      {"127.0.0.1:8930", "http://ws-42.brindle.example", none, "cross-origin request from http://ws-42.brindle.example"},
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
      {"localhost:443", "https://localhost", none, nullptr},
      {"localhost:80", "https://localhost", none, "cross-origin request from https://localhost to Host localhost:80"},
      {"127.0.0.1:8930", "http://127.0.0.1:9999", none, "cross-origin request from http://127.0.0.1:9999 to Host 127.0.0.1:8930"},
      {"127.0.0.1:8930", "http://localhost:8930", none, "cross-origin request from http://localhost:8930"},
      {"127.0.0.1:8930", "null", none, "request from an opaque origin (Origin: null)"},
      {"127.0.0.1:8930", "evil", none, "Origin evil is not a web origin"},
      {none, "http://127.0.0.1:8930", none, "without a Host header"},
  };
  const GateConfig config = test_config();
  for (const Case& c : cases) {
    const GateVerdict v = decide_gate(GateHeaders{c.host, c.origin, c.site}, config);
    const std::string label = c.host.value_or("-") + " | " + c.origin.value_or("-") + " | " + c.site.value_or("-");
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

TEST(RequestGate, HeadersAreReadWhateverTheirCase) {
  const std::string raw =
      "POST /ui/toast HTTP/1.1\r\nhOsT:  rebind.example:8930 \r\noRiGiN:\thttp://rebind.example:8930\r\n"
      "SEC-FETCH-SITE: cross-site\r\nSec-Fetch-Mode: cors\r\n\r\n";
  StringSource source(raw, 5);
  LineReader reader(source);
  const std::optional<Request> r = read_request(reader);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->headers.host, "rebind.example:8930");
  EXPECT_EQ(r->headers.origin, "http://rebind.example:8930");
  EXPECT_EQ(r->headers.sec_fetch_site, "cross-site");
}

class GatedRoutes : public ::testing::Test {
 protected:
  std::string send(const std::string& method, const std::string& target, GateHeaders headers) {
    Request request;
    request.method = method;
    split_target(target, request);
    request.headers = std::move(headers);
    StringStream stream;
    answer_request(*state_, request, stream);
    return stream.data;
  }
  static GateHeaders from(const std::string& origin) { return {"127.0.0.1:8930", origin, "cross-site"}; }

  FakeClock clock_;
  FakeRunner runner_;
  ScriptedBridge bridge_;
  RecordingSink sink_;
  std::shared_ptr<ServerState> state_ = std::make_shared<ServerState>("t7", "Studio", clock_, runner_, bridge_, &sink_);
};

TEST_F(GatedRoutes, RoutesThatSpendOrRevealRunNothingForAnotherSite) {
  const std::pair<const char*, const char*> gated[] = {
      {"GET", "/events"}, {"GET", "/api/status?target=Studio"}, {"GET", "/state"}, {"GET", "/api/targets"},
      {"GET", "/api/health?target=New"}, {"GET", "/console"}, {"GET", "/settings"}, {"GET", "/updater/status"},
      {"GET", "/ai-threads/run-prompt/status?job=[1-9]"}, {"GET", "/api/tts?text=hi"}, {"POST", "/api/action"},
      {"POST", "/api/surface"}, {"POST", "/ai-threads/run-prompt"}, {"POST", "/settings"}, {"POST", "/api/auto-green"},
      {"POST", "/ui/toast"}, {"POST", "/ui/click"},
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
  blocked("https://b.example", std::chrono::seconds(1));    // within 10 s of the last toast
  blocked("https://b.example", std::chrono::seconds(10));   // 11 s: b is named
  blocked("https://a.example", std::chrono::seconds(11));   // 22 s: a was named 22 s ago
  blocked("https://a.example", std::chrono::seconds(39));   // 61 s: a again
  send("POST", "/api/action", GateHeaders{"rebind.example:8930", std::nullopt, std::nullopt});  // same instant
  clock_.advance(std::chrono::seconds(10));
  send("GET", "/console", GateHeaders{"rebind.example:8930", std::nullopt, std::nullopt});
  const std::string tail = " - another web page tried to drive this dashboard";
  EXPECT_EQ(sink_.toasts(), (std::vector<std::string>{"Blocked a request from https://a.example to /api/action" + tail,
                                                       "Blocked a request from https://b.example to /api/action" + tail,
                                                       "Blocked a request from https://a.example to /api/action" + tail,
                                                       "Blocked a request from rebind.example to /console" + tail}));
  for (const auto& [name, value] : sink_.events()) EXPECT_EQ(value.at("kind"), "err");
}

}  // namespace
}  // namespace loomdeck
