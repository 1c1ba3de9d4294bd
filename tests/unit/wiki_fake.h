#pragma once

// A stand-in for `ovra-wiki clone <page> --dir <dir>` on the FakeRunner: it creates <dir> and
// writes the page's files into it; an unknown page exits 1 and writes nothing.

#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "fakes.h"

namespace loomdeck {

using WikiPages = std::map<std::string, std::vector<std::string>>;

inline void install_wiki(FakeRunner& runner, WikiPages pages) {
  runner.on("ovra-wiki", [pages](const std::vector<std::string>& argv, const ProcessOptions&) {
    ProcessResult r;
    r.started = true;
    r.exit_code = 1;
    if (argv.size() != 5 || argv[1] != "clone" || argv[3] != "--dir") return r;
    const auto it = pages.find(argv[2]);
    if (it == pages.end()) return r;
    std::filesystem::create_directories(argv[4]);
    for (const std::string& name : it->second) std::ofstream(std::filesystem::path(argv[4]) / name) << "<eagle/>";
    r.exit_code = 0;
    return r;
  });
}

}  // namespace loomdeck
