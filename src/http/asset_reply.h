#pragma once

#include <string>
#include <string_view>

#include "http/assets.h"
#include "http/request.h"
#include "http/stream.h"

namespace loomdeck {

// One of an asset's two representations, picked by the request's Accept-Encoding.
struct Representation {
  std::string_view bytes;
  std::string_view etag;
  // Header lines that go with it: Content-Encoding for the gzip twin, and Vary for any asset
  // that has one (a cache must not hand the twin to a client that did not ask for it).
  std::string headers;
};

Representation choose_representation(const EmbeddedAsset& asset, const Headers& request_headers);

// A static asset the browser may keep but must revalidate: its ETag and `Cache-Control:
// no-cache`; `304 Not Modified` without a body when If-None-Match names the representation's tag.
void serve_asset(Stream& stream, const Request& request, std::string_view content_type, const EmbeddedAsset& asset);

}  // namespace loomdeck
