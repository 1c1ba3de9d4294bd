// Mounts the newbie panel (/newbie-panel.js, deferred) as the dashboard's "Say it" card,
// except on a page that only relays a remote control.

import { PHRASES } from './phrases.js';

// The panel's script is deferred (the status read need not wait for it): it has run by DOMContentLoaded.
function mountPanel() {
  if (!window.OvraNewbiePanel || new URLSearchParams(location.search).has('remote')) return;
  window.OvraNewbiePanel.mount({
    mount: '#newbie',
    app: 'fusion',
    appName: 'Loomdeck',
    slug: 'gantry',
    toggleButton: '#btnRecall',
    demo: {
      label: 'Play the demo',
      meta: 'the whole bridge, about 10 minutes',
      onPlay: () => document.dispatchEvent(new CustomEvent('ld:play-tour')),
    },
    phrases: PHRASES.slice(),
  });
  // The panel keeps its toggle's tooltip in step with its open state; the page's own tip would double it.
  document.getElementById('btnRecall').removeAttribute('data-tip');
}

if (document.readyState === 'loading') document.addEventListener('DOMContentLoaded', mountPanel);
else mountPanel();
