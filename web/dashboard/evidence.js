// Evidence: the LEDs claim a state only while something vouches for it.

import { nonEmpty } from '../kit/values.js';
import { sinceText } from './ages.js';
import { boxSubject, dash } from './state.js';

// A snapshot from an answering bridge vouches for 30 s from its arrival (a live stream or a
// status read brings one at least every 15 s while all is well); one the server kept while the
// bridge was silent vouches for nothing, and neither does a server the page cannot reach. Then
// every LED and the header chip take the "unknown" look, and a line says why and since when.
const EVIDENCE_MS = 30000;
export const evidence = {
  at: 0,          // when the LEDs shown were last verified by an answering bridge (0: never)
  box: null,      // the box they belong to
  heardAt: 0,     // when the server last answered anything (a status read, an event)
  readError: '',  // the last status read's failure, '' once one succeeded
};

export function heard() { evidence.heardAt = Date.now(); }

// A kept snapshot is as old as the server says, or as the page's own last verified one for the
// box when that is older: the age shown never flatters.
export function noteSnapshot(s) {
  heard();
  const now = Date.now();
  const mine = evidence.box === s.target ? evidence.at : 0;
  if (s.answered !== false && s.stale !== true) evidence.at = now;
  else if (s.answered !== false && typeof s.lastVerifiedAgeSec === 'number') evidence.at = Math.min(mine || now, now - s.lastVerifiedAgeSec * 1000);
  else evidence.at = 0;
  evidence.box = s.target;
}

// Stream down and the last status read failed: the page has lost the server itself.
export const contactLost = () => !dash.sseUp && evidence.readError !== '';
// The last snapshot says the bridge did not answer (or is a kept one).
export const bridgeSilent = (s) => s.answered === false || s.stale === true;

// What the page may claim now: null before any snapshot; else whether the LEDs are known, the
// line that says so (or why not), and whether the LEDs shown were ever true.
export function judge() {
  const s = dash.lastStatus;
  if (!s) return null;
  const now = Date.now();
  const age = now - evidence.at;
  const was = evidence.at > 0;
  if (contactLost()) return { known: false, was, reason: 'Lost contact with loomdeck ' + sinceText(now - evidence.heardAt) + ' - reconnecting' };
  if (!bridgeSilent(s) && was && age < EVIDENCE_MS) return { known: true, was, reason: 'Verified ' + sinceText(age) + (dash.sseUp ? ' - live' : '') };
  const why = nonEmpty(s.busyReason) || (bridgeSilent(s) ? 'the bridge did not answer' : 'the last status read has not come back');
  return { known: false, was, reason: boxSubject(s.target) + "'s bridge is not answering: " + why + (was ? ' - showing what was true ' + sinceText(age) : '') };
}
