#include "main/version_order.h"

#include <cstdint>
#include <limits>
#include <vector>

#include "core/text.h"

namespace loomdeck {

namespace {

// The piece's leading digits ("3rc1" is 3, "rc1" and "" are 0); past the largest number it stays there.
uint64_t piece_value(std::string_view piece) {
  const std::string_view digits = piece.substr(0, piece.find_first_not_of("0123456789"));
  if (digits.empty()) return 0;
  return parse_digits(digits).value_or(std::numeric_limits<uint64_t>::max());
}

std::vector<uint64_t> version_pieces(std::string_view text) {
  text = trim(text);
  while (!text.empty() && text.front() == 'v') text.remove_prefix(1);
  std::vector<uint64_t> pieces;
  for (;;) {
    const std::size_t dot = text.find('.');
    pieces.push_back(piece_value(text.substr(0, dot)));
    if (dot == std::string_view::npos) return pieces;
    text.remove_prefix(dot + 1);
  }
}

}  // namespace

int compare_versions(std::string_view a, std::string_view b) {
  const std::vector<uint64_t> pa = version_pieces(a);
  const std::vector<uint64_t> pb = version_pieces(b);
  for (std::size_t i = 0; i < pa.size() || i < pb.size(); ++i) {
    const uint64_t x = i < pa.size() ? pa[i] : 0;
    const uint64_t y = i < pb.size() ? pb[i] : 0;
    if (x != y) return x < y ? -1 : 1;
  }
  return 0;
}

}  // namespace loomdeck
