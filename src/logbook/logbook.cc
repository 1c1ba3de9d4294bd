#include "logbook/logbook.h"

#include <ctime>

namespace loomdeck {

std::string iso_utc_seconds(Clock::WallTime t) {
  const std::time_t secs = std::chrono::system_clock::to_time_t(t);
  std::tm parts{};
  ::gmtime_r(&secs, &parts);
  char text[32];
  const std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
  return std::string(text, n);
}

Logbook::Logbook(EventSink& sink, std::size_t keep) : sink_(sink), keep_(keep) {}

void Logbook::attach(std::shared_ptr<LogbookFile> file) {
  std::vector<json> loaded = file ? file->load() : std::vector<json>{};
  std::lock_guard<std::mutex> lock(mutex_);
  // Every entry read tells a box's last states; only the newest are kept.
  for (json& entry : loaded) {
    const std::string box = string_member(entry, "box");
    const std::string led = string_member(entry, "led");
    const json* to = member(entry, "to");
    if (box.empty() || led.empty() || !to || !to->is_string()) continue;
    states_.at(box)[led] = to->get<std::string>();
    entries_.push_back(std::move(entry));
    if (entries_.size() > keep_) entries_.pop_front();
  }
  file_ = std::move(file);
}

void Logbook::record(const BoxStatus& status, Clock::WallTime now) {
  const std::string& box = status.target;
  if (box.empty()) return;
  std::vector<json> added;
  std::shared_ptr<LogbookFile> file;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const BoxStates* known = states_.find(box);
    Transitions t = compare_states(known ? *known : BoxStates{}, status, iso_utc_seconds(now));
    if (t.entries.empty()) return;
    states_.set(box, std::move(t.states));
    for (const json& entry : t.entries) entries_.push_back(entry);
    while (entries_.size() > keep_) entries_.pop_front();
    added = std::move(t.entries);
    file = file_;
  }
  for (const json& entry : added) {
    if (file) file->append(entry);
    sink_.broadcast("logbook", entry);
  }
}

std::vector<json> Logbook::newest(const std::optional<std::string>& box, std::size_t limit) const {
  std::vector<json> picked;
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto it = entries_.rbegin(); it != entries_.rend() && picked.size() < limit; ++it) {
    if (!box || string_member(*it, "box") == *box) picked.push_back(*it);
  }
  return {picked.rbegin(), picked.rend()};
}

}  // namespace loomdeck
