// The top layer: the toast stack (the page's and the newbie panel's) above the modal dialogs.

import { $ } from '../kit/dom.js';
import { noteToast, shapeToasts } from '../kit/toast.js';

const toastBox = $('toasts');

// The stack is a manual popover so that it stays above an open modal dialog.
function liftToasts() {
  if (toastBox.matches(':popover-open')) toastBox.hidePopover();
  toastBox.showPopover();
}

export function wireToasts() {
  shapeToasts({ newestFirst: true, errMs: 9000, errStays: true, onShow: liftToasts });

  // Toasts leave on their own timers (the newbie panel's too): the empty stack leaves the top layer.
  new MutationObserver(() => {
    if (!toastBox.firstChild && toastBox.matches(':popover-open')) toastBox.hidePopover();
  }).observe(toastBox, { childList: true });

  // The newbie panel posts its toasts into the element with the id "vnp-toasts" when the page has
  // one. Here they move on into the page's own stack, so the two kinds never land on top of each
  // other: one stack, newest on top, above an open dialog. The panel still retexts and removes them.
  const panelToasts = $('vnp-toasts');
  new MutationObserver(() => {
    for (const t of Array.from(panelToasts.children)) {
      const err = t.classList.contains('vnp-toast-err');
      t.setAttribute('role', err ? 'alert' : 'status');
      noteToast(t.textContent, err ? 'err' : '');
      toastBox.prepend(t);
      liftToasts();
    }
  }).observe(panelToasts, { childList: true });
}

// A dialog opened while toasts show would cover them; the stack is lifted back above it.
export function showDialog(dlg) {
  if (!dlg.open) dlg.showModal();
  if (toastBox.matches(':popover-open')) liftToasts();
}

// Closes on a click on the backdrop, which reaches the dialog element itself from outside its box.
export function closeOnBackdrop(dlg) {
  dlg.addEventListener('click', (e) => {
    if (e.target !== dlg) return;
    const r = dlg.getBoundingClientRect();
    if (e.clientX < r.left || e.clientX > r.right || e.clientY < r.top || e.clientY > r.bottom) dlg.close();
  });
}
