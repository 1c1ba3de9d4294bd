#include "store.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <memory>
#include <set>

namespace sim {

std::string sim_dir_from_env() {
  if (const char* d = std::getenv("OVRA_SIM_DIR"); d && *d) return d;
  const char* home = std::getenv("HOME");
  return std::string(home && *home ? home : "/tmp") + "/.ovra/sim";
}

FileLock::FileLock(const std::string& path, bool exclusive) {
  fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd_ < 0) return;
  while (::flock(fd_, exclusive ? LOCK_EX : LOCK_SH) != 0) {
    if (errno != EINTR) {
      ::close(fd_);
      fd_ = -1;
      return;
    }
  }
}

FileLock::~FileLock() {
  if (fd_ >= 0) ::close(fd_);  // closing the descriptor releases the lock
}

bool make_dirs(const std::string& path) {
  std::string partial;
  for (size_t i = 0; i <= path.size(); ++i) {
    if (i == path.size() || (path[i] == '/' && i > 0)) {
      partial = path.substr(0, i);
      if (::mkdir(partial.c_str(), 0755) != 0 && errno != EEXIST) return false;
    }
  }
  return true;
}

std::optional<std::string> read_file(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  std::string out;
  char buf[65536];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    out.append(buf, static_cast<size_t>(n));
  }
  ::close(fd);
  return out;
}

bool write_atomic(const std::string& path, const std::string& content) {
  static std::atomic<unsigned> counter{0};
  std::string tmp = path + ".tmp." + std::to_string(::getpid()) + "." + std::to_string(counter++);
  int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  size_t done = 0;
  while (done < content.size()) {
    ssize_t n = ::write(fd, content.data() + done, content.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  bool ok = done == content.size() && ::close(fd) == 0;
  if (!ok || ::rename(tmp.c_str(), path.c_str()) != 0) {
    ::unlink(tmp.c_str());
    return false;
  }
  return true;
}

std::string encode_name(const std::string& name) {
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : name) {
    if (std::isalnum(c) || c == '-' || c == '_') {
      out.push_back(static_cast<char>(c));
    } else {
      out.push_back('%');
      out.push_back(hex[c >> 4]);
      out.push_back(hex[c & 15]);
    }
  }
  return out.empty() ? "%" : out;
}

Store::Store(std::string dir) : dir_(std::move(dir)) { make_dirs(dir_ + "/boxes"); }

std::optional<World> Store::read_index() {
  auto text = read_file(path("world.json"));
  if (!text) return std::nullopt;
  auto j = parse(*text);
  if (!j || !j->is_object() || !(*j)["boxes"].is_array()) return std::nullopt;
  World w;
  w.scenario = string_at(*j, "scenario");
  for (const auto& n : (*j)["boxes"])
    if (n.is_string()) w.order.push_back(n.get<std::string>());
  return w;
}

bool Store::write_index(const World& world) {
  return write_atomic(path("world.json"), dump_pretty({{"scenario", world.scenario}, {"boxes", world.order}}) + "\n");
}

bool Store::ensure_world(int64_t now_ms) {
  if (read_index()) return true;
  FileLock lock(path("world.lock"), true);
  if (read_index()) return true;
  auto demo = make_scenario("demo", now_ms);
  for (const auto& [name, box] : demo->boxes)
    if (!write_atomic(box_path(name), dump_pretty(box_to_json(box)) + "\n")) return false;
  return write_index(*demo);
}

bool Store::reset(const World& world) {
  FileLock lock(path("world.lock"), true);
  if (DIR* d = ::opendir((dir_ + "/boxes").c_str())) {
    while (dirent* e = ::readdir(d)) {
      std::string leaf = e->d_name;
      if (leaf != "." && leaf != "..") ::unlink((dir_ + "/boxes/" + leaf).c_str());
    }
    ::closedir(d);
  }
  for (const auto& [name, box] : world.boxes)
    if (!write_atomic(box_path(name), dump_pretty(box_to_json(box)) + "\n")) return false;
  return write_index(world);
}

bool Store::add_box(const std::string& name, const Box& box, std::string* error) {
  FileLock lock(path("world.lock"), true);
  auto index = read_index();
  if (!index) index = World{"custom", {}, {}};
  if (name.empty() || std::find(index->order.begin(), index->order.end(), name) != index->order.end()) {
    *error = name.empty() ? "a box needs a name" : "there is already a box called " + name;
    return false;
  }
  index->order.push_back(name);
  if (!write_atomic(box_path(name), dump_pretty(box_to_json(box)) + "\n") || !write_index(*index)) {
    *error = "could not write the state of " + name + " under " + dir_;
    return false;
  }
  return true;
}

std::string Store::scenario() {
  FileLock lock(path("world.lock"), false);
  auto index = read_index();
  return index ? index->scenario : "";
}

std::vector<std::string> Store::box_order() {
  FileLock lock(path("world.lock"), false);
  auto index = read_index();
  return index ? index->order : std::vector<std::string>{};
}

std::optional<std::string> Store::update(const std::vector<std::string>& names, const std::function<void(Boxes&)>& fn) {
  FileLock world_lock(path("world.lock"), false);
  auto index = read_index();
  for (const auto& n : names)
    if (!index || std::find(index->order.begin(), index->order.end(), n) == index->order.end()) return n;
  std::set<std::string> sorted(names.begin(), names.end());
  std::vector<std::unique_ptr<FileLock>> locks;
  for (const auto& n : sorted) locks.push_back(std::make_unique<FileLock>(box_lock(n), true));
  Boxes boxes;
  for (const auto& n : sorted) {
    Box box;
    if (auto text = read_file(box_path(n)))
      if (auto j = parse(*text)) {
        std::string error;
        if (auto b = box_from_json(*j, &error)) box = *b;
      }
    boxes[n] = box;
  }
  fn(boxes);
  for (const auto& n : sorted) write_atomic(box_path(n), dump_pretty(box_to_json(boxes[n])) + "\n");
  return std::nullopt;
}

std::vector<Fault> Store::faults() {
  FileLock lock(path("faults.lock"), false);
  auto text = read_file(path("faults.json"));
  auto j = text ? parse(*text) : std::nullopt;
  return j ? faults_from_json(*j) : std::vector<Fault>{};
}

void Store::update_faults(const std::function<void(std::vector<Fault>&)>& fn) {
  FileLock lock(path("faults.lock"), true);
  auto text = read_file(path("faults.json"));
  auto j = text ? parse(*text) : std::nullopt;
  std::vector<Fault> faults = j ? faults_from_json(*j) : std::vector<Fault>{};
  size_t before = faults.size();
  fn(faults);
  if (!faults.empty() || before > 0) write_atomic(path("faults.json"), dump_pretty(faults_to_json(faults)) + "\n");
}

void Store::append_activity(const json& entry) {
  std::string line = dump(entry) + "\n";
  int fd = ::open(path("activity.jsonl").c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return;
  ::flock(fd, LOCK_EX);
  size_t done = 0;
  while (done < line.size()) {
    ssize_t n = ::write(fd, line.data() + done, line.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  ::close(fd);
}

std::string Store::activity() { return read_file(path("activity.jsonl")).value_or(""); }

bool Store::clear_activity() {
  int fd = ::open(path("activity.jsonl").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  ::flock(fd, LOCK_EX);
  bool ok = ::ftruncate(fd, 0) == 0;
  ::close(fd);
  return ok;
}

}  // namespace sim
