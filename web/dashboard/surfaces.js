// Surfaces (the demo part on each of Fusion's surfaces, rendered here) and the part import.

import { postJson } from '../kit/api.js';
import { $, el } from '../kit/dom.js';
import { payload, replyHint } from '../kit/reply.js';
import { toast } from '../kit/toast.js';
import { isObj, lastSegment, nonEmpty, present, str } from '../kit/values.js';
import { DEFAULT_WIKI } from '../kit/wiki.js';
import { imageSrc, openImage } from './images.js';
import { actionBegins, showRefusal } from './notes.js';
import { act, dash, demoPart } from './state.js';

const SURFACES = [
  ['symbol', 'Symbol'], ['footprint', 'Footprint'], ['package3d', '3D package'], ['library', 'Library'],
  ['schematic', 'Schematic'], ['board2d', '2D board'], ['board3d', '3D board'], ['project', 'Project'],
];
const wikiUrl = (ref) => DEFAULT_WIKI + '/' + ref.split('/').map(encodeURIComponent).join('/');

export function renderSurfaces() {
  const part = demoPart();
  const name = lastSegment(part).toUpperCase();
  const note = $('surfnote');
  const link = el('a', null, wikiUrl(part));
  link.href = wikiUrl(part);
  link.target = '_blank';
  link.rel = 'noopener noreferrer';
  note.replaceChildren('The same part on every surface: ', name, ' from ', link,
    '. The first click stages it (clone the page, send the .lbr + .step, bind the real 3D, generate a solo project); after that each button just switches surfaces. All background - rendered here with fusion_state.');
  const grid = $('surfaces');
  grid.replaceChildren();
  for (const [key, label] of SURFACES) {
    const card = el('div', 'card surface');
    const btn = el('button', 'sbtn', label);
    btn.type = 'button';
    btn.dataset.surface = key;
    btn.setAttribute('data-tip', 'Open the ' + label.toLowerCase() + ' surface for ' + name + ' in the background, then render it here');
    btn.addEventListener('click', () => openSurface(btn, key, label));
    const state = el('div', 'sstate', 'not run yet');
    state.id = 'ss-' + key;
    const img = el('img');
    img.id = 'si-' + key;
    img.alt = label + ' surface of ' + name;
    img.hidden = true;
    img.addEventListener('click', () => { if (img.dataset.src) openImage(img.dataset.src); });
    card.append(btn, state, img);
    grid.append(card);
  }
}

async function openSurface(btn, key, label) {
  const state = $('ss-' + key);
  const img = $('si-' + key);
  state.className = 'sstate';
  state.textContent = 'opening…';
  btn.disabled = true;
  actionBegins();
  const body = { surface: key };
  if (dash.currentTarget) body.target = dash.currentTarget;
  try {
    const r = await postJson('api/surface', body);
    if (isObj(r) && r.ok === true) {
      state.classList.add('ok');
      state.textContent = 'shown on ' + (nonEmpty(r.deviceset) || 'the part');
      const src = imageSrc(r.image);
      if (src && img.isConnected) {
        img.src = src;
        img.dataset.src = src;
        img.hidden = false;
      }
      toast((str(r.label) || label) + ' surface opened', 'ok');
    } else {
      const err = (isObj(r) && str(r.error)) || 'failed';
      state.classList.add('err');
      state.textContent = err;
      toast(((isObj(r) && str(r.label)) || key) + ': ' + err, 'err');
      showRefusal('The ' + label.toLowerCase() + ' surface', err, replyHint(r));
    }
  } catch (e) {
    state.classList.add('err');
    state.textContent = e.message;
    showRefusal('The ' + label.toLowerCase() + ' surface', e.message);
  } finally {
    btn.disabled = false;
  }
}

// The server answers an import whose bridge calls failed with the bridge's own answers in
// `sent` (copying the library to the box) and `opened` (opening it in Fusion): either one
// carrying an error, an error code or success false means the library is not open.
function bridgeStepError(step) {
  if (!isObj(step)) return '';
  const d = payload(step);
  for (const o of [d, step]) {
    if (!isObj(o)) continue;
    if (present(o.error) && o.error !== '') return str(o.error);
    if (present(o.errorCode) && o.errorCode !== '') return str(o.errorCode);
  }
  return step.success === false || step.ok === false || (isObj(d) && d.success === false) ? 'the bridge reported no success' : '';
}

export async function importPart() {
  const page = $('partPage').value.trim();
  actionBegins();
  toast('importing ' + page + ' from the wiki into Fusion');
  try {
    const r = await act('import_basic_part', { page });
    const d = payload(r);
    const err = (isObj(d) && d.error) || (isObj(r) && r.error) ||
      (isObj(d) && (bridgeStepError(d.sent) || bridgeStepError(d.opened)));
    if (err) {
      toast('import failed: ' + str(err), 'err');
      showRefusal('Importing ' + page, err, replyHint(r) || (isObj(d) && (replyHint(d.opened) || replyHint(d.sent))));
    } else {
      toast('library opened in Fusion (background)', 'ok');
    }
  } catch (e) {
    toast('import failed: ' + e.message, 'err');
    showRefusal('Importing ' + page, e.message);
  }
}
