#pragma once

#include <optional>
#include <string_view>

namespace loomdeck {

// A file under web/ as compiled into the executable, with what the build made of it.
struct EmbeddedAsset {
  std::string_view bytes;
  std::string_view etag;       // a strong validator of `bytes`, quoted
  std::string_view gzip;       // the same bytes gzip-compressed; empty for what does not compress
  std::string_view gzip_etag;  // the validator of `gzip`, distinct from `etag`
};

// The asset at a path relative to web/ (e.g. "index.html", "audio/intro.mp3").
std::optional<EmbeddedAsset> embedded_asset_entry(std::string_view path);

// Its bytes alone.
std::optional<std::string_view> embedded_asset(std::string_view path);

}  // namespace loomdeck
