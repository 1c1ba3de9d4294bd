// Plain words for people: what an LED means now and what happens next, with relative times. The
// bridge's own hint (written for an AI) stays beside it, unchanged.

import { isObj, nonEmpty, str } from '../kit/values.js';
import { ago } from './ages.js';

// A stamp the bridge writes into its hints ("2026-12-08T14:06:04", UTC when it names no zone).
const STAMP = /\b\d{4}-\d\d-\d\dT\d\d:\d\d(?::\d\d(?:\.\d+)?)?(?:Z|[+-]\d\d:?\d\d)?/;

// The first time named in `text` as ISO text with its zone, or ''.
export function stampIn(text) {
  const m = STAMP.exec(str(text));
  if (!m) return '';
  return /(?:Z|[+-]\d\d:?\d\d)$/.test(m[0]) ? m[0] : m[0] + 'Z';
}

// " (3 h ago)"-style age of the stamp in the LED's hint, or `fallback` when it names none.
function since(led, now, fallback) {
  const at = stampIn(led._hint);
  const words = at ? ago(at, now) : '';
  return words || fallback;
}

const SENTENCES = {
  fusionRunning(led) {
    if (led.on === true) return 'Fusion is open on this box.';
    if (led.state === 'starting') return 'Fusion is opening in the background - usually under a minute. Your screen stays yours.';
    return 'Fusion is closed. Start Fusion (or Set up) opens it in the background; it never takes your focus.';
  },
  addinReady(led, now) {
    if (led.on === true) return 'The bridge add-in inside Fusion answers, so your AI can work in Fusion.';
    if (led.state === 'dormant') return 'Fusion is closed. The add-in last answered ' + since(led, now, 'earlier') + ' and comes back when Fusion opens.';
    if (led.state === 'starting') return 'The add-in comes up as soon as Fusion has finished opening.';
    if (led.state === 'busy') return 'Fusion is busy with a long task (the add-in last answered ' + since(led, now, 'recently') + '). This clears by itself when the task ends.';
    if (led.state === 'stale') return 'The add-in has not answered since ' + since(led, now, 'a long time ago') + ', longer than any task takes. Close Fusion and start it again.';
    return 'The add-in is not answering. Set up starts Fusion, and the add-in with it.';
  },
  signedIn(led, now) {
    if (led.wall === 'password') return 'Autodesk is waiting for your password in Fusion on this box. Only you can type it; everything else is done for you.';
    if (led.on === true) return 'Signed in to Autodesk.';
    if (led.state === 'dormant') return 'Fusion is closed. You were signed in ' + since(led, now, 'before') + '; nothing to do.';
    return 'Not signed in to Autodesk. Set up signs you in as far as it can; you type only your password.';
  },
  aps(led) {
    if (led.on === true) return 'Cloud search of your Fusion files works.';
    return 'Cloud search of your Fusion files is not signed in. Set up signs it in once a client id is set.';
  },
  mcp(led, now) {
    if (led.on === true) return "Autodesk's MCP server in Fusion is on, so your AI can use its tools.";
    if (led.state === 'dormant') return "Turned on in Fusion's preferences (checked " + since(led, now, 'earlier') + '); it comes back when Fusion opens.';
    return "Autodesk's MCP server in Fusion is off. Set up turns it on in about 10 seconds.";
  },
  datahub(led) {
    if (led.on === true) return 'Your AI can list your Fusion cloud files and their versions.';
    return 'File listings need cloud search signed in first.';
  },
  update(led) {
    if (led.pending === true) return 'A Fusion update is waiting. It is usually installed silently; ask your AI to run it now.';
    return 'Fusion is up to date.';
  },
};

// The sentence a person reads for the LED `key` in the state `led` at `now` (ms).
export function plainSentence(key, led, now) {
  const l = isObj(led) ? led : {};
  const say = SENTENCES[key];
  if (say) return say(l, now);
  const label = nonEmpty(l.label) || key;
  return label + (l.on === true ? ' is on.' : ' is off.');
}

// A logbook state in people's words.
const STATE_WORDS = { on: 'on', off: 'off', answering: 'answering', silent: 'not answering', dormant: 'paused', stale: 'stuck?', starting: 'starting', busy: 'busy', pending: 'waiting' };
export const stateWord = (state) => STATE_WORDS[str(state)] || str(state);
