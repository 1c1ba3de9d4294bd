#include "http/request.h"

#include <gtest/gtest.h>

#include <tuple>

#include "core/text.h"

namespace loomdeck {
namespace {

std::optional<Request> parse(const std::string& raw, std::size_t chunk = 4096) {
  StringSource source(raw, chunk);
  LineReader reader(source);
  return read_request(reader);
}

TEST(RequestLine, MethodIsUpperCasedAndTargetSplit) {
  auto r = parse("get /api/status?target=My%20Box&x=1 HTTP/1.1\r\n\r\n");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->method, "GET");
  EXPECT_EQ(r->path, "/api/status");
  EXPECT_EQ(r->query, "target=My%20Box&x=1");
  EXPECT_EQ(r->body, json::object());
}

TEST(RequestLine, LoneMethodMeansRootAndVersionIsIgnored) {
  auto r = parse("GET\r\n\r\n");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->path, "/");
  EXPECT_EQ(parse("GET   /x   HTTP/1.1   extra\r\n\r\n")->path, "/x");
}

TEST(RequestLine, EmptyOrBlankLineClosesWithoutReply) {
  EXPECT_FALSE(parse(""));
  EXPECT_FALSE(parse("\r\n"));
  EXPECT_FALSE(parse("   \t \r\n"));
}

TEST(RequestLine, OverlongLinesAreRefused) {
  EXPECT_FALSE(parse("GET /" + std::string(9000, 'a') + " HTTP/1.1\r\n\r\n"));
  EXPECT_FALSE(parse("GET / HTTP/1.1\r\nX-Long: " + std::string(9000, 'b') + "\r\n\r\n"));
  EXPECT_TRUE(parse("GET /" + std::string(8000, 'a') + " HTTP/1.1\r\n\r\n", 7));
}

TEST(Body, OnlyOnePlainDecimalContentLengthFramesABody) {
  auto r = parse("POST /ui/toast HTTP/1.1\r\nContent-Length: 12\r\ncontent-length: 012\r\n\r\n{\"a\":123456}");
  ASSERT_TRUE(r);
  EXPECT_FALSE(r->malformed);
  EXPECT_EQ(r->body, json({{"a", 123456}}));
  // Anything else leaves the body's end unknown: the request is answered 400 and nothing runs.
  const std::pair<const char*, const char*> refused[] = {
      {"Content-Length: +12", "not one plain decimal number"},
      {"content-length: twelve", "not one plain decimal number"},
      {"Content-Length: 1 2", "not one plain decimal number"},
      {"Content-Length: 5, 5", "not one plain decimal number"},
      {"Content-Length:", "not one plain decimal number"},
      {"Content-Length: 99999999999999999999999", "not one plain decimal number"},
      {"Content-Length: 1\r\nCONTENT-LENGTH: 7", "Content-Lengths that differ"},
      {"Transfer-Encoding: chunked", "Transfer-Encoding"},
      {"Content-Length: 7\r\nTransfer-Encoding: identity", "Transfer-Encoding"},
  };
  for (const auto& [header, why] : refused) {
    r = parse(std::string("POST /api/auto-green HTTP/1.1\r\n") + header + "\r\n\r\n{\"a\":1}");
    ASSERT_TRUE(r) << header;
    ASSERT_TRUE(r->malformed) << header;
    EXPECT_NE(r->malformed->find(why), std::string::npos) << header << ": " << *r->malformed;
    EXPECT_EQ(r->body, json::object()) << header;
  }
}

TEST(Body, NotJsonOrOverCapIsAnEmptyObjectAndAShortBodyNoRequestAtAll) {
  EXPECT_EQ(parse("POST / HTTP/1.1\r\nContent-Length: 5\r\n\r\nhello")->body, json::object());
  // The peer stopped before its body was complete: nothing may act on half of it.
  EXPECT_FALSE(parse("POST / HTTP/1.1\r\nContent-Length: 50\r\n\r\n{\"a\":1}"));
  const std::string big = "{\"k\":\"" + std::string(2 << 20, 'x') + "\"}";
  auto r = parse("POST / HTTP/1.1\r\nContent-Length: " + std::to_string(big.size()) + "\r\n\r\n" + big);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->body, json::object());
  EXPECT_EQ(r->announced_length, big.size());
}

TEST(Body, InvalidUtf8InsideJsonStringsIsRejectedAsNotJson) {
  EXPECT_EQ(parse("POST / HTTP/1.1\r\nContent-Length: 13\r\n\r\n{\"m\":\"a\xFF\xFE\"}  ")->body, json::object());
}

TEST(Headers, AHeadCutShortByTheClientClosingIsNoRequest) {
  EXPECT_FALSE(parse("POST /api/auto-green HTTP/1.1\r\nHost: 127.0.0.1\r\n"));
  EXPECT_FALSE(parse("GET /health HTTP/1.1\r\nHost: x"));
  EXPECT_FALSE(parse("POST /ui/toast HTTP/1.1"));
  EXPECT_FALSE(parse("POST /ui/toast HTTP/1.1\r\n"));
  // More header fields than any client sends: closed without a reply too.
  std::string many = "GET / HTTP/1.1\r\n";
  for (std::size_t i = 0; i <= kMaxHeaderFields; ++i) many += "X-" + std::to_string(i) + ": 1\r\n";
  EXPECT_FALSE(parse(many + "\r\n"));
  auto r = parse("GET /health HTTP/1.1\r\nHost: x\r\nX-Two: a\r\nx-two: b\r\n\r\n");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->headers.get("host"), "x");
  EXPECT_EQ(r->headers.all("x-two"), (std::vector<std::string>{"a", "b"}));
}

TEST(ParseUnsigned, Forms) {
  EXPECT_EQ(parse_unsigned("+12"), 12u);
  EXPECT_EQ(parse_unsigned("0"), 0u);
  EXPECT_FALSE(parse_unsigned("+"));
  EXPECT_FALSE(parse_unsigned("-1"));
  EXPECT_FALSE(parse_unsigned(""));
  EXPECT_FALSE(parse_unsigned("1 2"));
  EXPECT_FALSE(parse_unsigned("18446744073709551616"));
}

// Ports and logbook limits take at most five plain digits, Content-Length 18; leading zeros count.
TEST(ParseDigits, PlainDigitsWithinTheirBound) {
  const std::tuple<std::string_view, std::size_t, std::optional<unsigned long long>> cases[] = {
      {"65536", 5, 65536},
      {"00080", 5, 80},
      {"000080", 5, std::nullopt},
      {"+80", 5, std::nullopt},
      {"", 5, std::nullopt},
      {"8 ", 5, std::nullopt},
      {"099999999999999999", 18, 99999999999999999},
  };
  for (const auto& [text, bound, value] : cases) EXPECT_EQ(parse_digits(text, bound), value) << text;
  // A timestamp's fields are counted in code points; a digit of another script is no digit.
  EXPECT_EQ(parse_digits(std::u32string_view(U"2026"), 4), 2026u);
  EXPECT_FALSE(parse_digits(std::u32string_view(U"20\uFF126"), 4));
}

}  // namespace
}  // namespace loomdeck
