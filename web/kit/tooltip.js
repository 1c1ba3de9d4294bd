// The page's one tooltip: a manual popover (so it shows above an open dialog) that carries the
// data-tip text of the element the pointer rests on, the keyboard focuses or a finger taps, below
// it or, without room, above it.

const TAP_TIP_MS = 2500;

let tip = null;
let tipTimer = 0;
let tipFor = null;

// Where a w x h tip goes for a control at rect r in a view of the given size: centred on the
// control, gap away from it on the preferred side (above or below), on the other side when the
// preferred one has no room, and at least 8 px inside the view.
export function placeTip(r, w, h, view, { gap, above }) {
  const margin = 8;
  let top = above ? r.top - gap - h : r.bottom + gap;
  if (above ? top < margin : top + h > view.height - margin) top = above ? r.bottom + gap : r.top - gap - h;
  const left = Math.max(margin, Math.min(r.left + r.width / 2 - w / 2, view.width - margin - w));
  return { left, top: Math.max(margin, Math.min(top, view.height - margin - h)) };
}

function hideTip() {
  clearTimeout(tipTimer);
  tipFor = null;
  tip.classList.remove('show');
  if (tip.matches(':popover-open')) tip.hidePopover();
}

function showTip(target) {
  if (!target.isConnected) return;
  tip.textContent = target.getAttribute('data-tip') || '';
  if (tip.matches(':popover-open')) tip.hidePopover();
  tip.showPopover();
  const at = placeTip(target.getBoundingClientRect(), tip.offsetWidth, tip.offsetHeight,
    { width: window.innerWidth, height: window.innerHeight }, { gap: 10, above: false });
  tip.style.left = at.left + 'px';
  tip.style.top = at.top + 'px';
  requestAnimationFrame(() => { if (tipFor === target) tip.classList.add('show'); });
}

// tipNode: the popover element the tips show in.
export function wireTooltips(tipNode) {
  tip = tipNode;
  document.addEventListener('mouseover', (e) => {
    const target = e.target instanceof Element ? e.target.closest('[data-tip]') : null;
    if (target === tipFor) return;
    hideTip();
    if (!target) return;
    tipFor = target;
    tipTimer = setTimeout(() => showTip(target), 600);
  });
  document.addEventListener('mouseout', (e) => {
    if (!tipFor) return;
    if (e.relatedTarget instanceof Node && tipFor.contains(e.relatedTarget)) return;
    hideTip();
  });
  document.addEventListener('pointerdown', hideTip, true);
  // A keyboard user reaches the same facts on focus; a tap shows them for a moment.
  document.addEventListener('focusin', (e) => {
    const target = e.target instanceof Element ? e.target.closest('[data-tip]') : null;
    if (!target || !target.matches(':focus-visible') || target === tipFor) return;
    hideTip();
    tipFor = target;
    showTip(target);
  });
  document.addEventListener('focusout', () => { if (tipFor) hideTip(); });
  document.addEventListener('pointerup', (e) => {
    if (e.pointerType !== 'touch') return;
    const target = e.target instanceof Element ? e.target.closest('[data-tip]') : null;
    if (!target) return;
    hideTip();
    tipFor = target;
    showTip(target);
    tipTimer = setTimeout(hideTip, TAP_TIP_MS);
  });
}
