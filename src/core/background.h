#pragma once

#include <functional>

namespace loomdeck {

// Puts work on a thread of its own (auto-green runs, status warm-ups). Tests substitute one that
// runs the work in place or holds it back.
using RunInBackground = std::function<void(std::function<void()> work)>;

}  // namespace loomdeck
