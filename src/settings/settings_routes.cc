#include "settings/settings_routes.h"

#include "http/response.h"
#include "settings/settings.h"

namespace loomdeck {

void handle_get_settings(const SettingsStore& settings, Stream& stream) {
  send_json(stream,
            json{{"_hint",
                  "Dashboard-own settings (container-side). autoGreenOnLaunch: opening the Dashboard actively drives "
                  "every facet to green; off = passive status only. demoPart: the wiki part the Surfaces demo uses."},
                 {"settings", settings.load()}});
}

void handle_post_settings(SettingsStore& settings, ServerLog& log, const Request& request, Stream& stream) {
  const SettingsSave saved = settings.save(request.body);
  if (saved.refused) {
    log.append("settings not saved: " + *saved.refused);
    send_json(stream, json{{"ok", false}, {"why", *saved.refused}, {"_hint", saved.hint}});
    return;
  }
  log.append("settings " + dump_compact(saved.settings));
  send_json(stream, json{{"ok", true}, {"settings", saved.settings}});
}

}  // namespace loomdeck
