#pragma once

#include <sys/types.h>

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace loomdeck {

// Where a request's bytes come from: a socket in the server, a string in the tests.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Bytes read (> 0), 0 at end of input, < 0 on an error or an expired deadline.
  virtual ssize_t read(char* buf, std::size_t n) = 0;
};

class StringSource : public ByteSource {
 public:
  explicit StringSource(std::string data, std::size_t chunk = 4096) : data_(std::move(data)), chunk_(chunk) {}
  ssize_t read(char* buf, std::size_t n) override;

 private:
  std::string data_;
  std::size_t pos_ = 0;
  std::size_t chunk_;
};

enum class LineStatus { kLine, kEnd, kError, kTooLong };

// A buffered reader over a ByteSource that never holds more than one bounded line. The buffer
// is on the heap: a connection thread's stack then keeps only the pages its route touches.
class LineReader {
 public:
  static constexpr std::size_t kBufferSize = 8192;

  explicit LineReader(ByteSource& source) : source_(source) {}

  // Reads up to and including the next newline into `line` (newline kept). At end of input a
  // partial line counts as a line; nothing at all is kEnd. More than `max_bytes` is kTooLong.
  LineStatus read_line(std::string& line, std::size_t max_bytes);

  // Reads up to n bytes into out[0..n); returns how many arrived before end of input or an error.
  std::size_t read_exact(char* out, std::size_t n);

 private:
  bool fill();

  ByteSource& source_;
  std::unique_ptr<char[]> buf_ = std::make_unique_for_overwrite<char[]>(kBufferSize);
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
  bool failed_ = false;
};

}  // namespace loomdeck
