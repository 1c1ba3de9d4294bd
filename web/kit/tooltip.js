// The page's one tooltip: a manual popover (so it shows above an open dialog) that carries the
// data-tip text of the element the pointer rests on, below it or, without room, above it.

let tip = null;
let tipTimer = 0;
let tipFor = null;

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
  const r = target.getBoundingClientRect();
  const w = tip.offsetWidth;
  const h = tip.offsetHeight;
  let left = r.left + r.width / 2 - w / 2;
  let top = r.bottom + 10;
  if (top + h > window.innerHeight - 8) top = r.top - 10 - h;
  left = Math.max(8, Math.min(left, window.innerWidth - 8 - w));
  top = Math.max(8, Math.min(top, window.innerHeight - 8 - h));
  tip.style.left = left + 'px';
  tip.style.top = top + 'px';
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
}
