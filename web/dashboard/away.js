// Telling the user who looked away: the tab's title and icon, and notifications.

import { $, storeGet } from '../kit/dom.js';
import { isObj, nonEmpty, str } from '../kit/values.js';
import { bridgeSilent, contactLost } from './evidence.js';
import { knownLabel } from './leds.js';
import { boxLabel, boxSubject } from './state.js';

// While the page is hidden, the shown box leaving all green or its bridge falling silent marks the
// tab (title and icon) until the box is all green again, and, with "Notify me" on, sends one
// notification per change. A drive started here that ends all green is told the same way.
const ALERT_PREFIX = '(!) ';
const PAGE_TITLE = document.title;
const DRIVE_DONE = 'All green - ready to go';
const away = { green: null, answering: null, mark: '', icon: null };
let drive = false;  // a drive to green started from this page is under way

export const notifyOn = () => storeGet('ldNotify') === '1';
export const notifyAllowed = () => typeof Notification !== 'undefined' && Notification.permission === 'granted';

function notify(message) {
  if (!notifyOn() || !notifyAllowed()) return;
  try { new Notification(message); } catch { /* a browser that offers no page notifications */ }
}

// The icon with a coloured dot, from the served icon (or a plain square when it can't be read).
async function dottedIcon(colour) {
  if (away.icon === null) {
    try { away.icon = await (await fetch('favicon.svg', { cache: 'force-cache' })).text(); } catch { away.icon = ''; }
    if (!away.icon.includes('</svg>')) away.icon = '<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 24 24"><rect x="2" y="2" width="20" height="20" rx="5" fill="#1f6feb"/></svg>';
  }
  const dot = '<circle cx="18" cy="6" r="5.5" fill="' + colour + '" stroke="#0d1117" stroke-width="1.5"/>';
  return 'data:image/svg+xml,' + encodeURIComponent(away.icon.replace('</svg>', dot + '</svg>'));
}

// kind: 'alarm' (red dot), 'done' (green dot) or '' (the page as it was). Title and icon change
// together, once the icon is drawn, so the tab never shows half a mark.
async function markTab(kind) {
  away.mark = kind;
  const link = document.querySelector('link[rel=icon]');
  const href = kind ? await dottedIcon(kind === 'alarm' ? '#f85149' : '#3fb950') : 'favicon.svg';
  if (away.mark !== kind) return;
  document.title = (kind ? ALERT_PREFIX : '') + PAGE_TITLE;
  link.setAttribute('href', href);
  link.dataset.mark = kind;
}

function alarm(message) {
  markTab('alarm');
  notify(message);
}

// What changed, for a notification: the first LED that is no longer on.
function leftGreen(s, states) {
  const box = boxLabel(s.target);
  const keys = Array.from($('ledGrid').querySelectorAll('.ledpill')).map((p) => p.dataset.led);
  const at = states.findIndex((st) => st !== 'ok');
  const key = keys[at];
  if (key === 'fusionRunning') return 'Fusion on ' + box + ' stopped - open loomdeck';
  const led = isObj(s.leds) && isObj(s.leds[key]) ? s.leds[key] : {};
  return (nonEmpty(led.label) || knownLabel(str(key))) + ' on ' + box + ' is no longer green - open loomdeck';
}

// Called with every decision about the LEDs. Only what a snapshot or the lost server says counts
// here, never age alone: a hidden page's timers are slowed by the browser.
export function watchAway(s, states) {
  const answering = !contactLost() && !bridgeSilent(s);
  const green = answering && states.length > 0 && states.every((st) => st === 'ok');
  if (document.hidden) {
    if (away.answering === true && !answering) {
      alarm(contactLost() ? 'Lost contact with loomdeck - open loomdeck' : boxSubject(s.target) + "'s bridge is not answering - open loomdeck");
    } else if (away.green === true && !green && answering) {
      alarm(leftGreen(s, states));
    }
  }
  if (green && away.mark === 'alarm') markTab('');
  away.green = green;
  away.answering = answering;
}

export function driveStarted() { drive = true; }

// The run's closing toast ends a drive started here; all green while hidden is told.
export function driveToast(message) {
  if (!drive || typeof message !== 'string' || !(message === DRIVE_DONE || message.startsWith('Ready except: '))) return;
  drive = false;
  if (message !== DRIVE_DONE || !document.hidden) return;
  if (away.mark !== 'alarm') markTab('done');
  notify(DRIVE_DONE);
}

// readAgain: the status read of the shown box.
export function wireAway(readAgain) {
  document.addEventListener('visibilitychange', () => {
    if (document.hidden) return;
    if (away.mark === 'done') markTab('');
    // Timers of a hidden page run late: the page reads the box again as it comes back.
    readAgain();
  });
}
