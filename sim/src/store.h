// The simulator's state on disk under one directory:
//   world.json + world.lock      the scenario and its boxes in `targets` order
//   boxes/<name>.json + .lock    one state file per box
//   faults.json + faults.lock    injected faults
//   activity.jsonl               one line per call
// Tool calls hold world.lock shared and their boxes' locks exclusively (taken in name order);
// reset and add-box hold world.lock exclusively. Lock files are never replaced, so a waiter never
// locks a file that a writer has already renamed away; state files are written to a temporary
// file and renamed into place.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "faults.h"
#include "scenarios.h"

namespace sim {

// $OVRA_SIM_DIR, else $HOME/.ovra/sim.
std::string sim_dir_from_env();

class FileLock {
 public:
  FileLock(const std::string& path, bool exclusive);
  ~FileLock();
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  bool held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

bool make_dirs(const std::string& path);
std::optional<std::string> read_file(const std::string& path);
bool write_atomic(const std::string& path, const std::string& content);
// A file-system-safe spelling of a box name.
std::string encode_name(const std::string& name);

class Store {
 public:
  explicit Store(std::string dir);
  const std::string& dir() const { return dir_; }

  // Writes the demo scenario when the directory holds no state yet.
  bool ensure_world(int64_t now_ms);
  // Replaces every box with the given world.
  bool reset(const World& world);
  // Adds a box at the end of the list; false when the name is taken.
  bool add_box(const std::string& name, const Box& box, std::string* error);
  std::string scenario();
  std::vector<std::string> box_order();

  // Runs fn on the named boxes under their locks and writes them back. Returns the first name
  // that is not a box (then fn does not run), or nullopt.
  std::optional<std::string> update(const std::vector<std::string>& names, const std::function<void(Boxes&)>& fn);

  std::vector<Fault> faults();
  void update_faults(const std::function<void(std::vector<Fault>&)>& fn);

  void append_activity(const json& entry);
  std::string activity();
  bool clear_activity();

 private:
  std::string path(const std::string& leaf) const { return dir_ + "/" + leaf; }
  std::string box_path(const std::string& name) const { return dir_ + "/boxes/" + encode_name(name) + ".json"; }
  std::string box_lock(const std::string& name) const { return dir_ + "/boxes/" + encode_name(name) + ".lock"; }
  std::optional<World> read_index();
  bool write_index(const World& world);

  std::string dir_;
};

}  // namespace sim
