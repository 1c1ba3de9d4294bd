#include "bridge/targets.h"

#include <gtest/gtest.h>

#include "http/request.h"

namespace loomdeck {
namespace {

// The box the request's query names.
std::optional<std::string> named_box_of(std::string_view target) {
  Request r;
  split_target(target, r);
  return named_box(r.query);
}

TEST(NamedBox, OnlyPercentTwentyIsDecodedAndFirstMatchWins) {
  EXPECT_EQ(named_box_of("/api/status?target=My%20Box&x=1"), "My Box");
  EXPECT_EQ(named_box_of("/api/status?target=a%2Fb"), "a%2Fb");
  EXPECT_EQ(named_box_of("/x?foo=1&target=one&target=two"), "one");
  EXPECT_FALSE(named_box_of("/x?mytarget=1"));
  Request r;
  split_target("/x?a=1?target=hidden", r);
  EXPECT_EQ(r.query, "a=1");
  EXPECT_FALSE(named_box(r.query));
  EXPECT_EQ(named_box_of("/x?target="), "");
}

TEST(NamedBox, InvalidUtf8BecomesReplacementCharacters) {
  const std::optional<std::string> box = named_box_of("/api/status?target=box\xFF");
  EXPECT_EQ(box, "box\xEF\xBF\xBD");
  EXPECT_NO_THROW(json({{"t", *box}}).dump());
}

}  // namespace
}  // namespace loomdeck
