#include "core/user_home.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#include "core/utf8.h"

namespace loomdeck {

namespace {

std::optional<std::string> account_home() {
  long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
  passwd entry{};
  passwd* found = nullptr;
  if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found || !found->pw_dir) {
    return std::nullopt;
  }
  return std::string(found->pw_dir);
}

bool absolute(const std::string& path) { return !path.empty() && path[0] == '/'; }

}  // namespace

std::optional<std::string> pick_home(const char* home_env, const std::optional<std::string>& account) {
  if (home_env && absolute(home_env)) return std::string(home_env);
  if (account && absolute(*account)) return account;
  return std::nullopt;
}

std::optional<std::string> user_home() { return pick_home(std::getenv("HOME"), account_home()); }

OwnFolder own_folder(const std::string& dir, uid_t uid) {
  OwnFolder folder{dir, "", ""};
  const std::string shown = lenient_utf8(dir);
  if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
    folder.problem = "cannot make the folder " + shown + ": " + std::strerror(errno);
    folder.hint =
        "Check that your home folder exists and is yours: ls -ld " + lenient_utf8(dir.substr(0, dir.rfind('/')));
    return folder;
  }
  struct stat st {};
  if (::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    folder.problem = shown + " is not a folder";
    folder.hint = "Move it aside (mv " + shown + " " + shown + ".old); it is made anew.";
  } else if (st.st_uid != uid) {
    folder.problem = shown + " belongs to another user (uid " + std::to_string(st.st_uid) + ")";
    folder.hint =
        "It is not yours, so nothing is kept there. Move it aside as its owner or root, or set HOME to a "
        "folder of your own.";
  } else if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    folder.problem = shown + " may be written by others";
    folder.hint = "Make it yours alone: chmod go-w " + shown;
  }
  return folder;
}

OwnFolder ovra_folder(const std::string& name) { return ovra_folder_in(user_home(), name); }

OwnFolder ovra_folder_in(const std::optional<std::string>& home, const std::string& name) {
  if (!home) {
    return {"", "no home folder: HOME is not an absolute path and the password database has none for this user",
            "Set HOME to your home folder (export HOME=/home/you)."};
  }
  const std::filesystem::path ovra = std::filesystem::path(*home) / ".ovra";
  OwnFolder parent = own_folder(ovra.string(), ::geteuid());
  if (!parent.usable()) return parent;
  return own_folder((ovra / name).string(), ::geteuid());
}

}  // namespace loomdeck
