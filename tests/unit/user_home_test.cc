#include "core/user_home.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

namespace loomdeck {
namespace {

TEST(UserHome, HomeIsAnAbsolutePathNeverTmpOrTheWorkingFolder) {
  const std::optional<std::string> account = "/home/dev";
  EXPECT_EQ(pick_home("/home/me", account), "/home/me");
  EXPECT_EQ(pick_home(nullptr, account), "/home/dev");
  EXPECT_EQ(pick_home("", account), "/home/dev");
  EXPECT_EQ(pick_home("relative/home", account), "/home/dev");
  EXPECT_EQ(pick_home(nullptr, std::nullopt), std::nullopt);
  EXPECT_EQ(pick_home("", std::string("")), std::nullopt);
  EXPECT_EQ(pick_home(".", std::string("nowhere")), std::nullopt);
}

class OwnFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = std::filesystem::temp_directory_path() / ("loomdeck-home-" + std::to_string(::getpid()));
    std::filesystem::remove_all(home_);
    std::filesystem::create_directories(home_);
    const char* old = std::getenv("HOME");
    saved_ = old ? old : "";
    ::setenv("HOME", home_.c_str(), 1);
  }
  void TearDown() override {
    ::setenv("HOME", saved_.c_str(), 1);
    std::filesystem::remove_all(home_);
  }
  std::filesystem::path home_;
  std::string saved_;
};

// The folders are made private; one that is somebody else's, writable by others or not a folder
// is refused with what to do.
TEST_F(OwnFolderTest, OnlyAPrivateFolderOfTheUsersOwnIsUsed) {
  const OwnFolder made = ovra_folder("loomdeck");
  ASSERT_TRUE(made.usable()) << made.problem;
  EXPECT_EQ(made.path, (home_ / ".ovra/loomdeck").string());
  struct stat st {};
  ASSERT_EQ(::stat(made.path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);

  EXPECT_NE(own_folder(made.path, ::geteuid() + 1).problem.find("belongs to another user"), std::string::npos);

  std::filesystem::permissions(home_ / ".ovra", std::filesystem::perms(0770));
  const OwnFolder shared = ovra_folder("loomdeck");
  EXPECT_EQ(shared.problem, (home_ / ".ovra").string() + " may be written by others");
  EXPECT_EQ(shared.hint, "Make it yours alone: chmod go-w " + (home_ / ".ovra").string());

  std::filesystem::permissions(home_ / ".ovra", std::filesystem::perms(0700));
  std::filesystem::remove_all(home_ / ".ovra/gantry");
  std::filesystem::create_symlink("/etc/passwd", home_ / ".ovra/gantry");
  EXPECT_EQ(ovra_folder("gantry").problem, (home_ / ".ovra/gantry").string() + " is not a folder");
}

}  // namespace
}  // namespace loomdeck
