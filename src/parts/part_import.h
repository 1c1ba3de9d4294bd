#pragma once

#include <string>

#include "parts/parts_service.h"

namespace loomdeck {

inline constexpr const char* kDefaultImportPage = "tolm/in-s42ata";
// Where imported libraries go on the box.
inline constexpr const char* kImportDest = "C:/Users/pell/AppData/Local/Temp/loomdeck";

// The page an import names: `args.page` when it is a string, else the default page.
std::string import_page(const std::string& args_text);

// The `import_basic_part` action once the box is ready: clone the wiki page, send its library
// to the box and open it in Fusion's library manager, retrying while the main thread is busy.
json import_basic_part(PartsService& ctx, const std::string& box, const std::string& args_text);

// Whether a (unwrapped) fusion_open_lbr answer says Fusion's main thread was busy.
bool open_lbr_met_busy_thread(const json& data);

}  // namespace loomdeck
