#include "parts/staging.h"

#include "actions/ready_first.h"
#include "bridge/readiness.h"
#include "core/box_name.h"
#include "parts/busy_signs.h"
#include "parts/wiki_files.h"

namespace loomdeck {

namespace {

struct SentFiles {
  std::string library;
  std::optional<std::string> model;
};

// Clones the part's wiki page and sends its library (and 3D model) to the box; the sentence
// that says why not, or nothing.
std::optional<std::string> clone_and_send(PartsService& ctx, const std::string& box, const std::string& part,
                                          SentFiles& sent) {
  // Each staging clones into a folder of its own, kept until the bridge has read the files.
  const PrivateFolder folder("loomdeck-surfaces-");
  if (folder.path().empty()) return folder.error();
  const std::string& dir = folder.path();
  switch (clone_page(ctx.runner, part, dir)) {
    case CloneOutcome::kDone: break;
    case CloneOutcome::kNotRunnable: return "ovra-wiki CLI not runnable";
    case CloneOutcome::kTimedOut: return clone_timed_out(part);
    case CloneOutcome::kTooLong: return page_too_long(part.size());
  }
  const StagingFiles files = pick_staging_files(list_clone_files(dir));
  if (!files.library) return part + " publishes no .lbr";
  json paths = json::array({dir + "/" + *files.library});
  if (files.model) paths.push_back(dir + "/" + *files.model);
  // Not read: a library that did not arrive fails the steps that use it, and those report it.
  ctx.bridge.send(box, tool::kSendFiles, dump_compact(json{{"dest", kSurfacesDest}, {"filePaths", std::move(paths)}}));
  sent = {*files.library, files.model};
  return std::nullopt;
}

}  // namespace

void narrate_staging(PartsService& ctx, const std::string& message, const std::string& kind) {
  toast(ctx.sink, message, kind);
  ctx.log.append("surfaces: " + message);
}

BridgeReply generate_test_project(PartsService& ctx, const std::string& box, const std::string& library_path,
                                  const char* waiting_toast) {
  BridgeReply made = ctx.bridge.call(box, tool::kMakeTestProject, dump_compact(json{{"libraryPath", library_path}}));
  if (made.ok) return made;
  if (reads_as_still_working(joined_lower({string_member(made.result, "error"), string_member(made.data, "error")}))) {
    if (waiting_toast) toast(ctx.sink, waiting_toast);
    wait_until_settled(ctx.bridge, ctx.clock, box, 420);
    made.ok = is_bridge_test_document(ctx.bridge, box);
  }
  return made;
}

StageResult stage_part(PartsService& ctx, const std::string& box, const std::string& part) {
  const std::string key = staged_part_key(box, part);
  if (std::optional<StagedPart> hit = ctx.staged_parts.get(key)) return {std::move(hit), ""};

  if (!ready_first(ctx.runs, box, 240)) {
    return {std::nullopt, "Fusion did not become ready on " + box_label(box) +
                              " within the measured launch budget for that machine. Open the Settings and check the "
                              "status cards - a sign-in wall or a stuck launch will say so there."};
  }
  narrate_staging(ctx, "Staging " + part + " from the wiki (clone -> send -> bind 3D -> generate project)", "");

  SentFiles sent;
  if (std::optional<std::string> failure = clone_and_send(ctx, box, part, sent)) return {std::nullopt, *failure};

  StagedPart staged;
  staged.library_path = std::string(kSurfacesDest) + "/" + sent.library;
  staged.deviceset = deviceset_of(sent.library);

  if (sent.model) {
    narrate_staging(ctx, "Binding the part's real 3D model into the library", "");
    // Not read: the part stays usable without its 3D model.
    ctx.bridge.send(box, "fusion_bind_library_3d",
                    dump_compact(json{{"libraryPath", staged.library_path},
                                      {"stepPath", std::string(kSurfacesDest) + "/" + *sent.model}}));
  }

  narrate_staging(ctx, "Generating a solo test project around the part", "");
  staged.generated = generate_test_project(ctx, box, staged.library_path, nullptr).ok;
  if (!staged.generated) {
    narrate_staging(ctx, "Design surfaces need the test project - I will generate it when you click one", "");
  }

  ctx.staged_parts.set(key, staged);
  narrate_staging(ctx, staged.deviceset + " staged - every surface button is live", "ok");
  return {staged, ""};
}

}  // namespace loomdeck
