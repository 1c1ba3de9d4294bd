// The run's proof frames and the live view: frames inline or read from the box through the
// listener, drawn into the gallery, and Fusion's window at one frame a second while a run goes on.

import { $, h } from '../kit/dom.js';
import { errText, firstPresent, isNum, isObjectLike, str } from '../kit/values.js';

// The listener's command function (cmd of the page), given once at start-up.
let send = null;
export function viewVia(cmd) {
  send = cmd;
}

const frameCache = new Map();
const DATA_IMAGE = /^data:image\/[a-z0-9.+-]+(;[a-z0-9=.+-]+)*;base64,[A-Za-z0-9+/=\s]*$/i;

// Only inline images are shown; a frame never makes the page load anything from elsewhere.
const inlineSrc = (f) => [f.thumbnailDataUrl, f.dataUrl].find((v) => typeof v === 'string' && DATA_IMAGE.test(v)) || '';
const boxPathOf = (f) => [f.screenshot, f.path].find((v) => typeof v === 'string' && v) || '';

async function readBoxImage(path) {
  const r = await send('read_file', { path, encoding: 'base64' }, { timeoutMs: 60000 });
  const content = typeof r.content === 'string' ? r.content.replace(/\s+/g, '') : '';
  if (!content || !/^[A-Za-z0-9+/]*=*$/.test(content)) throw new Error('no image data');
  return 'data:image/' + (/\.png$/i.test(path) ? 'png' : 'webp') + ';base64,' + content;
}

function frameSrc(f, cached) {
  const inline = inlineSrc(f);
  if (inline) return Promise.resolve(inline);
  const path = boxPathOf(f);
  if (!path) return Promise.reject(new Error('no image'));
  if (!cached) return readBoxImage(path);
  if (!frameCache.has(path)) {
    const p = readBoxImage(path);
    frameCache.set(path, p);
    p.catch(() => frameCache.delete(path));
  }
  return frameCache.get(path);
}

export function renderFrames(evidence) {
  const gallery = $('gallery');
  gallery.replaceChildren();
  for (const f of Array.isArray(evidence) ? evidence : []) {
    if (!isObjectLike(f)) continue;
    const kind = firstPresent(f.kind);
    const ph = h('div', { class: 'ph', text: 'loading frame...' });
    const size = isNum(f.width) && isNum(f.height) ? f.width + 'x' + f.height : '';
    const card = h('figure', { class: 'frame' }, ph, h('figcaption', null,
      h('span', { class: 'tag ' + (kind === 'proof' ? 'proof' : 'other'), text: kind || 'frame' }),
      h('span', { text: firstPresent(f.step, f.view) }),
      size ? h('span', { text: size }) : null,
      h('span', { class: 'part', text: str(f.part) })));
    gallery.append(card);
    if (f.ok === false) {
      ph.textContent = f.error ? 'REFUSED: ' + str(f.error) : 'not evidence';
      continue;
    }
    frameSrc(f, true).then((src) => {
      const img = h('img', { alt: (kind || 'frame') + ' ' + firstPresent(f.step, f.view) });
      img.src = src;
      ph.replaceWith(img);
    }, () => {
      ph.textContent = 'frame could not be fetched from the box: ' + boxPathOf(f).split(/[\\/]/).pop();
    });
  }
}

const live = { on: false, timer: null, since: 0, gen: 0 };

function loadImage(src) {
  return new Promise((resolve, reject) => {
    const img = new Image();
    img.onload = () => resolve(img);
    img.onerror = () => reject(new Error('image did not decode'));
    img.src = src;
  });
}

const numOr = (...vals) => { for (const v of vals) if (isNum(Number(v)) && v !== null && v !== '' && v !== undefined) return Number(v); return undefined; };

async function drawLive(main, popups) {
  const mainImg = await loadImage(await frameSrc(main, false));
  const layers = [];
  for (const p of popups) {
    const r = isObjectLike(p.rect) ? p.rect : p;
    const w = numOr(r.w, r.width);
    const hgt = numOr(r.h, r.height);
    if ((w !== undefined && w < 3) || (hgt !== undefined && hgt < 3)) continue;
    try {
      const img = await loadImage(await frameSrc(p, false));
      layers.push({ r, img, w: w !== undefined ? w : img.naturalWidth, h: hgt !== undefined ? hgt : img.naturalHeight });
    } catch { /* a dialog that can't be fetched is left out of this frame */ }
  }
  const canvas = $('liveCanvas');
  canvas.width = mainImg.naturalWidth;
  canvas.height = mainImg.naturalHeight;
  const ctx = canvas.getContext('2d');
  ctx.drawImage(mainImg, 0, 0);
  const rect = isObjectLike(main.rect) ? main.rect : {};
  const winW = numOr(rect.width) || mainImg.naturalWidth;
  const winH = numOr(rect.height) || mainImg.naturalHeight;
  const left = numOr(rect.left, rect.x) || 0;
  const top = numOr(rect.top, rect.y) || 0;
  const sx = canvas.width / winW;
  const sy = canvas.height / winH;
  // The dialogs' outline is the page's accent, whichever palette is showing.
  const accent = getComputedStyle(canvas).getPropertyValue('--accent').trim();
  for (const l of layers) {
    if (l.w < 3 || l.h < 3) continue;
    const x = ((numOr(l.r.x, l.r.left) || 0) - left) * sx;
    const y = ((numOr(l.r.y, l.r.top) || 0) - top) * sy;
    ctx.drawImage(l.img, x, y, l.w * sx, l.h * sy);
    ctx.lineWidth = 2;
    ctx.globalAlpha = 0.6;
    ctx.strokeStyle = accent;
    ctx.strokeRect(x, y, l.w * sx, l.h * sy);
    ctx.globalAlpha = 1;
  }
  return true;
}

export async function liveStart() {
  if (live.on) return;
  live.on = true;
  live.since = 0;
  const gen = ++live.gen;
  $('liveBox').hidden = false;
  $('liveCanvas').hidden = true;
  $('liveLabel').textContent = 'live · Fusion on this machine';
  $('liveLed').className = 'led';
  $('liveTick').textContent = '';
  $('liveNote').textContent = 'starting the 1 fps capture on this machine...';
  try {
    await send('fusion_live_feed', { action: 'start', intervalSec: 1, maxSec: 1500 });
  } catch (e) {
    if (gen === live.gen) $('liveNote').textContent = 'feed could not start: ' + errText(e);
    return;
  }
  if (gen === live.gen && live.on) liveTick(gen);
}

async function liveTick(gen) {
  live.timer = null;
  if (!live.on || gen !== live.gen) return;
  const note = $('liveNote');
  try {
    const p = await send('fusion_live_feed', { action: 'frames', since: live.since }, { timeoutMs: 20000 });
    if (!live.on || gen !== live.gen) return;
    const frames = Array.isArray(p.frames) ? p.frames.filter(isObjectLike) : [];
    const mains = frames.filter((f) => f.kind === 'main');
    if (!mains.length) {
      if (p.healthy === false) {
        $('liveLed').className = 'led';
        note.textContent = p.noHwnd && !p.captured ? 'waiting for the Fusion window (Fusion is launching)' : (firstPresent(p._honesty) || 'feed is not capturing');
      }
    } else {
      const main = mains[mains.length - 1];
      const popups = frames.filter((f) => f.kind === 'popup' && f.tick === main.tick);
      if (isNum(main.tick)) live.since = Math.max(live.since, main.tick);
      const drawn = await drawLive(main, popups);
      if (drawn && live.on && gen === live.gen) {
        $('liveCanvas').hidden = false;
        $('liveLed').className = 'led rec';
        const dialogs = popups.filter((f) => !str(f.title).includes('MessageTray')).length;
        $('liveTick').textContent = 'frame ' + str(main.tick) + ' · ' + (dialogs ? dialogs + ' panel(s)/dialog(s) over it' : 'no dialogs');
        note.textContent = str(main.title);
      }
    }
  } catch (e) {
    if (live.on && gen === live.gen) note.textContent = 'feed: ' + errText(e);
  }
  if (live.on && gen === live.gen) live.timer = setTimeout(() => liveTick(gen), 1500);
}

export function liveStop(why) {
  if (!live.on) return;
  live.on = false;
  live.gen += 1;
  clearTimeout(live.timer);
  live.timer = null;
  $('liveLed').className = 'led';
  $('liveLabel').textContent = 'live view ended · ' + why;
  send('fusion_live_feed', { action: 'stop' }).catch(() => {});
}

