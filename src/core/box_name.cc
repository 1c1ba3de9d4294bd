#include "core/box_name.h"

namespace loomdeck {

std::optional<std::string> box_name_problem(std::string_view box) {
  if (box.size() > kMaxBoxNameBytes) {
    return "box name refused: it is longer than " + std::to_string(kMaxBoxNameBytes) + " bytes";
  }
  for (std::size_t i = 0; i < box.size(); ++i) {
    const auto c = static_cast<unsigned char>(box[i]);
    // C0 controls, DEL, and the C1 controls U+0080-U+009F as UTF-8 (0xC2 0x80-0x9F).
    const bool c1 = c == 0xC2 && i + 1 < box.size() && static_cast<unsigned char>(box[i + 1]) >= 0x80 &&
                    static_cast<unsigned char>(box[i + 1]) <= 0x9F;
    if (c < 0x20 || c == 0x7F || c1) return std::string("box name refused: it holds a control character");
  }
  if (!box.empty() && box.front() == '-') return std::string("box name refused: it starts with \"-\"");
  return std::nullopt;
}

json box_name_refusal(const std::string& problem) {
  return json{{"error", problem},
              {"_hint",
               "Name a box as GET /api/targets lists it: at most 128 bytes, no control characters, not "
               "starting with \"-\"."}};
}

std::string box_label(std::string_view box) { return box.empty() ? "the default box" : std::string(box); }

}  // namespace loomdeck
