// The launch bar: Fusion's start-up progress as the live channel reports it, hidden once done or
// when no report came for a while.

import { $ } from '../kit/dom.js';
import { isObj, nonEmpty, present, str } from '../kit/values.js';

let launchHide = 0;
let launchDone = 0;

// p: a progress event; target: the box the page shows ('' for the default box).
export function showProgress(p, target) {
  if (!isObj(p)) return;
  if (target && nonEmpty(p.target) && p.target !== target) return;
  $('launchbar').hidden = false;
  $('lbLabel').textContent = nonEmpty(p.stepLabel) || 'Fusion is starting';
  const raw = typeof p.percent === 'number' && Number.isFinite(p.percent) ? p.percent : 0;
  const pct = Math.max(0, Math.min(100, raw));
  $('lbFill').style.width = pct + '%';
  $('lbEta').textContent = (present(p.etaSec) ? '~' + str(p.etaSec) + 's left' : '') + '  ' + Math.round(pct) + '%';
  const pieces = [];
  if (present(p.startKind)) pieces.push(str(p.startKind) + ' start');
  if (present(p.confidence)) pieces.push(str(p.confidence) + (p.confidence === 'measured' ? ' from this machine’s own history' : ''));
  if (present(p.elapsedSec)) pieces.push(str(p.elapsedSec) + 's elapsed');
  $('lbNote').textContent = pieces.join(' · ');
  const hide = () => { $('launchbar').hidden = true; };
  clearTimeout(launchHide);
  clearTimeout(launchDone);
  launchHide = setTimeout(hide, 25000);
  if (pct >= 100) launchDone = setTimeout(hide, 1500);
}

