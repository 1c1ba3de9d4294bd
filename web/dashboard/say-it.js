if (window.OvraNewbiePanel && !new URLSearchParams(location.search).has('remote')) {
  OvraNewbiePanel.mount({
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
    phrases: [
      'open the step in fusion',
      'export this board to fusion',
      'build the parts library in fusion',
      'sign me into fusion',
      'search my fusion cloud files for the amp board',
      'export the fusion design as STEP',
    ],
  });
  // The panel keeps its toggle's tooltip in step with its open state; the page's own tip would double it.
  document.getElementById('btnRecall').removeAttribute('data-tip');
}
