#include "http/not_found_page.h"

#include <string>
#include <string_view>

#include "http/response.h"

namespace loomdeck {

namespace {

// Colours are the dashboard's design tokens (web/kit/tokens.css): --bg, --text, --text-body, --accent.
constexpr std::string_view kNotFoundPage =
    "<!doctype html>\n"
    "<html lang=\"en\">\n"
    "<head>\n"
    "<meta charset=\"utf-8\">\n"
    "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
    "<title>Page not found - loomdeck</title>\n"
    "<style>\n"
    "body { margin: 0; min-height: 100vh; display: grid; place-items: center; background: #0d1117; color: #c9d1d9;\n"
    "  font: 16px/1.5 system-ui, -apple-system, 'Segoe UI', sans-serif; }\n"
    "main { max-width: 32rem; padding: 2rem; }\n"
    "h1 { margin: 0 0 0.5rem; font-size: 1.5rem; color: #e6edf3; }\n"
    "a { color: #00b8b1; }\n"
    "a:hover, a:focus { color: #00d4cb; }\n"
    "</style>\n"
    "</head>\n"
    "<body>\n"
    "<main>\n"
    "<h1>Page not found</h1>\n"
    "<p>There is nothing at this address. The link may be old or the address mistyped.</p>\n"
    "<p><a href=\"";
constexpr std::string_view kNotFoundTail =
    "\">Go to the dashboard</a></p>\n"
    "</main>\n"
    "</body>\n"
    "</html>\n";

}  // namespace

std::string dashboard_link(std::string_view path) {
  std::string link;
  for (std::size_t i = 1; i < path.size(); ++i) {
    if (path[i] == '/') link += "../";
  }
  return link.empty() ? "./" : link;
}

void send_not_found_page(Stream& stream, std::string_view path) {
  const std::string page = std::string(kNotFoundPage) + dashboard_link(path) + std::string(kNotFoundTail);
  respond_with(stream, "404 Not Found", "text/html; charset=utf-8", page,
               "Cache-Control: no-store\r\nVary: Accept\r\n");
}

}  // namespace loomdeck
