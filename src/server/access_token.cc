#include "server/access_token.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "core/text.h"

namespace loomdeck {

namespace {

constexpr std::size_t kTokenBytes = 32;

bool is_token_text(std::string_view text) {
  return text.size() == 2 * kTokenBytes && text.find_first_not_of("0123456789abcdef") == std::string_view::npos;
}

AccessToken unusable(const std::string& path, const std::string& why) {
  return {"", path, "the token file " + path + " " + why};
}

AccessToken read_token(const std::string& path, int fd) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return unusable(path, std::string("cannot be read: ") + std::strerror(errno));
  if (!S_ISREG(st.st_mode)) return unusable(path, "is not a regular file");
  if (st.st_uid != ::geteuid()) return unusable(path, "belongs to another user");
  if ((st.st_mode & 077) != 0) return unusable(path, "is open to other users (it must be mode 0600)");
  char buf[256];
  const ssize_t n = ::read(fd, buf, sizeof buf);
  const std::string text = n > 0 ? std::string(trim(std::string_view(buf, static_cast<std::size_t>(n)))) : "";
  if (!is_token_text(text)) return unusable(path, "holds no token (64 hex digits)");
  return {text, path, ""};
}

}  // namespace

std::string random_hex(std::size_t count) {
  std::string bytes(count, '\0');
  std::size_t got = 0;
  while (got < count) {
    const ssize_t n = ::getrandom(bytes.data() + got, count - got, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return "";
    got += static_cast<std::size_t>(n);
  }
  static constexpr char kHex[] = "0123456789abcdef";
  std::string text;
  for (const char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    text += kHex[b >> 4];
    text += kHex[b & 15];
  }
  return text;
}

AccessToken load_or_create_token(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0 && errno == ELOOP) return unusable(path, "is a symbolic link");
  if (fd >= 0) {
    AccessToken token = read_token(path, fd);
    ::close(fd);
    return token;
  }
  if (errno != ENOENT) return unusable(path, std::string("cannot be read: ") + std::strerror(errno));
  const std::string value = random_hex(kTokenBytes);
  if (value.empty()) return unusable(path, "could not be made: no random bytes");
  fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) {
    // Another server of this user made it first: use theirs.
    if (errno == EEXIST) return load_or_create_token(path);
    return unusable(path, std::string("could not be made: ") + std::strerror(errno));
  }
  const std::string line = value + "\n";
  const bool written =
      ::fchmod(fd, 0600) == 0 && ::write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
  ::close(fd);
  if (!written) {
    ::unlink(path.c_str());
    return unusable(path, "could not be written");
  }
  return {value, path, ""};
}

std::optional<std::string> presented_token(const Headers& headers) {
  if (const auto auth = headers.get("authorization")) {
    const std::string_view text = *auth;
    if (ascii_lower(text.substr(0, 7)) == "bearer ") return std::string(trim(text.substr(7)));
  }
  for (const std::string& cookies : headers.all("cookie")) {
    std::string_view rest = cookies;
    while (!rest.empty()) {
      const std::size_t semi = rest.find(';');
      const std::string_view pair = trim(rest.substr(0, semi));
      const std::size_t eq = pair.find('=');
      if (eq != std::string_view::npos && trim(pair.substr(0, eq)) == kTokenCookie) {
        return std::string(trim(pair.substr(eq + 1)));
      }
      if (semi == std::string_view::npos) break;
      rest.remove_prefix(semi + 1);
    }
  }
  return std::nullopt;
}

bool token_matches(std::string_view presented, const AccessToken& token) {
  if (token.value.empty() || presented.size() != token.value.size()) return false;
  unsigned char differ = 0;
  for (std::size_t i = 0; i < presented.size(); ++i) {
    differ |= static_cast<unsigned char>(presented[i] ^ token.value[i]);
  }
  return differ == 0;
}

std::string location_without_token(std::string_view path, std::string_view query) {
  const std::size_t slash = path.rfind('/');
  std::string location(slash == std::string_view::npos ? path : path.substr(slash + 1));
  if (location.empty()) location = "./";
  std::string kept;
  while (!query.empty()) {
    const std::size_t amp = query.find('&');
    const std::string_view piece = query.substr(0, amp);
    if (!piece.empty() && !piece.starts_with("token=") && piece != "token") {
      kept += kept.empty() ? "" : "&";
      kept += piece;
    }
    if (amp == std::string_view::npos) break;
    query.remove_prefix(amp + 1);
  }
  if (!kept.empty()) location += "?" + kept;
  return escape_url_bytes(location);
}

}  // namespace loomdeck
