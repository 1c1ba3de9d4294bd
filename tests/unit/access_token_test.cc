#include "server/access_token.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace loomdeck {
namespace {

namespace fs = std::filesystem;

class TokenFile : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("loomdeck-token-" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string path(const char* name) const { return (dir_ / name).string(); }
  fs::path dir_;
};

TEST_F(TokenFile, MadeOncePrivateAndKeptAcrossRestarts) {
  const AccessToken first = load_or_create_token(path("token"));
  ASSERT_EQ(first.problem, "");
  EXPECT_EQ(first.value.size(), 64u);
  struct stat st {};
  ASSERT_EQ(::stat(path("token").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(load_or_create_token(path("token")).value, first.value);
  EXPECT_NE(load_or_create_token(path("other")).value, first.value);
}

TEST_F(TokenFile, AFileThatIsNotPrivateOrNotATokenIsNotUsed) {
  const std::string good = load_or_create_token(path("token")).value;
  fs::create_symlink(path("token"), path("link"));
  EXPECT_EQ(load_or_create_token(path("link")).problem, "the token file " + path("link") + " is a symbolic link");
  ::chmod(path("token").c_str(), 0644);
  EXPECT_NE(load_or_create_token(path("token")).problem.find("is open to other users"), std::string::npos);
  std::ofstream(path("junk")) << "not a token";
  ::chmod(path("junk").c_str(), 0600);
  EXPECT_NE(load_or_create_token(path("junk")).problem.find("holds no token"), std::string::npos);
  EXPECT_TRUE(load_or_create_token(path("junk")).value.empty());
  fs::create_directories(dir_ / "folder");
  EXPECT_NE(load_or_create_token(path("folder")).problem.find("not a regular file"), std::string::npos);
}

TEST(AccessToken, PresentedAsBearerOrCookieAndComparedWhole) {
  const AccessToken token{std::string(64, 'c'), "", ""};
  Headers h;
  h.add("cookie", "theme=dark; loomdeck_token = " + token.value + " ; x=1");
  EXPECT_EQ(presented_token(h), token.value);
  Headers bearer;
  bearer.add("authorization", "bearer " + token.value);
  EXPECT_EQ(presented_token(bearer), token.value);
  EXPECT_FALSE(presented_token(Headers{}));
  EXPECT_TRUE(token_matches(token.value, token));
  EXPECT_FALSE(token_matches(token.value.substr(1), token));
  EXPECT_FALSE(token_matches("", AccessToken{}));
  EXPECT_EQ(location_without_token("/", "token=abc"), "./");
  EXPECT_EQ(location_without_token("/quick-actions", "a=1&token=abc&b=\x01"), "quick-actions?a=1&b=%01");
}

}  // namespace
}  // namespace loomdeck
