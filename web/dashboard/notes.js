// The notes under the LEDs: the one step only the user can take, the last refused action, and
// the boxes whose Fusion the user closed here.

import { $, el } from '../kit/dom.js';
import { appendMarkup } from '../kit/markup.js';
import { replyError, replyHint } from '../kit/reply.js';
import { isObj, nonEmpty, str } from '../kit/values.js';
import { boxLabel, dash, shownBox } from './state.js';

let actionNote = null;        // the last refused action: {box, what, error, hint}
let closeDocuments = null;    // documents a refused close names: {box, names}
// Boxes whose Fusion the user closed here -> whether a snapshot has shown it down since; one
// that then shows Fusion up again ends the close.
export const closedBoxes = new Map();

// A reply's refusal as an Error carrying the reply's hint, or null when it succeeded.
export function refusal(r) {
  const error = replyError(r);
  return error ? Object.assign(new Error(error), { hint: replyHint(r) }) : null;
}

// An action on the shown box begins: the last refusal shown for it has had its answer.
export function actionBegins() {
  const box = shownBox();
  if (actionNote && actionNote.box === box) actionNote = null;
  if (closeDocuments && closeDocuments.box === box) closeDocuments = null;
  paintNotes();
}

export function showRefusal(what, error, hint) {
  actionNote = { box: shownBox(), what, error: str(error), hint: hint || '' };
  paintNotes();
}

// Reads an action's reply: a refusal stays shown until dismissed or the next action. True when it succeeded.
export function reportReply(what, r) {
  const failed = refusal(r);
  if (failed) showRefusal(what, failed.message, failed.hint);
  return !failed;
}

// A refused close names the documents the user must save and close first.
export function askToClose(box, names) {
  closeDocuments = { box, names };
}

export function wireActionNote() {
  $('actionNote').addEventListener('click', (e) => {
    if (!(e.target instanceof Element) || !e.target.closest('.xbtn')) return;
    actionNote = null;
    paintNotes();
  });
}

// The one step only the user can take, in plain words, or ''.
function userStep() {
  const s = dash.lastStatus;
  const box = boxLabel(shownBox());
  const signin = s && isObj(s.leds) && isObj(s.leds.signedIn) ? s.leds.signedIn : null;
  if (signin && signin.wall === 'password') return 'Type your Autodesk password in Fusion on ' + box + ' - the rest is done for you';
  if (closeDocuments && closeDocuments.box === shownBox()) {
    return 'Save and close ' + closeDocuments.names.join(', ') + ' in Fusion on ' + box + ', then press Close Fusion again';
  }
  return '';
}

export function paintNotes() {
  const step = userStep();
  $('userStep').textContent = step;
  $('userStep').hidden = step === '';

  const s = dash.lastStatus;
  const fusion = s && s.answered !== false && isObj(s.leds) && isObj(s.leds.fusionRunning) ? s.leds.fusionRunning : null;
  const why = fusion ? nonEmpty(fusion.notStarting) : '';
  $('notStarting').textContent = why;
  $('notStarting').hidden = why === '';

  const note = $('actionNote');
  const shown = actionNote && actionNote.box === shownBox() ? actionNote : null;
  // Painted every second with the LEDs: rebuilt only when it changes, so its button keeps focus.
  if (note.shownNote === shown) return;
  note.shownNote = shown;
  note.replaceChildren();
  note.hidden = !shown;
  if (!shown) return;
  const body = el('div', 'ntext');
  body.append(el('strong', null, shown.what + ' on ' + boxLabel(shown.box) + ':'), ' ' + shown.error);
  if (shown.hint) {
    const hint = el('div', 'nhint');
    appendMarkup(hint, shown.hint);
    body.append(hint);
  }
  const dismiss = el('button', 'xbtn', '✕');
  dismiss.type = 'button';
  dismiss.setAttribute('aria-label', 'Dismiss this message');
  note.append(body, dismiss);
}
