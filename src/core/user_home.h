#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

namespace loomdeck {

// The user's home folder: HOME when it is an absolute path, else the home the password database
// gives the effective user (`account_home`). Never /tmp or the working folder: nothing when
// neither names an absolute path.
std::optional<std::string> pick_home(const char* home_env, const std::optional<std::string>& account_home);

// pick_home of this process's HOME and its user's account.
std::optional<std::string> user_home();

// A folder of the user's own, or why it cannot be used and how to fix that.
struct OwnFolder {
  std::string path;
  std::string problem;  // empty when the folder may be used
  std::string hint;
  bool usable() const { return problem.empty(); }
};

// Makes `dir` (mode 0700) when it is missing, then checks that it is a folder owned by `uid`
// that neither the group nor others may write: anyone else who could write there could plant
// links or files for the server to write through or read back.
OwnFolder own_folder(const std::string& dir, uid_t uid);

// ~/.ovra/<name> ("loomdeck", "gantry"), with ~/.ovra checked the same way first.
OwnFolder ovra_folder(const std::string& name);
// The same in a home resolved once (user_home), for a service that uses it again and again.
OwnFolder ovra_folder_in(const std::optional<std::string>& home, const std::string& name);

}  // namespace loomdeck
