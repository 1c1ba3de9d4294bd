#include "http/asset_reply.h"

#include "http/negotiation.h"
#include "http/response.h"

namespace loomdeck {

Representation choose_representation(const EmbeddedAsset& asset, const Headers& request_headers) {
  // A twin no smaller than the bytes (a tiny icon) is not worth the client's inflating.
  if (asset.gzip.empty() || asset.gzip.size() >= asset.bytes.size()) return {asset.bytes, asset.etag, ""};
  if (!accepts_gzip(request_headers)) return {asset.bytes, asset.etag, "Vary: Accept-Encoding\r\n"};
  return {asset.gzip, asset.gzip_etag, "Content-Encoding: gzip\r\nVary: Accept-Encoding\r\n"};
}

void serve_asset(Stream& stream, const Request& request, std::string_view content_type, const EmbeddedAsset& asset) {
  const Representation chosen = choose_representation(asset, request.headers);
  const std::string validators =
      "ETag: " + std::string(chosen.etag) + "\r\nCache-Control: no-cache\r\n" + chosen.headers;
  for (const std::string& held : request.headers.all("if-none-match")) {
    if (!if_none_match_hits(held, chosen.etag)) continue;
    stream.write(
        {"HTTP/1.1 304 Not Modified\r\n", validators, "Access-Control-Allow-Origin: *\r\nConnection: close\r\n\r\n"});
    return;
  }
  respond_with(stream, "200 OK", content_type, chosen.bytes, validators);
}

}  // namespace loomdeck
