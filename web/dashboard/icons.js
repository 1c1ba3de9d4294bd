// Line icons drawn in SVG, so the tour's controls show on a machine with no emoji or symbol font.

import { lineIcon } from '../kit/icon.js';

const PATHS = {
  prev: ['M6 5v14', 'M19 5 9 12l10 7z'],
  pause: ['M8 5v14', 'M16 5v14'],
  play: ['M7 5l12 7-12 7z'],
  next: ['M18 5v14', 'M5 5l10 7-10 7z'],
  sound: ['M4 9h4l5-4v14l-5-4H4z', 'M16.5 8.5a5 5 0 0 1 0 7', 'M19 6a8.5 8.5 0 0 1 0 12'],
  muted: ['M4 9h4l5-4v14l-5-4H4z', 'M16 9l6 6', 'M22 9l-6 6'],
  stop: ['M6 6l12 12', 'M18 6 6 18'],
};

// The icon `name` as an svg element.
export const icon = (name) => lineIcon(PATHS[name] || []);

// Shows `name` in the button, in place of what it showed.
export function setIcon(button, name) {
  button.replaceChildren(icon(name));
  button.dataset.icon = name;
}
