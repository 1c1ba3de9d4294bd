// Line icons drawn in SVG, so the tour's controls show on a machine with no emoji or symbol font.

const SVG = 'http://www.w3.org/2000/svg';

const PATHS = {
  prev: ['M6 5v14', 'M19 5 9 12l10 7z'],
  pause: ['M8 5v14', 'M16 5v14'],
  play: ['M7 5l12 7-12 7z'],
  next: ['M18 5v14', 'M5 5l10 7-10 7z'],
  sound: ['M4 9h4l5-4v14l-5-4H4z', 'M16.5 8.5a5 5 0 0 1 0 7', 'M19 6a8.5 8.5 0 0 1 0 12'],
  muted: ['M4 9h4l5-4v14l-5-4H4z', 'M16 9l6 6', 'M22 9l-6 6'],
  stop: ['M6 6l12 12', 'M18 6 6 18'],
};

// The icon `name` as an svg element, hidden from assistive technology (its button carries the name).
export function icon(name) {
  const svg = document.createElementNS(SVG, 'svg');
  svg.setAttribute('viewBox', '0 0 24 24');
  svg.setAttribute('fill', 'none');
  svg.setAttribute('stroke', 'currentColor');
  svg.setAttribute('stroke-width', '1.8');
  svg.setAttribute('stroke-linecap', 'round');
  svg.setAttribute('stroke-linejoin', 'round');
  svg.setAttribute('aria-hidden', 'true');
  for (const d of PATHS[name] || []) {
    const path = document.createElementNS(SVG, 'path');
    path.setAttribute('d', d);
    svg.append(path);
  }
  return svg;
}

// Shows `name` in the button, in place of what it showed.
export function setIcon(button, name) {
  button.replaceChildren(icon(name));
  button.dataset.icon = name;
}
