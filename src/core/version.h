#pragma once

namespace loomdeck {

// Reported by /api/ping, /health, the hello event and the banners; the running-instance
// check only reuses a server whose version text matches this one exactly.
inline constexpr const char* LOOMDECK_VERSION = "1.10.20";

}  // namespace loomdeck
