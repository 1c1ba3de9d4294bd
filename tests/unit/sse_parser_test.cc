#include "main/sse_parser.h"

#include <gtest/gtest.h>

namespace loomdeck {
namespace {

std::vector<std::pair<std::string, std::string>> pairs(const std::vector<SseEvent>& events) {
  std::vector<std::pair<std::string, std::string>> out;
  for (const SseEvent& e : events) out.emplace_back(e.name, e.data);
  return out;
}

// What the server sends: a filler comment, the hello, a keep-alive, then events; plus the forms
// other servers use (CRLF, several data lines, no event name, unknown fields).
const std::string kStream = ": " + std::string(2048, 'p') + "\n\n" +
                            "event: hello\ndata: {\"version\":\"1.10.20\"}\n\n"
                            ": ping\n\n"
                            "event: state\r\ndata: {\"a\":1}\r\n\r\n"
                            "data:line one\ndata: line two\nid: 7\nretry: 10\n\n"
                            "event: toast\n\n"
                            "event\ndata\n\n";

const std::vector<std::pair<std::string, std::string>> kEvents = {
    {"hello", R"({"version":"1.10.20"})"},
    {"state", R"({"a":1})"},
    {"message", "line one\nline two"},
    {"message", ""},
};

TEST(SseParser, SameEventsWhateverThePiecesAndNoFillerOrKeepAlive) {
  for (const std::size_t piece : {kStream.size(), std::size_t{1}, std::size_t{7}, std::size_t{2050}}) {
    SCOPED_TRACE(piece);
    SseParser parser;
    std::vector<SseEvent> events;
    for (std::size_t at = 0; at < kStream.size(); at += piece) {
      for (SseEvent& e : parser.feed(std::string_view(kStream).substr(at, piece))) events.push_back(std::move(e));
    }
    // A frame without data is no event; "event" alone names none, "data" alone is one empty line.
    EXPECT_EQ(pairs(events), kEvents);
  }
}

TEST(SseParser, AnOverlongLineDropsItsEventOnly) {
  SseParser parser;
  EXPECT_TRUE(parser.feed("event: state\ndata: " + std::string(kMaxSseBytes, 'x')).empty());
  EXPECT_TRUE(parser.feed("more\n\n").empty());
  EXPECT_EQ(pairs(parser.feed("event: toast\ndata: {}\n\n")),
            (std::vector<std::pair<std::string, std::string>>{{"toast", "{}"}}));
}

}  // namespace
}  // namespace loomdeck
