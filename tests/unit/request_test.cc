#include "http/request.h"

#include <gtest/gtest.h>

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
  EXPECT_EQ(r->target_param, "My Box");
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

TEST(TargetParam, OnlyPercentTwentyIsDecodedAndFirstMatchWins) {
  Request r;
  split_target("/api/status?target=a%2Fb", r);
  EXPECT_EQ(r.target_param, "a%2Fb");
  split_target("/x?foo=1&target=one&target=two", r);
  EXPECT_EQ(r.target_param, "one");
  split_target("/x?mytarget=1", r);
  EXPECT_FALSE(r.target_param);
  split_target("/x?a=1?target=hidden", r);
  EXPECT_EQ(r.query, "a=1");
  EXPECT_FALSE(r.target_param);
  split_target("/x?target=", r);
  EXPECT_EQ(r.target_param, "");
}

TEST(TargetParam, InvalidUtf8BecomesReplacementCharacters) {
  Request r;
  split_target("/api/status?target=box\xFF", r);
  EXPECT_EQ(r.target_param, "box\xEF\xBF\xBD");
  EXPECT_NO_THROW(json({{"t", *r.target_param}}).dump());
}

TEST(Body, ContentLengthForms) {
  auto r = parse("POST /ui/toast HTTP/1.1\r\nContent-Length: +12\r\n\r\n{\"a\":123456}");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->body, json({{"a", 123456}}));
  r = parse("POST /ui/toast HTTP/1.1\r\ncontent-length: twelve\r\n\r\n{\"a\":1}");
  EXPECT_EQ(r->body, json::object());
  r = parse("POST / HTTP/1.1\r\nContent-Length: 1\r\nCONTENT-LENGTH: 7\r\n\r\n{\"a\":1}");
  EXPECT_EQ(r->body, json({{"a", 1}}));
  r = parse("POST / HTTP/1.1\r\nContent-Length: 99999999999999999999999\r\n\r\n{\"a\":1}");
  EXPECT_EQ(r->body, json::object());
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

TEST(Headers, EndOfInputEndsTheHeaders) {
  auto r = parse("GET /health HTTP/1.1\r\nHost: x");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->path, "/health");
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

}  // namespace
}  // namespace loomdeck
