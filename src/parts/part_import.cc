#include "parts/part_import.h"

#include "core/text.h"
#include "parts/busy_signs.h"
#include "parts/wiki_files.h"

namespace loomdeck {

namespace {

constexpr int kBusyRetries = 10;

}  // namespace

std::string import_page(const std::string& args_text) {
  const std::optional<json> args = parse_json(args_text);
  return args ? string_member(*args, "page", kDefaultImportPage) : std::string(kDefaultImportPage);
}

bool open_lbr_met_busy_thread(const json& data) {
  if (string_member(data, "errorCode") == "main_thread_busy") return true;
  return contains_any(ascii_lower(string_member(data, "error")), {"main thread busy", "in progress from another"});
}

json import_basic_part(PartsService& ctx, const std::string& box, const std::string& args_text) {
  const std::string page = import_page(args_text);
  std::string library;
  json sent;
  {
    // Each import clones into a folder of its own, kept until the bridge has read the library.
    const PrivateFolder folder("loomdeck-part-");
    if (folder.path().empty()) {
      return json{{"error", folder.error()}, {"_hint", "Check that TMPDIR (or /tmp) is a writable folder."}};
    }
    const std::string& dir = folder.path();
    switch (clone_page(ctx.runner, page, dir)) {
      case CloneOutcome::kDone: break;
      case CloneOutcome::kNotRunnable:
        return json{{"error", "ovra-wiki CLI missing"}, {"_hint", "The container ships ovra-wiki; check PATH."}};
      case CloneOutcome::kTooLong: return json{{"error", page_too_long(page.size())}, {"_hint", kPageTooLongHint}};
      case CloneOutcome::kTimedOut:
        return json{{"error", clone_timed_out(page)},
                    {"_hint", "The wiki did not answer in time; try again, or check the container's network."}};
    }
    const std::optional<std::string> found = first_library_file(list_clone_files(dir));
    if (!found) {
      return json{{"error", page + " has no .lbr file"},
                  {"_hint", "Pick an ovra basic part page (it publishes <PART>.lbr + <PART>.step)."}};
    }
    library = *found;
    const json files = {{"dest", kImportDest}, {"filePaths", json::array({dir + "/" + library})}};
    sent = ctx.bridge.call(box, tool::kSendFiles, dump_compact(files)).data;
  }

  const std::string open_args = dump_compact(json{{"filePath", std::string(kImportDest) + "/" + library}});
  json opened = ctx.bridge.call(box, tool::kOpenLbr, open_args).data;
  for (int retry = 0; retry < kBusyRetries && open_lbr_met_busy_thread(opened); ++retry) {
    ctx.clock.sleep_for(std::chrono::seconds(15));
    opened = ctx.bridge.call(box, tool::kOpenLbr, open_args).data;
  }

  return json{{"_hint",
               "Wiki part -> Fusion Library Manager, all background. Next steps an AI can run: fusion_show_symbol / "
               "fusion_show_footprint {name}, fusion_bind_library_3d for the 3D, fusion_make_test_project for a solo "
               "demo board. Render any of them with fusion_state."},
              {"opened", std::move(opened)},
              {"page", page},
              {"sent", std::move(sent)}};
}

}  // namespace loomdeck
