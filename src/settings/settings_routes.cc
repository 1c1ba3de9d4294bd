#include "settings/settings_routes.h"

#include "http/response.h"
#include "settings/settings.h"

namespace loomdeck {

void handle_get_settings(Exchange& ex) {
  send_json(ex.stream, json{{"_hint", "Dashboard-own settings (container-side). autoGreenOnLaunch: opening the Dashboard actively drives every facet to green; off = passive status only. demoPart: the wiki part the Surfaces demo uses."},
                            {"settings", load_settings()}});
}

void handle_post_settings(Exchange& ex) {
  const json merged = save_settings(ex.request.body);
  ex.state.log.append("settings " + dump_compact(merged));
  send_json(ex.stream, json{{"ok", true}, {"settings", merged}});
}

}  // namespace loomdeck
