#include "http/negotiation.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <utility>

namespace loomdeck {
namespace {

Headers with(std::initializer_list<std::pair<std::string, std::string>> fields) {
  Headers h;
  for (const auto& [name, value] : fields) h.add(name, value);
  return h;
}

TEST(AcceptEncoding, GzipNeedsAWeightAboveZero) {
  EXPECT_FALSE(accepts_gzip(with({})));
  EXPECT_TRUE(accepts_gzip(with({{"accept-encoding", "gzip, deflate, br"}})));
  EXPECT_TRUE(accepts_gzip(with({{"accept-encoding", "br;q=1.0, GZip;Q=0.001"}})));
  EXPECT_FALSE(accepts_gzip(with({{"accept-encoding", "gzip;q=0"}})));
  EXPECT_FALSE(accepts_gzip(with({{"accept-encoding", "gzip;q=0.000, *"}})));
  EXPECT_FALSE(accepts_gzip(with({{"accept-encoding", "identity, deflate"}})));
  EXPECT_TRUE(accepts_gzip(with({{"accept-encoding", "*"}})));
  EXPECT_FALSE(accepts_gzip(with({{"accept-encoding", "*;q=0"}})));
  // Split over two fields, as a list header may be.
  EXPECT_TRUE(accepts_gzip(with({{"accept-encoding", "br"}, {"accept-encoding", "gzip"}})));
  // A q-value that is not one counts as refusal, never as a crash or a guess.
  for (const char* bad : {"gzip;q=", "gzip;q=2", "gzip;q=1.5", "gzip;q=0.12345", "gzip;q=-1", "gzip;q=0.x", "gzip;q"}) {
    EXPECT_EQ(accepts_gzip(with({{"accept-encoding", bad}})), std::string(bad) == "gzip;q") << bad;
  }
}

TEST(Accept, HtmlOnlyWhenNamedAndNotOutweighedByJson) {
  EXPECT_TRUE(asks_for_html(with({{"accept", "text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8"}})));
  EXPECT_TRUE(asks_for_html(with({{"accept", "TEXT/HTML"}})));
  EXPECT_FALSE(asks_for_html(with({})));
  EXPECT_FALSE(asks_for_html(with({{"accept", "*/*"}})));
  EXPECT_FALSE(asks_for_html(with({{"accept", "text/*"}})));
  EXPECT_FALSE(asks_for_html(with({{"accept", "application/json"}})));
  EXPECT_FALSE(asks_for_html(with({{"accept", "text/html;q=0"}})));
  EXPECT_FALSE(asks_for_html(with({{"accept", "application/json, text/html;q=0.9"}})));
  EXPECT_TRUE(asks_for_html(with({{"accept", "application/json;q=0.5, text/html;level=1"}})));
}

TEST(IfNoneMatch, ComparesWeaklyOverTheList) {
  EXPECT_TRUE(if_none_match_hits("\"abc\"", "\"abc\""));
  EXPECT_TRUE(if_none_match_hits("W/\"abc\"", "\"abc\""));
  EXPECT_TRUE(if_none_match_hits("\"x\" , W/\"abc\"", "\"abc\""));
  EXPECT_TRUE(if_none_match_hits("*", "\"abc\""));
  EXPECT_FALSE(if_none_match_hits("\"abcd\"", "\"abc\""));
  EXPECT_FALSE(if_none_match_hits("abc", "\"abc\""));
  EXPECT_FALSE(if_none_match_hits("", "\"abc\""));
  EXPECT_FALSE(if_none_match_hits(",,", "\"abc\""));
}

}  // namespace
}  // namespace loomdeck
