// Watching an import run to its verdict: the progress bar and stage line, polls of the run's
// result, cancel and attach, and the verdict with its proof frames.

import { $, h } from '../kit/dom.js';
import { isEmpty, lintText, pollFailureKind, resultOf } from '../kit/reply.js';
import { toast } from '../kit/toast.js';
import { errText, firstPresent, isNum, isObjectLike, str } from '../kit/values.js';
import { liveStart, liveStop, renderFrames } from './frames.js';
import { cmd, failText } from './listener.js';
import { showRestartAsk } from './restart-ask.js';
import { b, setStatus } from './view.js';

export let runId = null;
let pollTimer = null;
let pollCount = 0;
let askShown = false;

// What the "Start again" of a run the bridge restarted under does (the page's import), given once at start-up.
let startAgain = null;
export function restartVia(importAgain) {
  startAgain = importAgain;
}

export function progress(pct, kind) {
  const fill = $('progFill');
  fill.style.width = Math.max(0, Math.min(100, pct)) + '%';
  fill.className = kind || '';
}
export const stageLine = (...kids) => $('stageLine').replaceChildren(...kids);

export function renderLint(meta) {
  const box = $('lint');
  const l = lintText(meta);
  if (!l) { box.hidden = true; return; }
  box.className = 'lint ' + (l.ok ? 'ok' : 'warn');
  box.replaceChildren(h('h3', { text: 'Part numbers' }), h('div', { text: l.text }));
  box.hidden = false;
}

function cancelButton(state) {
  const btn = $('btnCancel');
  btn.hidden = state === 'hidden';
  btn.disabled = state === 'stopping';
  btn.textContent = state === 'stopping' ? 'stopping at the next part...' : 'Cancel import';
}

export function watch(id) {
  runId = id;
  clearTimeout(pollTimer);
  pollTimer = null;
  pollCount = 0;
  askShown = false;
  liveStart();
  cancelButton('ready');
  return poll();
}

// A run the user cancelled.
function showCancelled(res, status) {
  cancelButton('hidden');
  liveStop('cancelled');
  progress(100, 'err');
  stageLine(b('cancelled'), ' · ' + (firstPresent(res.error) || 'stopped while ' + str(res.cancelledAt)));
  setStatus(status, 'cancelled', 'warn');
  renderFrames(res.evidence);
  toast('Import cancelled: ' + str(res.error), 'ok');
  return res;
}

// A failed run; a bridge that restarted under it offers to start again.
function showFailed(res, status) {
  liveStop('failed');
  progress(100, 'err');
  renderFrames(res.evidence);
  if (res.errorCode === 'bridge_restarted_mid_run') {
    setStatus(status, 'bridge restarted mid-run', 'err');
    stageLine(b('the bridge restarted under this run'), ' ' + str(res.error) + ' ',
      h('button', { 'data-action': 'start_again', text: 'Start again', onclick: () => startAgain() }));
    toast('The bridge restarted mid-run (an update or a crash). Press Start again.', 'err');
    return res;
  }
  setStatus(status, 'failed', 'err');
  stageLine(b('failed'), ' ' + (firstPresent(res.error, isObjectLike(res.bind) ? res.bind.error : '', res.errorCode)));
  toast('Import failed: ' + (firstPresent(res.error) || 'see the log'), 'err');
  return res;
}

// A finished run: the verdict, the lint, and the frames fetched once more with their images.
async function showDone(res, run, status) {
  liveStop('done');
  progress(100, 'ok');
  const prove = isObjectLike(res.prove) ? res.prove : {};
  const proven = isObjectLike(res.prove) ? prove.proven === true : res.verdict === 'proven';
  const partsProven = firstPresent(prove.partsProven) || '0';
  const partsTotal = firstPresent(prove.partsTotal, res.partsTotal) || '0';
  stageLine(b('done'), ' verdict: ' + (firstPresent(res.verdict) || (prove.proven ? 'proven' : 'not proven')) + ' · ' +
    partsProven + '/' + partsTotal + ' parts proven · ' + (firstPresent(res.evidenceCount) || '0') + ' frames');
  setStatus(status, proven ? 'proven' : 'finished, not proven', proven ? 'ok' : 'warn');
  if (isObjectLike(res.partMetadata)) renderLint(res.partMetadata);
  toast('Library created in Fusion: ' + partsProven + '/' + partsTotal + ' parts proven', 'ok');
  try {
    const inline = resultOf(await cmd('fusion_prove_result', { runId: run, inlineFrames: true }, { timeoutMs: 120000 }));
    if (run === runId) renderFrames(inline.evidence);
  } catch {
    if (run === runId) renderFrames(res.evidence);
  }
  return res;
}

export async function poll(id) {
  if (id !== undefined && id !== runId) return watch(String(id));
  clearTimeout(pollTimer);
  pollTimer = null;
  const run = runId;
  if (!run) return null;
  pollCount += 1;
  let res;
  try {
    res = resultOf(await cmd('fusion_prove_result', { runId: run }));
  } catch (e) {
    if (run === runId) pollFailed(e);
    return null;
  }
  if (run !== runId) return null;
  const status = $('impStatus');
  const stage = str(res.stage);
  if (stage === 'cancelled') return showCancelled(res, status);
  if (stage === 'done' || stage === 'failed') cancelButton('hidden');
  else if (res.cancelRequested) cancelButton('stopping');
  if (stage === 'failed') return showFailed(res, status);
  if (stage === 'done') return showDone(res, run, status);
  if (isNum(res.percent)) progress(res.percent);
  const line = [b(stage || 'working')];
  if (!isEmpty(res.stageLabel)) line.push(' · ' + str(res.stageLabel));
  if (isNum(res.percent)) line.push(' · ' + Math.round(res.percent) + '%');
  if (isNum(res.etaSec)) line.push(' · ~' + Math.round(res.etaSec) + 's left');
  stageLine(...line);
  if (Array.isArray(res.evidence) && res.evidence.length) renderFrames(res.evidence);
  if (res.errorCode === 'addin_restart_required' && !askShown) {
    askShown = true;
    showRestartAsk(res);
    liveStop('waiting for your answer');
  }
  pollTimer = setTimeout(() => poll(), pollCount <= 2 ? 5000 : 10000);
  return res;
}

function pollFailed(e) {
  const kind = pollFailureKind(e);
  const msg = errText(e);
  if (kind !== 'fatal' && pollCount < 12) {
    stageLine(b(kind === 'not_filed' ? 'starting (the run is not on file yet)' : 'bridge not answering, retrying'),
      ' · ' + msg.slice(0, 90) + ' (try ' + pollCount + ' of 12)');
    pollTimer = setTimeout(() => poll(), 8000);
    return;
  }
  liveStop('poll failed');
  progress(100, 'err');
  stageLine(b('poll failed'), ' ' + msg);
  setStatus($('impStatus'), 'poll failed', 'err');
}

export async function cancelRun() {
  if (!runId) { toast('No run to cancel', 'err'); return; }
  cancelButton('stopping');
  try {
    const r = await cmd('fusion_cancel_run', { runId });
    if (r.alreadyFinished) {
      toast('That run had already ended (' + str(r.stage) + ')', 'info');
      cancelButton('hidden');
    } else {
      toast('Stopping the import at the next part boundary (a STEP import in progress finishes first)', 'info');
    }
  } catch (e) {
    cancelButton('ready');
    toast(failText(e), 'err');
  }
}

export async function attachRun() {
  try {
    const res = resultOf(await cmd('fusion_prove_result', {}));
    const id = firstPresent(res.runId);
    if (!id) { toast('No run to attach to', 'err'); return; }
    toast('Attached to run ' + id, 'ok');
    await watch(id);
  } catch (e) {
    toast(failText(e), 'err');
  }
}
