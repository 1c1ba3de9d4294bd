#include "http/stream.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

namespace loomdeck {
namespace {

// A write larger than the socket takes at once goes out in pieces; every byte arrives once, in
// order, whatever part boundary a piece ends on.
TEST(SocketStream, PartsArriveWholeAcrossPartialSends) {
  int pair[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair), 0);
  const int small = 4096;
  ::setsockopt(pair[0], SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
  std::vector<std::string> texts;
  std::string expected;
  for (int i = 0; i < 100; ++i) {
    texts.push_back(std::string(static_cast<std::size_t>(i * 977 % 5000), static_cast<char>('a' + i % 26)) + "|");
    if (i % 10 == 0) texts.emplace_back();
  }
  for (const std::string& t : texts) expected += t;
  std::string received;
  std::thread reader([&] {
    char buf[1000];
    ssize_t n;
    while ((n = ::recv(pair[1], buf, sizeof buf, 0)) > 0) received.append(buf, static_cast<std::size_t>(n));
  });
  {
    SocketStream stream(pair[0]);
    const std::vector<std::string_view> parts(texts.begin(), texts.end());
    EXPECT_TRUE(stream.write(std::span<const std::string_view>(parts)));
    ::shutdown(pair[0], SHUT_WR);
  }
  reader.join();
  EXPECT_EQ(received, expected);
  ::close(pair[0]);
  ::close(pair[1]);
}

}  // namespace
}  // namespace loomdeck
