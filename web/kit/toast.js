// Toasts: one short line each in the page's stack (the element with the id "toasts"), gone on
// their own after a few seconds; an error stays longer and is announced as an alert.

import { $, el } from './dom.js';
import { str } from './values.js';

const shape = { newestFirst: false, errMs: 7000, onShow: null };

// How this page stacks its toasts: newest on top or at the end, how long an error stays, and
// what to do when one shows (a stack in the top layer lifts itself above an open dialog).
export function shapeToasts(options) {
  Object.assign(shape, options);
}

// Puts a toast into a stack, newest first or last, and takes it out after lifeMs.
export function postToast(stack, node, lifeMs, newestFirst) {
  if (newestFirst) stack.prepend(node);
  else stack.append(node);
  setTimeout(() => node.remove(), lifeMs);
  return node;
}

export function toast(message, kind) {
  const t = el('div', 'toast' + (kind === 'ok' || kind === 'err' ? ' ' + kind : ''), str(message));
  t.setAttribute('role', kind === 'err' ? 'alert' : 'status');
  postToast($('toasts'), t, kind === 'err' ? shape.errMs : 4000, shape.newestFirst);
  if (shape.onShow) shape.onShow();
  return t;
}
