#include "http/byte_source.h"

#include <algorithm>
#include <cstring>

namespace loomdeck {

ssize_t StringSource::read(char* buf, std::size_t n) {
  const std::size_t take = std::min({n, chunk_, data_.size() - pos_});
  std::memcpy(buf, data_.data() + pos_, take);
  pos_ += take;
  return static_cast<ssize_t>(take);
}

bool LineReader::fill() {
  if (failed_) return false;
  begin_ = 0;
  const ssize_t n = source_.read(buf_.get(), kBufferSize);
  if (n <= 0) {
    end_ = 0;
    if (n < 0) failed_ = true;
    return false;
  }
  end_ = static_cast<std::size_t>(n);
  return true;
}

LineStatus LineReader::read_line(std::string& line, std::size_t max_bytes) {
  line.clear();
  for (;;) {
    if (begin_ == end_ && !fill()) {
      if (failed_) return LineStatus::kError;
      return line.empty() ? LineStatus::kEnd : LineStatus::kLine;
    }
    const char* start = buf_.get() + begin_;
    const void* nl = std::memchr(start, '\n', end_ - begin_);
    const std::size_t take = nl ? static_cast<const char*>(nl) - start + 1 : end_ - begin_;
    if (line.size() + take > max_bytes) return LineStatus::kTooLong;
    line.append(start, take);
    begin_ += take;
    if (nl) return LineStatus::kLine;
  }
}

std::size_t LineReader::read_exact(char* out, std::size_t n) {
  std::size_t got = 0;
  while (got < n) {
    if (begin_ == end_ && !fill()) break;
    const std::size_t take = std::min(n - got, end_ - begin_);
    std::memcpy(out + got, buf_.get() + begin_, take);
    begin_ += take;
    got += take;
  }
  return got;
}

}  // namespace loomdeck
