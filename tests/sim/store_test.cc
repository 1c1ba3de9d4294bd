#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <thread>

#include "sim_fixtures.h"
#include "store.h"

namespace sim::testing {
namespace {

TEST(Store, FirstUseWritesTheDemoScenario) {
  TempDir dir;
  Store store(dir.path);
  ASSERT_TRUE(store.ensure_world(kT0));
  EXPECT_EQ(store.scenario(), "demo");
  EXPECT_EQ(store.box_order(), (std::vector<std::string>{"Studio", "Bench"}));
  EXPECT_EQ(store.update({"Nowhere"}, [](Boxes&) { FAIL() << "must not run for an unknown box"; }), "Nowhere");
}

TEST(Store, BoxNamesNeverEscapeTheStateDirectory) {
  EXPECT_EQ(encode_name("Studio"), "Studio");
  EXPECT_EQ(encode_name("../etc/passwd"), "%2E%2E%2Fetc%2Fpasswd");
  EXPECT_EQ(encode_name(""), "%");
  TempDir dir;
  Store store(dir.path);
  std::string error;
  ASSERT_TRUE(store.add_box("../../evil box", Box{}, &error)) << error;
  EXPECT_TRUE(std::filesystem::exists(dir.path + "/boxes/%2E%2E%2F%2E%2E%2Fevil%20box.json"));
  EXPECT_FALSE(store.add_box("../../evil box", Box{}, &error));
  EXPECT_EQ(error, "there is already a box called ../../evil box");
}

// Read-modify-write from many threads: each increment must survive.
TEST(StoreConcurrency, ThreadsLoseNoWrites) {
  TempDir dir;
  Store setup(dir.path);
  ASSERT_TRUE(setup.ensure_world(kT0));
  constexpr int kThreads = 8, kEach = 40;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&] {
      Store store(dir.path);  // every thread opens its own lock descriptors, as processes do
      for (int i = 0; i < kEach; ++i) store.update({"Studio"}, [](Boxes& b) { ++b.at("Studio").calls; });
    });
  for (auto& t : threads) t.join();
  int64_t calls = 0;
  setup.update({"Studio"}, [&](Boxes& b) { calls = b.at("Studio").calls; });
  EXPECT_EQ(calls, kThreads * kEach);
}

TEST(StoreConcurrency, ProcessesLoseNoWritesAndLeaveNoTemporaryFiles) {
  TempDir dir;
  Store setup(dir.path);
  ASSERT_TRUE(setup.ensure_world(kT0));
  constexpr int kProcs = 6, kEach = 30;
  std::vector<pid_t> kids;
  for (int p = 0; p < kProcs; ++p) {
    pid_t pid = fork();
    if (pid == 0) {
      Store store(dir.path);
      for (int i = 0; i < kEach; ++i) {
        // Calls that span every box (the seat hand-over) interleave with single-box calls.
        std::vector<std::string> names = i % 3 ? std::vector<std::string>{"Studio"} : std::vector<std::string>{"Bench", "Studio"};
        store.update(names, [](Boxes& b) {
          ++b.at("Studio").calls;
          if (b.count("Bench")) ++b.at("Bench").calls;
        });
      }
      _exit(0);
    }
    kids.push_back(pid);
  }
  for (pid_t pid : kids) {
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  int64_t studio = 0, bench = 0;
  setup.update({"Studio", "Bench"}, [&](Boxes& b) {
    studio = b.at("Studio").calls;
    bench = b.at("Bench").calls;
  });
  EXPECT_EQ(studio, kProcs * kEach);
  EXPECT_EQ(bench, kProcs * (kEach / 3));
  for (const auto& e : std::filesystem::directory_iterator(dir.path + "/boxes"))
    EXPECT_EQ(e.path().string().find(".tmp."), std::string::npos) << e.path();
}

TEST(Store, ResetReplacesEveryBox) {
  TempDir dir;
  Store store(dir.path);
  ASSERT_TRUE(store.ensure_world(kT0));
  std::string error;
  ASSERT_TRUE(store.add_box("Garage", Box{}, &error));
  ASSERT_TRUE(store.reset(*make_scenario("signed-in", kT0)));
  EXPECT_EQ(store.box_order(), (std::vector<std::string>{"Studio", "Bench"}));
  EXPECT_FALSE(std::filesystem::exists(dir.path + "/boxes/Garage.json"));
  store.update({"Studio"}, [](Boxes& b) { EXPECT_TRUE(b.at("Studio").running); });
}

TEST(Store, ActivityLogKeepsOneLinePerEntry) {
  TempDir dir;
  Store store(dir.path);
  store.append_activity({{"tool", "a"}, {"args", std::string("{\"x\":\"\xff\"}")}});
  store.append_activity({{"tool", "b"}});
  std::string log = store.activity();
  EXPECT_EQ(log, "{\"args\":\"{\\\"x\\\":\\\"\xEF\xBF\xBD\\\"}\",\"tool\":\"a\"}\n{\"tool\":\"b\"}\n");
  EXPECT_TRUE(store.clear_activity());
  EXPECT_EQ(store.activity(), "");
}

}  // namespace
}  // namespace sim::testing
