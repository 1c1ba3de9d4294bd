#include "tour.h"

#include <algorithm>

#include "png.h"
#include "views.h"

namespace sim {

namespace {
const char* kShotDir = "C:/Users/pell/AppData/Local/Temp/ovra-demo/";

int next_position(const Tour& t, int from) {
  int pos = from + 1;
  while (std::find(t.skipped.begin(), t.skipped.end(), pos) != t.skipped.end()) ++pos;
  return pos;
}

void add_shot(Tour& t, const TourStep& step, const std::string& label) {
  t.shots.push_back({static_cast<int>(t.shots.size()), step.key, label});
}
}  // namespace

const std::vector<TourStep>& tour_steps() {
  // The order of the narration clips (scripts/narration/narration.tsv): each clip says where it
  // stands ("First", "Next", "Finally ... the tour is complete").
  static const std::vector<TourStep> steps = {
      {"launch", "Fusion is up", "Fusion runs on this box in the background; the bridge add-in drives it without stealing focus.", "home"},
      {"mcp", "Fusion MCP server", "Autodesk's own MCP server lets an agent drive Fusion's tools.", "home"},
      {"aps", "APS cloud search", "APS cloud search finds files in the team's hubs in about two seconds.", "home"},
      {"datahub", "Data Hub", "The Data Hub API lists versions and resolves urns on the same sign-in.", "home"},
      {"stage", "Staging a wiki part", "A part from the parts wiki is cloned and sent to the box.", "library"},
      {"library", "The part's library", "Its library opens in Fusion's library manager.", "library"},
      {"symbol", "Schematic symbol", "This is the symbol you place in a schematic.", "symbol"},
      {"footprint", "Footprint", "The footprint is the copper the part is soldered to.", "footprint"},
      {"3d-package", "3D package", "The real 3D model is bound to the package.", "package3d"},
      {"device", "The device", "The device ties the symbol, the footprint and the 3D package together.", "library"},
      {"make-project", "Generating a test project", "A solo test project is generated around the part.", "project"},
      {"open-design", "Opening the design", "The generated design opens in the background.", "project"},
      {"schematic", "Schematic", "The schematic of the test project.", "schematic"},
      {"2d-board", "2D board", "The board layout in two dimensions.", "board2d"},
      {"3d-board", "3D board", "And the same board in 3D, with the real model on it.", "board3d"},
      {"exports", "Exports", "Manufacturing files come straight out of the design.", "board2d"},
  };
  return steps;
}

std::string start_tour(Box& box, int64_t now_ms) {
  Tour t;
  t.demo_id = "demo-" + std::to_string(now_ms) + "-" + std::to_string(box.next_op++);
  t.step_started_at_ms = now_ms;
  t.step_ms = std::max<int64_t>(1, static_cast<int64_t>(box.tour_step_seconds * 1000.0));
  t.documents = {"ovra-test tour " + t.demo_id};
  for (const auto& d : t.documents) box.documents.push_back(d);
  box.tour = t;
  return t.demo_id;
}

void advance_tour(Box& box, int64_t now_ms) {
  if (!box.tour) return;
  Tour& t = *box.tour;
  const auto& steps = tour_steps();
  while (!t.done && !t.paused && now_ms >= t.step_started_at_ms + t.step_ms) {
    const TourStep& step = steps[static_cast<size_t>(t.position)];
    if (box.tour_fail_at_step == step.key) {
      t.done = t.failed = true;
      t.error = std::string("step ") + step.key + " failed: the add-in reported an error";
      break;
    }
    add_shot(t, step, step.label);
    box.view = {{"surface", step.surface}, {"deviceset", "IN-S63BTG"}};
    t.step_started_at_ms += t.step_ms;
    t.position = next_position(t, t.position);
    if (t.position >= static_cast<int>(steps.size())) {
      t.position = static_cast<int>(steps.size()) - 1;
      t.done = true;
    } else if (t.pause_requested) {
      t.pause_requested = false;
      t.paused = true;
    }
  }
}

std::string control_tour(Box& box, const std::string& action, int64_t now_ms) {
  Tour& t = *box.tour;
  const auto& steps = tour_steps();
  if (t.done) return "the tour has already ended";
  if (action == "pause") {
    t.pause_requested = true;
  } else if (action == "resume") {
    if (t.paused) t.step_started_at_ms = now_ms;
    t.paused = t.pause_requested = false;
  } else if (action == "next") {
    int upcoming = next_position(t, t.position);
    if (upcoming < static_cast<int>(steps.size())) t.skipped.push_back(upcoming);
  } else if (action == "prev") {
    if (t.shots.empty()) return "no view captured yet";
    const Shot last = t.shots.back();
    for (const auto& s : steps)
      if (last.step == s.key) add_shot(t, s, std::string(s.label) + " (replay)");
  } else if (action == "exit") {
    t.done = t.exited = true;
    std::erase_if(box.documents, [&](const std::string& d) {
      return std::find(t.documents.begin(), t.documents.end(), d) != t.documents.end();
    });
  } else {
    return "unknown action " + action + " (use prev, pause, resume, next or exit)";
  }
  return "";
}

void fail_tour(Box& box, const std::string& why) {
  Tour& t = *box.tour;
  t.done = t.failed = true;
  t.error = why;
}

bool tour_occupies_main_thread(const Box& box) { return box.tour && !box.tour->done && !box.tour->paused; }

json tour_progress(const Box& box, const std::string& images_as, int64_t since_shot, int64_t now_ms) {
  const Tour& t = *box.tour;
  const auto& steps = tour_steps();
  const TourStep& step = steps[static_cast<size_t>(t.position)];
  int64_t count = static_cast<int64_t>(steps.size());
  int64_t within = t.done || t.paused ? 0 : std::clamp<int64_t>((now_ms - t.step_started_at_ms) * 100 / t.step_ms, 0, 99);
  int64_t percent = t.done && !t.failed && !t.exited ? 100 : (t.position * 100 + within) / count;
  json shots = json::array();
  for (const auto& s : t.shots) {
    if (s.index < since_shot) continue;
    json shot = {{"index", s.index}, {"step", s.step}, {"label", s.label}};
    std::string surface = "home";
    for (const auto& ts : steps)
      if (s.step == ts.key) surface = ts.surface;
    if (images_as == "base64")
      shot["image"] = base64(render_view_png(surface, s.label));
    else
      shot["path"] = kShotDir + t.demo_id + "/shot-" + std::to_string(s.index) + ".png";
    shots.push_back(shot);
  }
  json out = {{"success", true},
              {"demoId", t.demo_id},
              {"percent", percent},
              {"step", step.key},
              {"stepIndex", t.position},
              {"stepCount", count},
              {"stepLabel", step.label},
              {"stepCaption", step.caption},
              {"paused", t.paused},
              {"pausing", t.pause_requested},
              {"done", t.done},
              {"failed", t.failed},
              {"exited", t.exited},
              {"shots", shots},
              {"shotCount", t.shots.size()}};
  if (!t.error.empty()) out["error"] = t.error;
  return out;
}

}  // namespace sim
