#include "core/utf8.h"

#include <gtest/gtest.h>

#include "core/json_text.h"

namespace loomdeck {
namespace {

TEST(LenientUtf8, ValidTextIsUnchanged) {
  EXPECT_EQ(lenient_utf8("plain"), "plain");
  EXPECT_EQ(lenient_utf8("caf\xC3\xA9 \xE2\x80\x99 \xF0\x9F\x98\x80"), "caf\xC3\xA9 \xE2\x80\x99 \xF0\x9F\x98\x80");
}

TEST(LenientUtf8, InvalidSequencesBecomeOneReplacementPerMaximalSubpart) {
  const std::string fffd = "\xEF\xBF\xBD";
  EXPECT_EQ(lenient_utf8("a\xFF"
                         "b"),
            "a" + fffd + "b");
  EXPECT_EQ(lenient_utf8("\xC3"), fffd);  // truncated at the end
  EXPECT_EQ(lenient_utf8("\xE2\x80"
                         "x"),
            fffd + "x");                                                   // truncated three-byte form
  EXPECT_EQ(lenient_utf8("\xC0\xAF"), fffd + fffd);                        // overlong
  EXPECT_EQ(lenient_utf8("\xED\xA0\x80"), fffd + fffd + fffd);             // surrogate
  EXPECT_EQ(lenient_utf8("\xF4\x90\x80\x80"), fffd + fffd + fffd + fffd);  // past U+10FFFF
}

TEST(Utf8Prefix, CountsCharactersNotBytes) {
  EXPECT_EQ(utf8_prefix("\xC3\xA9\xC3\xA9\xC3\xA9", 2), "\xC3\xA9\xC3\xA9");
  EXPECT_EQ(utf8_prefix("abc", 10), "abc");
}

TEST(DumpCompact, NeverThrowsOnInvalidUtf8) {
  json j = {{"k", std::string("bad\xFF")}};
  EXPECT_EQ(dump_compact(j), "{\"k\":\"bad\xEF\xBF\xBD\"}");
}

}  // namespace
}  // namespace loomdeck
