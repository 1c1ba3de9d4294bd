// The speech text decoder: "+", "%XX" and everything else a query value may hold.
#include <cstddef>
#include <cstdint>
#include <string>

#include "core/text.h"
#include "fuzz_check.h"
#include "tour/tts.h"

using namespace loomdeck;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string raw(reinterpret_cast<const char*>(data), size);

  // Decoding only shrinks text ("%XX" is three bytes for one); a byte that is not UTF-8 is the
  // one thing that grows, into the three bytes of U+FFFD.
  const std::string decoded = decode_query_value(raw);
  FUZZ_CHECK(is_valid_utf8(decoded));
  FUZZ_CHECK(decoded.size() <= 3 * raw.size());
  if (is_valid_utf8(raw)) FUZZ_CHECK(decoded.size() <= raw.size());
  if (raw.find_first_of("%+") == std::string::npos && is_valid_utf8(raw)) FUZZ_CHECK(decoded == raw);

  // The same bytes as a whole query.
  if (const std::optional<std::string_view> value = raw_query_param(raw, "text")) {
    FUZZ_CHECK(value->find('&') == std::string_view::npos);
  }
  const std::optional<std::string> text = tts_text(raw);
  if (!text) return 0;
  FUZZ_CHECK(!text->empty() && text->size() <= kTtsMaxTextBytes);
  FUZZ_CHECK(is_valid_utf8(*text));
  const std::string name = tts_file_name(*text);
  FUZZ_CHECK(name.size() == 20 && name.substr(16) == ".mp3");
  FUZZ_CHECK(name.find_first_not_of("0123456789abcdef") == 16);
  // The text is the fourth argument of the tool, never one that reads as an option, and differs
  // from the text at most by one leading space.
  const std::vector<std::string> argv = tts_command("/tmp/x.mp3", *text);
  FUZZ_CHECK(argv.size() == 5 && !argv[4].starts_with('-'));
  FUZZ_CHECK(argv[4] == *text || argv[4] == " " + *text);
  return 0;
}
