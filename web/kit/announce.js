// The page's polite live region (the element with the id "announce"): what changed, read out by a
// screen reader without moving focus. Lines that arrive together are read as one.

import { str } from './values.js';

let toSay = [];
let sayTimer = 0;

// False on a page without the region, which then announces its own way.
export function announce(text) {
  const region = document.getElementById('announce');
  if (!region) return false;
  if (!str(text)) return true;
  toSay.push(str(text));
  clearTimeout(sayTimer);
  sayTimer = setTimeout(() => {
    region.textContent = toSay.join('. ');
    toSay = [];
  }, 100);
  return true;
}
