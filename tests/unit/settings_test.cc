#include "settings/settings.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace loomdeck {
namespace {

class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = std::filesystem::temp_directory_path() / ("loomdeck-settings-" + std::to_string(::getpid()));
    std::filesystem::remove_all(home_);
    path_ = settings_path_for_home(home_.string());
  }
  void TearDown() override { std::filesystem::remove_all(home_); }
  void write(const std::string& text) { std::ofstream(path_) << text; }
  std::string read() {
    std::ifstream in(path_);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
  }
  std::filesystem::path home_;
  std::string path_;
};

TEST_F(SettingsTest, PathCreatesTheFolderAndLoadingNeverWrites) {
  EXPECT_EQ(path_, (home_ / ".ovra/loomdeck/settings.json").string());
  EXPECT_TRUE(std::filesystem::is_directory(home_ / ".ovra/loomdeck"));
  EXPECT_EQ(load_settings_from(path_), json::parse(R"({"autoGreenOnLaunch":true,"demoPart":"tolm/in-s63btg"})"));
  EXPECT_FALSE(std::filesystem::exists(path_));
  EXPECT_EQ(settings_path_for_home(std::nullopt), "/tmp/.ovra/loomdeck/settings.json");
}

TEST_F(SettingsTest, BadFilesReadAsEmpty) {
  for (const char* text : {"not json", "[1,2]", "42", "\"s\"", "null", ""}) {
    write(text);
    EXPECT_EQ(load_settings_from(path_), json::parse(R"({"autoGreenOnLaunch":true,"demoPart":"tolm/in-s63btg"})")) << text;
  }
  write(R"({"autoGreenOnLaunch": null, "extra": [1]})");
  EXPECT_EQ(load_settings_from(path_), json::parse(R"({"autoGreenOnLaunch":null,"demoPart":"tolm/in-s63btg","extra":[1]})"));
}

TEST_F(SettingsTest, SaveMergesAndWritesTheIndentedForm) {
  json merged = save_settings_to(path_, json::parse(R"({"autoGreenOnLaunch":false})"));
  EXPECT_EQ(merged, json::parse(R"({"autoGreenOnLaunch":false,"demoPart":"tolm/in-s63btg"})"));
  EXPECT_EQ(read(), "{\n  \"autoGreenOnLaunch\": false,\n  \"demoPart\": \"tolm/in-s63btg\"\n}");
  save_settings_to(path_, json::parse(R"({"zeta":1,"demoPart":null})"));
  EXPECT_EQ(load_settings_from(path_), json::parse(R"({"autoGreenOnLaunch":false,"demoPart":null,"zeta":1})"));
  EXPECT_EQ(save_settings_to(path_, json::parse("[1,2]")), load_settings_from(path_));
}

TEST_F(SettingsTest, OverlappingSavesLoseNoMember) {
  std::vector<std::thread> threads;
  for (int i = 0; i < 20; ++i) {
    threads.emplace_back([this, i] { save_settings_to(path_, json{{"k" + std::to_string(i), i}}); });
  }
  for (auto& t : threads) t.join();
  const json s = load_settings_from(path_);
  for (int i = 0; i < 20; ++i) EXPECT_EQ(s["k" + std::to_string(i)], i);
  for (const auto& entry : std::filesystem::directory_iterator(home_ / ".ovra/loomdeck")) {
    EXPECT_EQ(entry.path().filename(), "settings.json");
  }
}

}  // namespace
}  // namespace loomdeck
