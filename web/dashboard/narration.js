// The tour's narration: each step's caption spoken from its pre-built clip, else by the server's
// speech synthesis, one after another; muting is remembered.

import { $, storeGet, storeSet } from '../kit/dom.js';
import { setIcon } from './icons.js';

const narration = { queue: [], playing: false, paused: false, audio: null, fail: null };
let muted = storeGet('ovra-tour-muted') === '1';

export function paintMute() {
  setIcon($('ttMute'), muted ? 'muted' : 'sound');
  $('ttMute').setAttribute('aria-pressed', muted ? 'true' : 'false');
}

function setMuted(on) {
  muted = on;
  storeSet('ovra-tour-muted', on ? '1' : '0');
  paintMute();
  if (on) stopNarration();
}

export function stopNarration() {
  const a = narration.audio;
  narration.queue = [];
  narration.audio = null;
  narration.fail = null;
  narration.playing = false;
  narration.paused = false;
  if (a) {
    a.pause();
    a.removeAttribute('src');
  }
}

export function queueNarration(caption, step) {
  if (muted) return;
  narration.queue.push({ caption, step });
  if (!narration.playing) playNext();
}

function playNext() {
  const item = narration.queue.shift();
  if (!item) {
    narration.playing = false;
    narration.audio = null;
    return;
  }
  narration.playing = true;
  const sources = [];
  if (item.step) sources.push('demo/audio/' + encodeURIComponent(item.step) + '.mp3');
  if (item.caption) sources.push('api/tts?text=' + encodeURIComponent(item.caption));
  playSource(sources, 0);
}

function playSource(sources, i) {
  if (i >= sources.length) {
    playNext();
    return;
  }
  const a = new Audio();
  let done = false;
  const fail = (e) => {
    if (done || narration.audio !== a) return;
    // Pausing the tour interrupts a pending play(); that is not a broken source.
    if (narration.paused && e && e.name === 'AbortError') return;
    done = true;
    playSource(sources, i + 1);
  };
  narration.audio = a;
  narration.fail = fail;
  a.addEventListener('ended', () => {
    if (done || narration.audio !== a) return;
    done = true;
    playNext();
  });
  a.addEventListener('error', fail);
  a.src = sources[i];
  if (narration.paused) return;
  const p = a.play();
  if (p) p.catch(fail);
}

export function pauseNarration() {
  narration.paused = true;
  if (narration.audio) narration.audio.pause();
}

export function resumeNarration() {
  narration.paused = false;
  if (muted || !narration.audio) return;
  const a = narration.audio;
  const p = a.play();
  if (p && narration.fail) p.catch(narration.fail);
}

export const toggleMute = () => setMuted(!muted);

// The tour starts with the choice last remembered (another page may have changed it).
export function recallMuted() {
  const stored = storeGet('ovra-tour-muted');
  if (stored !== null) muted = stored === '1';
}
