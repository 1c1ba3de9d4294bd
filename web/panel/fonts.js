// The panel's two web fonts as base64 woff2: the Latin subset of each variable font, normal style.
// Committed empty; scripts/build-web.mjs fills them from the fonts' npm packages (package.json
// pins their versions) when it assembles /newbie-panel.js.

export const FAMILJEN_WOFF2 = '';
export const FIGTREE_WOFF2 = '';
