// Keeps the connection card true once the user pressed Connect: while the page is shown it reads
// the listener's state again every 15 s, and at once when it is shown again, so a bridge that went
// away or came back shows as it is. A hidden page reads nothing.

import { connect, recheck, showAge } from './listener.js';

export const RECHECK_MS = 15000;

let timer = null;
let watching = false;

function planRead() {
  clearTimeout(timer);
  timer = document.hidden ? null : setTimeout(readNow, RECHECK_MS);
}

async function readNow() {
  clearTimeout(timer);
  timer = null;
  await recheck();
  planRead();
}

function visibilityChanged() {
  if (document.hidden) {
    clearTimeout(timer);
    timer = null;
    return;
  }
  showAge();
  readNow();
}

// Connect, then keep the card fresh from then on.
export async function connectAndWatch() {
  const found = await connect();
  if (!watching) {
    watching = true;
    document.addEventListener('visibilitychange', visibilityChanged);
  }
  planRead();
  return found;
}
