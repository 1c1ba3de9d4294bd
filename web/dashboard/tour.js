// The guided tour: started here or by the panel's demo button, its progress, gallery and caption
// polled from the box, and its transport (previous, pause, next, mute, exit).

import { $, el } from '../kit/dom.js';
import { payload } from '../kit/reply.js';
import { toast } from '../kit/toast.js';
import { isObj, nonEmpty, str } from '../kit/values.js';
import { icon, setIcon } from './icons.js';
import { imageElement, imageSrc } from './images.js';
import {
  paintMute,
  pauseNarration,
  queueNarration,
  recallMuted,
  resumeNarration,
  stopNarration,
  toggleMute,
} from './narration.js';

let tour = null;
let tourAct = null;

export async function startTour() {
  toast('starting the guided tour (background)');
  let r;
  try {
    r = await tourAct('tour');
  } catch (e) {
    toast('tour failed to start: ' + e.message, 'err');
    return;
  }
  const d = payload(r);
  const demoId = (isObj(d) && nonEmpty(d.demoId)) || (isObj(r) && nonEmpty(r.demoId));
  if (!demoId) {
    toast('tour failed to start: ' + ((isObj(d) && str(d.error)) || (isObj(r) && str(r.error)) || 'unknown'), 'err');
    return;
  }
  stopNarration();
  const steps = (isObj(d) && Array.isArray(d.steps) && d.steps) || (isObj(r) && Array.isArray(r.steps) && r.steps) || [];
  tour = { demoId, steps, cursor: 0, views: 0, lastCaption: null, inFlight: false, paused: false, exited: false };
  const bar = $('tourBar');
  bar.value = 0;
  bar.hidden = false;
  $('tourGallery').replaceChildren();
  $('tourTransport').hidden = false;
  setIcon($('ttPause'), 'pause');
  $('ttStep').textContent = 'step -/-';
  recallMuted();
  paintMute();
  pollTour(tour);
}

function addShot(shot) {
  const src = imageSrc(shot.image);
  if (!src) return false;
  const label = nonEmpty(shot.label) || nonEmpty(shot.title) || 'step';
  const fig = el('figure', 'shot');
  fig.append(el('figcaption', null, label), imageElement(src, label));
  $('tourGallery').append(fig);
  return true;
}

// One poll at a time, each scheduled by the previous reply, so a slow reply can't stack polls.
async function pollTour(t) {
  if (tour !== t || t.inFlight) return;
  t.inFlight = true;
  let r;
  try {
    r = await tourAct('tour_progress', { demoId: t.demoId, imagesAs: 'base64', sinceShot: t.cursor });
  } catch {
    t.inFlight = false;
    if (tour === t) setTimeout(() => pollTour(t), 4000);
    return;
  }
  t.inFlight = false;
  if (tour !== t) return;
  const d = isObj(payload(r)) ? payload(r) : {};
  const shots = Array.isArray(d.shots) ? d.shots : [];
  for (const shot of shots) {
    if (isObj(shot) && shot.image && addShot(shot)) t.views++;
  }
  t.cursor = typeof d.shotCount === 'number' ? d.shotCount : t.cursor + shots.length;
  const pct = typeof d.percent === 'number' && Number.isFinite(d.percent) ? d.percent : 0;
  $('tourBar').value = Math.max(0, Math.min(100, pct));
  const views = t.views + ' views captured';
  $('tourLabel').textContent = pct + '% ' + str(d.stepLabel) + (t.views ? '  -  ' + views : '');
  if (nonEmpty(d.stepCaption) && d.stepCaption !== t.lastCaption) {
    t.lastCaption = d.stepCaption;
    $('tourCaption').textContent = d.stepCaption;
    queueNarration(d.stepCaption, nonEmpty(d.step));
  }
  const position = t.steps.findIndex((s) => isObj(s) && s.step === d.step);
  if (position >= 0) $('ttStep').textContent = 'step ' + (position + 1) + '/' + t.steps.length;
  if (d.done === true) {
    tour = null;
    $('tourTransport').hidden = true;
    stopNarration();
    const failed = d.failed === true;
    // An exit the user pressed ends the tour early: it was stopped, not completed.
    const exited = t.exited || d.exited === true;
    const end = exited ? 'tour stopped' : failed ? 'tour stopped: ' + str(d.error) : 'tour complete';
    $('tourLabel').textContent = end + '  -  ' + views;
    if (failed && !exited) toast('tour failed: ' + str(d.error), 'err');
    else toast(end + ': ' + views, exited ? undefined : 'ok');
    return;
  }
  setTimeout(() => pollTour(t), 2500);
}

// Sent once more before any message: a slow relay hop must not eat a pause click.
async function tourControl(action) {
  const t = tour;
  if (!t) return false;
  const args = { demoId: t.demoId, action };
  let r;
  try {
    r = await tourAct('tour_control', args);
  } catch {
    try {
      r = await tourAct('tour_control', args);
    } catch (e) {
      toast('control failed: ' + e.message, 'err');
      return false;
    }
  }
  const d = payload(r);
  if ((isObj(d) && d.success === false) || (isObj(r) && r.success === false)) {
    toast((isObj(d) && str(d.error)) || (isObj(r) && str(r.error)) || 'control refused', 'err');
    return false;
  }
  return true;
}

async function togglePause() {
  const t = tour;
  if (!t) return;
  if (t.paused) {
    if (!(await tourControl('resume'))) return;
    t.paused = false;
    setIcon($('ttPause'), 'pause');
    resumeNarration();
    toast('resuming');
  } else {
    if (!(await tourControl('pause'))) return;
    t.paused = true;
    setIcon($('ttPause'), 'play');
    pauseNarration();
    toast('pausing at the next step boundary');
  }
}

// act(action, args) posts an action to the shown box.
export function wireTour(act) {
  tourAct = act;
  $('ttPrev').addEventListener('click', async () => { if (await tourControl('prev')) toast('replaying the previous view'); });
  $('ttPause').addEventListener('click', togglePause);
  $('ttNext').addEventListener('click', async () => { if (await tourControl('next')) toast('skipping the upcoming step'); });
  $('ttMute').addEventListener('click', toggleMute);
  for (const [id, name] of [['ttPrev', 'prev'], ['ttPause', 'pause'], ['ttNext', 'next']]) setIcon($(id), name);
  paintMute();
  $('ttExit').prepend(icon('stop'));
  $('ttExit').addEventListener('click', async () => {
    const t = tour;
    if (!(await tourControl('exit'))) return;
    if (t) t.exited = true;
    stopNarration();
    toast('exiting the demo (documents will be cleaned up)');
  });
  // The panel's demo button sits far above the tour card: the card comes into view as the tour starts.
  document.addEventListener('ld:play-tour', () => {
    $('tourCard').scrollIntoView({ behavior: matchMedia('(prefers-reduced-motion: reduce)').matches ? 'auto' : 'smooth', block: 'start' });
    startTour();
  });
}

