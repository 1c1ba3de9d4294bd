#pragma once

#include <string_view>

namespace loomdeck {

// Orders two version texts numerically: white space trimmed, leading "v"s dropped, split on ".",
// pieces compared left to right with a missing piece counting as 0. A piece is read from its
// leading decimal digits only, so "20-rc1" reads as 20 and a piece without leading digits
// ("beta", "") reads as 0; a run of digits too long for 64 bits reads as the largest value.
// This way a garbled peer version counts as old and never makes a server retire, while a
// pre-release of a newer version still counts as newer.
// Negative when `a` is lower, 0 when numerically equal, positive when `a` is higher.
int compare_versions(std::string_view a, std::string_view b);

}  // namespace loomdeck
