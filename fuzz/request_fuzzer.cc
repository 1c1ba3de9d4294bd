// Request reading: the request line, headers, Content-Length and body, as they arrive from a
// socket in pieces of any size.
#include <cstddef>
#include <cstdint>
#include <string>

#include "bridge/targets.h"
#include "fuzz_check.h"
#include "http/request.h"
#include "server/request_gate.h"

using namespace loomdeck;

namespace {

constexpr std::size_t kChunks[] = {1, 2, 3, 7, 64, 1000, 4096, 8192};

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v'; }

// Every line the reader hands out is at most `max` bytes, ends in a newline unless it is the
// last, and together the lines are exactly the input up to where reading stopped.
void check_lines(const std::string& input, std::size_t chunk, std::size_t max) {
  StringSource source(input, chunk);
  LineReader reader(source);
  std::string joined, line;
  for (;;) {
    const LineStatus status = reader.read_line(line, max);
    FUZZ_CHECK(status != LineStatus::kError);
    if (status == LineStatus::kTooLong) {
      const std::size_t at = joined.size();
      const std::size_t nl = input.find('\n', at);
      FUZZ_CHECK(nl == std::string::npos ? input.size() - at > max : nl - at + 1 > max);
      break;
    }
    if (status == LineStatus::kEnd) {
      FUZZ_CHECK(joined == input);
      break;
    }
    FUZZ_CHECK(!line.empty() && line.size() <= max);
    FUZZ_CHECK(line.back() == '\n' || joined.size() + line.size() == input.size());
    joined += line;
    FUZZ_CHECK(input.compare(0, joined.size(), joined) == 0);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t chunk = kChunks[data[0] % std::size(kChunks)];
  const std::string input(reinterpret_cast<const char*>(data) + 1, size - 1);

  check_lines(input, chunk, 1 + data[0] % 97);

  StringSource source(input, chunk);
  LineReader reader(source);
  const std::optional<Request> request = read_request(reader);
  if (!request) return 0;
  FUZZ_CHECK(!request->method.empty());
  for (const char c : request->method) FUZZ_CHECK(!(c >= 'a' && c <= 'z') && !is_space(c));
  FUZZ_CHECK(request->path.find('?') == std::string::npos);
  FUZZ_CHECK(request->query.find('?') == std::string::npos);
  FUZZ_CHECK(is_valid_utf8(request->path));
  if (const std::optional<std::string> box = named_box(request->query)) {
    FUZZ_CHECK(is_valid_utf8(*box));
    FUZZ_CHECK(box->find("%20") == std::string::npos);
  }
  // The gate reads headers of any bytes; what it says goes into replies, the log and toasts.
  static const GateConfig gate =
      gate_config("https://trusted.example", "devbox.lan", "https://ws.example/{{port}}/", "host", 8930);
  const GateVerdict verdict = decide_gate(gate_request(*request, false), gate);
  FUZZ_CHECK(is_valid_utf8(verdict.why) && is_valid_utf8(verdict.culprit));
  FUZZ_CHECK(verdict.allowed == verdict.why.empty());
  // The body is whatever a route will copy and serialise, so it must survive both.
  const json copy = request->body;
  const std::string text = must_dump(copy);
  FUZZ_CHECK(json::parse(text, nullptr, false) == request->body);
  return 0;
}
