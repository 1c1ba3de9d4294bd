// ovra-wiki stand-in: `clone <owner/slug> --dir <dir>` copies a page's published files from
// fixtures (sim/fixtures/wiki/<owner>/<slug>/, or $OVRA_WIKI_FIXTURES/<owner>/<slug>/).
#pragma once

#include <string>
#include <vector>

#include "app.h"

namespace sim {

std::string wiki_fixtures_dir();
// Only plain "owner/slug" references name a page; anything else (.., extra slashes) does not.
bool valid_page_ref(const std::string& page);
RunResult wiki_command(const std::vector<std::string>& args, const std::string& fixtures);

}  // namespace sim
