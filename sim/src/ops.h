// Completion of the verbs that take simulated time (MCP enabling, sign-in driving, project
// generation, surfaces...): each turns the op into its effect on the box and the answer the
// waiting caller prints.
#pragma once

#include <cstdint>

#include "box.h"

namespace sim {

json complete_op(Box& box, const Op& op, int64_t at_ms);

}  // namespace sim
