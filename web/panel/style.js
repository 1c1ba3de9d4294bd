// The panel's style sheet (web/panel/style.css) as one string. Committed empty;
// scripts/build-web.mjs fills it, with the design tokens written as their values, when it
// assembles /newbie-panel.js.

export const PANEL_CSS = '';
