#include "parts/staging.h"

#include <mutex>

#include "actions/launch.h"
#include "bridge/readiness.h"
#include "parts/busy_signs.h"
#include "parts/wiki_files.h"

namespace loomdeck {

namespace {

// Every staging of this server clones into the same directory; one at a time, from the clone
// until the bridge has read the files, so one part's files are never sent for another.
std::mutex& staging_clone_mutex() {
  static std::mutex m;
  return m;
}

struct SentFiles {
  std::string library;
  std::optional<std::string> model;
};

std::optional<std::string> clone_and_send(ServerState& state, const std::string& box, const std::string& part,
                                          SentFiles& sent) {
  const std::string dir = surfaces_clone_dir();
  std::lock_guard<std::mutex> lock(staging_clone_mutex());
  if (!clone_page(state.runner, part, dir)) return "ovra-wiki CLI not runnable";
  const StagingFiles files = pick_staging_files(list_clone_files(dir));
  if (!files.library) return part + " publishes no .lbr";
  json paths = json::array({dir + "/" + *files.library});
  if (files.model) paths.push_back(dir + "/" + *files.model);
  state.bridge.call(state.attribution, box, "send_files",
                    dump_compact(json{{"dest", kSurfacesDest}, {"filePaths", std::move(paths)}}));
  sent = {*files.library, files.model};
  return std::nullopt;
}

}  // namespace

void narrate_staging(ServerState& state, const std::string& message, const std::string& kind) {
  state.sink.broadcast("toast", json{{"kind", kind}, {"message", message}});
  state.log.append("surfaces: " + message);
}

Generation generate_test_project(ServerState& state, const std::string& box, const std::string& library_path,
                                 const char* waiting_toast) {
  const json result = state.bridge.call(state.attribution, box, "fusion_make_test_project",
                                        dump_compact(json{{"libraryPath", library_path}}));
  Generation g{false, unwrap_bridge_data(result)};
  g.ok = bridge_call_ok(result, g.data);
  if (g.ok) return g;
  if (reads_as_still_working(joined_lower({string_member(result, "error"), string_member(g.data, "error")}))) {
    if (waiting_toast) state.sink.broadcast("toast", json{{"kind", ""}, {"message", waiting_toast}});
    wait_until_settled(state.bridge, state.clock, state.attribution, box, 420);
    g.ok = is_bridge_test_document(state.bridge, state.attribution, box);
  }
  return g;
}

StageResult stage_part(ServerState& state, const std::string& box, const std::string& part) {
  const std::string key = staged_part_key(box, part);
  if (std::optional<StagedPart> hit = state.staged_parts.get(key)) return {std::move(hit), ""};

  if (!ready_first(state, box, 240)) {
    return {std::nullopt, "Fusion did not become ready on " + box +
                              " within the measured launch budget for that machine. Open the Settings and check the "
                              "status cards - a sign-in wall or a stuck launch will say so there."};
  }
  narrate_staging(state, "Staging " + part + " from the wiki (clone -> send -> bind 3D -> generate project)", "");

  SentFiles sent;
  if (std::optional<std::string> failure = clone_and_send(state, box, part, sent)) return {std::nullopt, *failure};

  StagedPart staged;
  staged.library_path = std::string(kSurfacesDest) + "/" + sent.library;
  staged.deviceset = deviceset_of(sent.library);

  if (sent.model) {
    narrate_staging(state, "Binding the part's real 3D model into the library", "");
    state.bridge.call(state.attribution, box, "fusion_bind_library_3d",
                      dump_compact(json{{"libraryPath", staged.library_path},
                                        {"stepPath", std::string(kSurfacesDest) + "/" + *sent.model}}));
  }

  narrate_staging(state, "Generating a solo test project around the part", "");
  staged.generated = generate_test_project(state, box, staged.library_path, nullptr).ok;
  if (!staged.generated) {
    narrate_staging(state, "Design surfaces need the test project - I will generate it when you click one", "");
  }

  state.staged_parts.set(key, staged);
  narrate_staging(state, staged.deviceset + " staged - every surface button is live", "ok");
  return {staged, ""};
}

}  // namespace loomdeck
