// Settings loading from whatever the file holds, and a save on top of it.
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "fuzz_check.h"
#include "settings/settings.h"

using namespace loomdeck;

namespace {

std::string g_dir;
std::string g_path;

void write_file(const std::string& text) {
  std::ofstream out(g_path, std::ios::binary | std::ios::trunc);
  out << text;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char dir[] = "/tmp/loomdeck-fuzz-settings-XXXXXX";
  if (!mkdtemp(dir)) std::abort();
  g_dir = dir;
  g_path = g_dir + "/settings.json";
  std::atexit([] {
    std::error_code ignored;
    std::filesystem::remove_all(g_dir, ignored);
  });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  write_file(text);

  const json loaded = load_settings_from(g_path);
  FUZZ_CHECK(loaded.is_object());
  FUZZ_CHECK(loaded.contains("autoGreenOnLaunch") && loaded.contains("demoPart"));
  const std::optional<json> parsed = parse_json(text);
  if (parsed && parsed->is_object()) {
    for (auto it = parsed->begin(); it != parsed->end(); ++it) FUZZ_CHECK(loaded.at(it.key()) == it.value());
  }
  // The written form reads back as the same settings.
  const std::string written = settings_text(loaded);
  FUZZ_CHECK(json::parse(written, nullptr, false) == loaded);

  // A save merges the same bytes, taken as a request body, over what the file holds.
  const json body = parsed ? *parsed : json::object();
  const SettingsSave saved = save_settings_to(g_path, body);
  const json& merged = saved.settings;
  FUZZ_CHECK(merged.is_object());
  // A merge past the size bound writes nothing.
  FUZZ_CHECK(load_settings_from(g_path) == (saved.refused ? loaded : merged));
  if (body.is_object()) {
    for (auto it = body.begin(); it != body.end(); ++it) FUZZ_CHECK(merged.at(it.key()) == it.value());
  } else {
    FUZZ_CHECK(merged == loaded);
  }
  must_dump(merged);
  return 0;
}
