// The about box: shown while the pointer rests on the brand, with the dashboard's and the bridge's
// versions and where to read about the bridge.

import { $, el } from '../kit/dom.js';
import { nonEmpty } from '../kit/values.js';
import { BRIDGE_WIKI_PAGE } from '../kit/wiki.js';

let aboutShow = 0;
let aboutHide = 0;

function showAbout(versions) {
  const box = $('appinfo');
  const brand = $('brandZone');
  const { status, bridgeVersion } = versions();
  const s = status || {};
  const link = el('a', null, 'Ovra Bridge on the parts wiki');
  link.href = BRIDGE_WIKI_PAGE;
  link.target = '_blank';
  link.rel = 'noopener noreferrer';
  const vers = el('div', 'vers', 'dashboard v' + (nonEmpty(s.dashboardVersion) || '?') + ' · bridge v' +
    (nonEmpty(s.bridgeVersion) || bridgeVersion || '?'));
  const linkLine = el('div');
  linkLine.append(link);
  box.replaceChildren(el('b', null, 'Loomdeck'), vers,
    el('div', null, 'Engine: loomdeck serve, driving Fusion through ovra-bridge on the selected box'), linkLine);
  box.hidden = false;
  brand.classList.add('about-open');
  const r = brand.getBoundingClientRect();
  const w = box.offsetWidth;
  const h = box.offsetHeight;
  const left = Math.max(8, Math.min(r.left, window.innerWidth - 8 - w));
  const top = Math.max(8, Math.min(r.bottom + 8, window.innerHeight - 8 - h));
  box.style.left = left + 'px';
  box.style.top = top + 'px';
}

function hideAbout() {
  $('appinfo').hidden = true;
  $('brandZone').classList.remove('about-open');
}

// versions() gives the last status and the last bridge version heard of.
export function wireAbout(versions) {
  const brand = $('brandZone');
  const box = $('appinfo');
  $('bpWiki').href = BRIDGE_WIKI_PAGE;
  brand.addEventListener('mouseenter', () => {
    clearTimeout(aboutHide);
    clearTimeout(aboutShow);
    aboutShow = setTimeout(() => showAbout(versions), 600);
  });
  brand.addEventListener('mouseleave', () => {
    clearTimeout(aboutShow);
    aboutHide = setTimeout(hideAbout, 220);
  });
  box.addEventListener('mouseenter', () => clearTimeout(aboutHide));
  box.addEventListener('mouseleave', () => { aboutHide = setTimeout(hideAbout, 220); });
}

