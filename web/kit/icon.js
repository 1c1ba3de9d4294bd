// Line drawings (24 by 24, stroked in the current colour) as svg elements, hidden from assistive
// technology: the control that shows one carries its name.

const SVG = 'http://www.w3.org/2000/svg';

// paths: the drawing's path data; size: its width and height in px (else the page's style sizes it).
export function lineIcon(paths, { size, strokeWidth = 1.8 } = {}) {
  const svg = document.createElementNS(SVG, 'svg');
  svg.setAttribute('viewBox', '0 0 24 24');
  if (size) {
    svg.setAttribute('width', String(size));
    svg.setAttribute('height', String(size));
  }
  for (const [name, value] of [['fill', 'none'], ['stroke', 'currentColor'], ['stroke-width', String(strokeWidth)],
    ['stroke-linecap', 'round'], ['stroke-linejoin', 'round'], ['aria-hidden', 'true'], ['focusable', 'false']]) {
    svg.setAttribute(name, value);
  }
  for (const d of paths) {
    const path = document.createElementNS(SVG, 'path');
    path.setAttribute('d', d);
    svg.append(path);
  }
  return svg;
}
