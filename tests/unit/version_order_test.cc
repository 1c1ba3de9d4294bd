#include "main/version_order.h"

#include <gtest/gtest.h>

namespace loomdeck {
namespace {

TEST(VersionOrder, NumericPieceByPiece) {
  EXPECT_LT(compare_versions("1.10.19", "1.10.20"), 0);
  EXPECT_GT(compare_versions("1.10.20", "1.9.99"), 0);
  EXPECT_GT(compare_versions("1.10.20", "1.10.3"), 0);
  EXPECT_EQ(compare_versions("1.10.20", "1.10.20"), 0);
  EXPECT_LT(compare_versions("1.10.20", "2"), 0);
}

TEST(VersionOrder, TrimsLeadingVsAndMissingPiecesCountAsZero) {
  EXPECT_EQ(compare_versions("1.10.20", " vv1.10.20.0 \n"), 0);
  EXPECT_EQ(compare_versions("1.10", "1.10.0.0"), 0);
  EXPECT_LT(compare_versions("1.10", "1.10.0.1"), 0);
  EXPECT_EQ(compare_versions("", "0.0"), 0);
}

TEST(VersionOrder, NonNumericPiecesReadTheirLeadingDigits) {
  EXPECT_EQ(compare_versions("1.10.20-rc1", "1.10.20"), 0);
  EXPECT_GT(compare_versions("1.11.0-beta", "1.10.20"), 0);
  EXPECT_LT(compare_versions("banana", "1.10.20"), 0);
  EXPECT_LT(compare_versions("1.x.99", "1.10.20"), 0);
  EXPECT_EQ(compare_versions("1..20", "1.0.20"), 0);
  EXPECT_GT(compare_versions("1.99999999999999999999999", "1.18446744073709551614"), 0);
  EXPECT_EQ(compare_versions("1.99999999999999999999999", "1.18446744073709551615"), 0);
}

}  // namespace
}  // namespace loomdeck
