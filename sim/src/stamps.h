// UTC wall-clock stamps in the bridge's "YYYY-MM-DDTHH:MM:SS" form.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace sim {

std::string utc_stamp(int64_t epoch_ms);
// Like utc_stamp with milliseconds and a trailing "Z", for the activity log.
std::string utc_stamp_ms(int64_t epoch_ms);
// Reads the first 19 characters; nullopt when they are not a valid stamp.
std::optional<int64_t> parse_utc_stamp(const std::string& text);

}  // namespace sim
