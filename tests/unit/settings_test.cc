#include "settings/settings.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
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
    std::filesystem::create_directories(home_ / ".ovra/loomdeck");
    path_ = (home_ / ".ovra/loomdeck/settings.json").string();
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

TEST_F(SettingsTest, LoadingNeverWrites) {
  EXPECT_EQ(load_settings_from(path_), json::parse(R"({"autoGreenOnLaunch":true,"demoPart":"tolm/in-s63btg"})"));
  EXPECT_FALSE(std::filesystem::exists(path_));
}

TEST_F(SettingsTest, BadFilesReadAsEmpty) {
  for (const char* text : {"not json", "[1,2]", "42", "\"s\"", "null", ""}) {
    write(text);
    EXPECT_EQ(load_settings_from(path_), json::parse(R"({"autoGreenOnLaunch":true,"demoPart":"tolm/in-s63btg"})"))
        << text;
  }
  write(R"({"autoGreenOnLaunch": null, "extra": [1]})");
  EXPECT_EQ(load_settings_from(path_),
            json::parse(R"({"autoGreenOnLaunch":null,"demoPart":"tolm/in-s63btg","extra":[1]})"));
}

TEST_F(SettingsTest, SaveMergesAndWritesTheIndentedForm) {
  json merged = save_settings_to(path_, json::parse(R"({"autoGreenOnLaunch":false})")).settings;
  EXPECT_EQ(merged, json::parse(R"({"autoGreenOnLaunch":false,"demoPart":"tolm/in-s63btg"})"));
  EXPECT_EQ(read(), "{\n  \"autoGreenOnLaunch\": false,\n  \"demoPart\": \"tolm/in-s63btg\"\n}");
  save_settings_to(path_, json::parse(R"({"zeta":1,"demoPart":null})"));
  EXPECT_EQ(load_settings_from(path_), json::parse(R"({"autoGreenOnLaunch":false,"demoPart":null,"zeta":1})"));
  EXPECT_EQ(save_settings_to(path_, json::parse("[1,2]")).settings, load_settings_from(path_));
}

// A ~/.ovra that others may write is refused: the settings are then neither read nor written there.
TEST_F(SettingsTest, TheStoreUsesOnlyFoldersOfTheUsersOwn) {
  std::ofstream(path_) << R"({"demoPart":"tolm/mine"})";
  SettingsStore store(home_.string());
  EXPECT_EQ(store.load().at("demoPart"), "tolm/mine");
  std::filesystem::permissions(home_ / ".ovra", std::filesystem::perms(0770));
  const SettingsSave save = store.save(json{{"a", 1}});
  EXPECT_EQ(save.refused, (home_ / ".ovra").string() + " may be written by others - nothing was saved");
  EXPECT_EQ(store.load().at("demoPart"), kDefaultDemoPart);
  EXPECT_EQ(load_settings_from(path_), json::parse(R"({"autoGreenOnLaunch":true,"demoPart":"tolm/mine"})"));
}

TEST_F(SettingsTest, OverlappingSavesLoseNoMember) {
  SettingsStore store(home_.string());
  std::vector<std::thread> threads;
  for (int i = 0; i < 20; ++i) {
    threads.emplace_back([&store, i] { store.save(json{{"k" + std::to_string(i), i}}); });
  }
  for (auto& t : threads) t.join();
  const json s = load_settings_from(path_);
  for (int i = 0; i < 20; ++i) EXPECT_EQ(s["k" + std::to_string(i)], i);
  for (const auto& entry : std::filesystem::directory_iterator(home_ / ".ovra/loomdeck")) {
    EXPECT_EQ(entry.path().filename(), "settings.json");
  }
}

mode_t mode_of(const std::filesystem::path& p) {
  struct stat st {};
  ::lstat(p.c_str(), &st);
  return st.st_mode;
}

TEST_F(SettingsTest, SavesArePrivateKeepModesAndWriteThroughLinks) {
  const mode_t old_umask = ::umask(0);  // a 0666 create would show as such
  save_settings_to(path_, json{{"a", 1}});
  EXPECT_EQ(mode_of(path_) & 07777, 0600u);

  std::filesystem::permissions(path_, std::filesystem::perms(0640));
  save_settings_to(path_, json{{"b", 2}});
  EXPECT_EQ(mode_of(path_) & 07777, 0640u);
  // Write for the group or others is never kept, nor the mode of a file somebody else owns.
  std::filesystem::permissions(path_, std::filesystem::perms(0666));
  save_settings_to(path_, json{{"b", 3}});
  EXPECT_EQ(mode_of(path_) & 07777, 0644u);
  if (::geteuid() == 0) {
    std::filesystem::permissions(path_, std::filesystem::perms(0644));
    ASSERT_EQ(::chown(path_.c_str(), 65534, 65534), 0);
    save_settings_to(path_, json{{"b", 4}});
    EXPECT_EQ(mode_of(path_) & 07777, 0600u);
  }

  // A settings file kept elsewhere through a chain of links: the links stay, the file changes.
  const std::filesystem::path real = home_ / "dotfiles" / "loomdeck.json";
  std::filesystem::create_directories(real.parent_path());
  std::ofstream(real) << R"({"kept": true})";
  std::filesystem::permissions(real, std::filesystem::perms(0600));
  std::filesystem::remove(path_);
  std::filesystem::create_symlink("hop.json", path_);
  std::filesystem::create_symlink("../../dotfiles/loomdeck.json", home_ / ".ovra/loomdeck/hop.json");
  save_settings_to(path_, json{{"c", 3}});
  ::umask(old_umask);
  EXPECT_TRUE(S_ISLNK(mode_of(path_)));
  EXPECT_TRUE(S_ISLNK(mode_of(home_ / ".ovra/loomdeck/hop.json")));
  EXPECT_EQ(mode_of(real) & 07777, 0600u);
  EXPECT_EQ(load_settings_from(real.string()),
            json::parse(R"({"autoGreenOnLaunch":true,"c":3,"demoPart":"tolm/in-s63btg","kept":true})"));
}

TEST_F(SettingsTest, AMergeBeyond64KiBWritesNothing) {
  save_settings_to(path_, json{{"small", 1}});
  const std::string before = read();
  const SettingsSave big = save_settings_to(path_, json{{"big", std::string(64 * 1024, 'x')}});
  ASSERT_TRUE(big.refused);
  EXPECT_NE(big.refused->find("64 KiB"), std::string::npos);
  EXPECT_EQ(read(), before);
  // Just under the bound is stored.
  const std::size_t room =
      kMaxSettingsBytes -
      settings_text(json{{"autoGreenOnLaunch", true}, {"big", ""}, {"demoPart", "tolm/in-s63btg"}, {"small", 1}})
          .size();
  EXPECT_FALSE(save_settings_to(path_, json{{"big", std::string(room, 'x')}}).refused);
  EXPECT_EQ(read().size(), kMaxSettingsBytes);
}

TEST_F(SettingsTest, LoadsSeeEveryChangeToTheFileWhateverMadeIt) {
  SettingsStore store(home_.string());
  std::filesystem::create_directories(std::filesystem::path(path_).parent_path());
  const auto write = [&](const std::string& text) { std::ofstream(path_, std::ios::binary | std::ios::trunc) << text; };
  write(R"({"demoPart":"tolm/aa"})");
  EXPECT_EQ(store.load().at("demoPart"), "tolm/aa");
  write(R"({"demoPart":"tolm/bb"})");  // same size, written in place within a tick
  EXPECT_EQ(store.load().at("demoPart"), "tolm/bb");
  std::filesystem::last_write_time(path_, std::filesystem::file_time_type::clock::now() - std::chrono::hours(1));
  EXPECT_EQ(store.load().at("demoPart"), "tolm/bb");  // an old file: known without reading
  EXPECT_EQ(store.load().at("demoPart"), "tolm/bb");
  write(R"({"demoPart":"tolm/dd"})");
  EXPECT_EQ(store.load().at("demoPart"), "tolm/dd");
  EXPECT_FALSE(store.save(json{{"demoPart", "tolm/cc"}}).refused);  // a new file renamed in
  EXPECT_EQ(store.load().at("demoPart"), "tolm/cc");
  std::filesystem::remove(path_);
  EXPECT_EQ(store.load().at("demoPart"), kDefaultDemoPart);
}

}  // namespace
}  // namespace loomdeck
