#include "main/dashboard_url.h"

#include <gtest/gtest.h>

namespace loomdeck {
namespace {

TEST(DashboardUrl, ProxyTemplateHasEveryPlaceholderReplaced) {
  EXPECT_EQ(dashboard_url_for(8931, false, "/proxy/{{port}}/?p={{port}}"), "/proxy/8931/?p=8931");
  EXPECT_EQ(dashboard_url_for(8930, false, "https://ws.example/{{port}}{{port}}"), "https://ws.example/89308930");
}

TEST(DashboardUrl, LoopbackWithoutPlaceholderWithoutProxyOrOnWsl) {
  EXPECT_EQ(dashboard_url_for(8932, false, "/proxy/port/"), "http://127.0.0.1:8932/");
  EXPECT_EQ(dashboard_url_for(8932, false, "{{ port }}"), "http://127.0.0.1:8932/");
  EXPECT_EQ(dashboard_url_for(8932, false, std::nullopt), "http://127.0.0.1:8932/");
  EXPECT_EQ(dashboard_url_for(8932, true, "/proxy/{{port}}/"), "http://127.0.0.1:8932/");
}

TEST(DashboardUrl, OpenUsesTheProxyRuleWithoutTheWslTest) {
  EXPECT_EQ(proxied_or_local_url(8935, "/p/{{port}}/"), "/p/8935/");
  EXPECT_EQ(proxied_or_local_url(8935, ""), "http://127.0.0.1:8935/");
}

TEST(DashboardUrl, WslIsRecognisedInAnyCase) {
  EXPECT_TRUE(is_wsl_release("5.15.90.1-microsoft-standard-WSL2\n"));
  EXPECT_TRUE(is_wsl_release("4.4.0-19041-Microsoft"));
  EXPECT_TRUE(is_wsl_release("6.1.0-wsl"));
  EXPECT_FALSE(is_wsl_release("6.1.0-18-amd64"));
  EXPECT_FALSE(is_wsl_release(""));
}

}  // namespace
}  // namespace loomdeck
