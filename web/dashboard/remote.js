// The tour's remote control: a page opened with ?remote=<tour id> shows only the tour's progress
// and buttons to step, pause and end it.

import { $, el } from '../kit/dom.js';
import { payload, replyError } from '../kit/reply.js';
import { isObj, nonEmpty, str } from '../kit/values.js';
import { icon, setIcon } from './icons.js';

const REMOTE_POLL_MS = 2000;

function remoteButton(bid, glyph, tipText) {
  const b = el('button', 'iconbtn');
  setIcon(b, glyph);
  b.type = 'button';
  b.id = bid;
  b.setAttribute('aria-label', tipText);
  b.setAttribute('data-tip', tipText);
  return b;
}

// Replaces the page's content with the remote's panel; returns its parts.
function buildRemote() {
  const panel = el('div', 'rpanel');
  const bar = el('progress');
  bar.id = 'rBar';
  bar.max = 100;
  bar.value = 0;
  const label = el('div', null, '');
  label.id = 'rLabel';
  const caption = el('div', null, '');
  caption.id = 'rCaption';
  const prev = remoteButton('rPrev', 'prev', 'Replay previous view');
  const pause = remoteButton('rPause', 'pause', 'Pause / resume');
  const next = remoteButton('rNext', 'next', 'Skip upcoming step');
  const exit = el('button', null, 'Exit tour');
  exit.type = 'button';
  exit.id = 'rExit';
  exit.setAttribute('data-tip', 'End the tour');
  exit.prepend(icon('stop'));
  const row1 = el('div', 'row');
  row1.append(prev, pause, next);
  const row2 = el('div', 'row');
  row2.append(exit);
  panel.append(el('h2', null, 'Fusion Tour'), bar, label, caption, row1, row2);
  $('main').replaceChildren(panel);
  return { bar, label, caption, prev, pause, next, exit, exited: false };
}

// The buttons send tour_control, trying once more when the first request fails.
function wireRemote(id, act, r) {
  const send = async (action) => {
    const args = { demoId: id, action };
    try {
      return await act('tour_control', args);
    } catch {
      try { return await act('tour_control', args); } catch { return null; }
    }
  };
  let paused = false;
  r.prev.addEventListener('click', () => send('prev'));
  r.next.addEventListener('click', () => send('next'));
  r.exit.addEventListener('click', async () => {
    const reply = await send('exit');
    if (reply && !replyError(reply)) r.exited = true;
  });
  r.pause.addEventListener('click', async () => {
    const reply = await send(paused ? 'resume' : 'pause');
    if (!reply || replyError(reply)) return;
    paused = !paused;
    setIcon(r.pause, paused ? 'play' : 'pause');
  });
}

// Shows the tour's progress until it ends.
async function pollRemote(id, act, r) {
  let d;
  try {
    d = payload(await act('tour_progress', { demoId: id, imagesAs: 'paths', sinceShot: 9999 }));
  } catch {
    setTimeout(() => pollRemote(id, act, r), REMOTE_POLL_MS);
    return;
  }
  if (!isObj(d)) d = {};
  const pct = typeof d.percent === 'number' && Number.isFinite(d.percent) ? d.percent : 0;
  r.bar.value = Math.max(0, Math.min(100, pct));
  r.label.textContent = pct + '%  ' + str(d.stepLabel);
  if (nonEmpty(d.stepCaption)) r.caption.textContent = d.stepCaption;
  if (d.done === true) {
    // An exit pressed here or on the dashboard ends the tour early: stopped, not complete.
    r.label.textContent = r.exited || d.exited === true ? 'Tour stopped' : d.failed === true ? 'stopped: ' + str(d.error) : 'Tour complete';
    return;
  }
  setTimeout(() => pollRemote(id, act, r), REMOTE_POLL_MS);
}

// id: the tour's demo id; act(action, args) posts an action to the shown box.
export function startRemote(id, act) {
  document.title = 'Fusion Tour Remote';
  document.body.classList.add('remote');
  const parts = buildRemote();
  wireRemote(id, act, parts);
  pollRemote(id, act, parts);
}
