// Toasts: one short line each in the page's stack (the element with the id "toasts"), gone on
// their own after a few seconds; an error stays longer (or, where the page asks, until dismissed)
// and is announced as an alert, the rest through the polite live region. The last 50 are kept,
// with their times, so a page can show them again.

import { announce } from './announce.js';
import { $, el } from './dom.js';
import { str } from './values.js';

const shape = { newestFirst: false, errMs: 7000, errStays: false, onShow: null };
const HISTORY_KEEP = 50;
const history = [];
const watchers = [];

// How this page stacks its toasts: newest on top or at the end, how long an error stays (or
// errStays: until dismissed), and what to do when one shows.
export function shapeToasts(options) {
  Object.assign(shape, options);
}

// Puts a toast into a stack, newest first or last, and takes it out after lifeMs (never for 0).
export function postToast(stack, node, lifeMs, newestFirst) {
  if (newestFirst) stack.prepend(node);
  else stack.append(node);
  if (lifeMs > 0) setTimeout(() => node.remove(), lifeMs);
  return node;
}

// Keeps a shown message for the history: {at (ms), text, kind}.
export function noteToast(text, kind) {
  history.push({ at: Date.now(), text: str(text), kind: str(kind) });
  if (history.length > HISTORY_KEEP) history.shift();
  for (const fn of watchers) fn();
}

// The kept messages, newest first.
export const toastHistory = () => history.slice().reverse();

export function watchToasts(fn) {
  watchers.push(fn);
}

function dismissButton(t) {
  const b = el('button', 'tclose');
  b.type = 'button';
  b.setAttribute('aria-label', 'Dismiss');
  b.addEventListener('click', () => t.remove());
  return b;
}

export function toast(message, kind) {
  const err = kind === 'err';
  const stays = err && shape.errStays;
  const t = el('div', 'toast' + (kind === 'ok' || err ? ' ' + kind : ''), stays ? undefined : str(message));
  if (stays) t.append(el('span', 'ttext', str(message)), dismissButton(t));
  if (err) t.setAttribute('role', 'alert');
  else if (!announce(message)) t.setAttribute('role', 'status');
  postToast($('toasts'), t, stays ? 0 : err ? shape.errMs : 4000, shape.newestFirst);
  noteToast(message, kind);
  if (shape.onShow) shape.onShow();
  return t;
}
