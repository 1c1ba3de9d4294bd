// Parts on a box: files sent from the container, libraries bound to their 3D models, generated
// test projects, the library manager, and the eight design surfaces.
#include <algorithm>

#include "model.h"
#include "tool_kit.h"

namespace sim {

namespace {

json refusal(const std::string& error, const std::string& hint) { return {{"success", false}, {"error", error}, {"_hint", hint}}; }

void open_document(Box& b, const std::string& name) {
  if (std::find(b.documents.begin(), b.documents.end(), name) == b.documents.end()) b.documents.push_back(name);
}

std::optional<json> missing_on_box(const Box& b, const std::string& key, const std::string& path) {
  if (path.empty()) return refusal("missing " + key, "Pass the path of a file that send_files placed on the box.");
  if (!b.files.count(path))
    return refusal("library not found on the box: " + path, "send_files places it there first.");
  return std::nullopt;
}

Outcome send_files(ToolCtx& ctx) {
  std::string dest = string_at(ctx.args, "dest");
  const json paths = ctx.args.value("filePaths", json());
  if (dest.empty() || !paths.is_array() || paths.empty())
    return reply(refusal("send_files needs dest and a non-empty filePaths array", "Pass {\"dest\": \"C:/...\", \"filePaths\": [\"/tmp/...\"]}."));
  while (dest.size() > 1 && (dest.back() == '/' || dest.back() == '\\')) dest.pop_back();
  json sent = json::array(), failed = json::array();
  for (const auto& p : paths) {
    std::string local = p.is_string() ? p.get<std::string>() : "";
    auto size = local.empty() || !ctx.env.local_file_size ? std::nullopt : ctx.env.local_file_size(local);
    if (!size) {
      failed.push_back({{"path", local}, {"error", "no such file in the container"}});
      continue;
    }
    std::string remote = dest + "/" + base_name(local);
    ctx.box.files[remote] = *size;
    sent.push_back({{"from", local}, {"to", remote}, {"bytes", *size}});
  }
  json out = {{"success", failed.empty()}, {"dest", dest}, {"sent", sent}, {"failed", failed}};
  if (!failed.empty()) out["error"] = "could not send " + std::to_string(failed.size()) + " file(s)";
  return reply(out);
}

Outcome bind_library_3d(ToolCtx& ctx) {
  Box& b = ctx.box;
  std::string lib = string_at(ctx.args, "libraryPath"), step = string_at(ctx.args, "stepPath");
  if (auto no = cannot_take_verb(b, ctx.target)) return reply(*no);
  if (auto no = missing_on_box(b, "libraryPath", lib)) return reply(*no);
  if (step.empty() || !b.files.count(step)) return reply(refusal("3D model not found on the box: " + step, "send_files places it there first."));
  return wait_for_op(ctx, "fusion_bind_library_3d", b.bind_seconds, true);
}

json complete_bind(Box& b, const Op& op, int64_t) {
  std::string lib = string_at(op.args, "libraryPath"), step = string_at(op.args, "stepPath");
  b.bound_models[lib] = step;
  return {{"success", true}, {"bound", true}, {"libraryPath", lib}, {"stepPath", step}, {"deviceset", stem(lib)}};
}

Outcome make_test_project(ToolCtx& ctx) {
  Box& b = ctx.box;
  std::string lib = string_at(ctx.args, "libraryPath");
  if (auto no = cannot_take_verb(b, ctx.target)) return reply(*no);
  if (auto no = missing_on_box(b, "libraryPath", lib)) return reply(*no);
  return wait_for_op(ctx, "fusion_make_test_project", b.project_seconds, true);
}

json complete_make_project(Box& b, const Op& op, int64_t) {
  std::string lib = string_at(op.args, "libraryPath"), deviceset = stem(lib);
  std::string project = "ovra-test-" + deviceset;
  json docs = {project + " schematic", project + " board"};
  for (const auto& d : docs) open_document(b, d.get<std::string>());
  b.test_project = {{"libraryPath", lib}, {"deviceset", deviceset}, {"project", project}};
  b.view = {{"surface", "schematic"}, {"deviceset", deviceset}};
  return {{"success", true}, {"project", project}, {"documents", docs}, {"deviceset", deviceset}, {"libraryPath", lib},
          {"with3d", b.bound_models.count(lib) > 0}};
}

Outcome open_lbr(ToolCtx& ctx) {
  Box& b = ctx.box;
  std::string path = string_at(ctx.args, "filePath");
  if (auto no = cannot_take_verb(b, ctx.target)) return reply(*no);
  if (auto no = missing_on_box(b, "filePath", path)) return reply(*no);
  return wait_for_op(ctx, "fusion_open_lbr", b.open_lbr_seconds, true);
}

json complete_open_lbr(Box& b, const Op& op, int64_t) {
  std::string path = string_at(op.args, "filePath");
  open_document(b, base_name(path));
  b.view = {{"surface", "library"}, {"deviceset", stem(path)}};
  return {{"success", true}, {"opened", path}, {"libraryManager", true}, {"deviceset", stem(path)}};
}

// The surface a fusion_show_* tool opens, and whether it works on the generated project.
struct SurfaceDef {
  const char* tool;
  const char* surface;
  bool project;
};

const SurfaceDef kSurfaces[] = {
    {"fusion_show_symbol", "symbol", false},       {"fusion_show_footprint", "footprint", false},
    {"fusion_show_3d_package", "package3d", false}, {"fusion_show_library", "library", false},
    {"fusion_show_schematic", "schematic", true},   {"fusion_show_2d_board", "board2d", true},
    {"fusion_show_3d_board", "board3d", true},      {"fusion_show_project", "project", true},
};

const SurfaceDef& surface_of(const std::string& tool) {
  for (const auto& s : kSurfaces)
    if (tool == s.tool) return s;
  return kSurfaces[0];
}

Outcome show_surface(ToolCtx& ctx, const SurfaceDef& s) {
  Box& b = ctx.box;
  if (auto no = cannot_take_verb(b, ctx.target)) return reply(*no);
  if (s.project) {
    if (!b.test_project.is_object())
      return reply(refusal("no design open - run fusion_make_test_project first", "fusion_make_test_project {libraryPath} generates a solo test project."));
  } else {
    std::string lib = string_at(ctx.args, "libraryPath");
    if (auto no = missing_on_box(b, "libraryPath", lib)) return reply(*no);
    std::string name = string_at(ctx.args, "name", stem(lib));
    if (s.surface != std::string("library") && name != stem(lib))
      return reply(refusal("deviceset " + name + " not found in " + base_name(lib), "Pass the library's own deviceset as name."));
  }
  return wait_for_op(ctx, s.tool, b.surface_seconds, true);
}

json complete_show(Box& b, const Op& op, int64_t) {
  const SurfaceDef& s = surface_of(op.verb);
  std::string deviceset = s.project ? b.test_project.value("deviceset", "") : stem(string_at(op.args, "libraryPath"));
  b.view = {{"surface", s.surface}, {"deviceset", deviceset}};
  return {{"success", true}, {"status", "ok"}, {"surface", s.surface}, {"deviceset", deviceset}, {"background", true},
          {"_hint", "Render it with fusion_state {\"imageAs\":\"base64\"}."}};
}

template <size_t I>
Outcome show(ToolCtx& ctx) {
  return show_surface(ctx, kSurfaces[I]);
}

}  // namespace

const std::vector<ToolDef>& parts_tools() {
  static const std::vector<ToolDef> defs = {
      {"send_files", send_files, true, false},
      {"fusion_bind_library_3d", bind_library_3d, false, false, complete_bind},
      {"fusion_make_test_project", make_test_project, false, false, complete_make_project},
      {"fusion_open_lbr", open_lbr, true, false, complete_open_lbr},
      {kSurfaces[0].tool, show<0>, false, false, complete_show},
      {kSurfaces[1].tool, show<1>, false, false, complete_show},
      {kSurfaces[2].tool, show<2>, false, false, complete_show},
      {kSurfaces[3].tool, show<3>, false, false, complete_show},
      {kSurfaces[4].tool, show<4>, false, false, complete_show},
      {kSurfaces[5].tool, show<5>, false, false, complete_show},
      {kSurfaces[6].tool, show<6>, false, false, complete_show},
      {kSurfaces[7].tool, show<7>, false, false, complete_show},
  };
  return defs;
}

}  // namespace sim
