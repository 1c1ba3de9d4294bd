// The LEDs: their order and labels, and the colour and word each state shows as.

export const LED_ORDER = [
  ['fusionRunning', 'Fusion running'],
  ['addinReady', 'Bridge add-in'],
  ['signedIn', 'Autodesk sign-in'],
  ['aps', 'APS cloud search'],
  ['mcp', 'Fusion MCP server'],
  ['datahub', 'Data Hub API'],
  ['update', 'Fusion up to date'],
];

export const knownLabel = (key) => (LED_ORDER.find(([k]) => k === key) || [key, key])[1];

export function displayState(led) {
  if (led.state === 'starting') return 'starting';
  if (led.state === 'stale') return 'busy';
  if (led.pending === true || led.state === 'dormant' || led.state === 'busy') return 'busy';
  if (led.on === true) return 'ok';
  return 'bad';
}

export function ledWord(led) {
  if (led.state === 'stale') return 'stuck?';
  if (led.state === 'starting') return 'starting';
  if (led.state === 'dormant') return 'dormant';
  if (led.state === 'busy' || led.pending === true) return 'busy';
  if (led.on === true) return '';
  return 'needs setup';
}

// A state's colour, as its LED shows it.
export function changeColour(state) {
  if (typeof state !== 'string') return 'none';
  if (state === 'on' || state === 'answering') return 'ok';
  if (state === 'starting') return 'starting';
  if (state === 'busy' || state === 'dormant' || state === 'stale' || state === 'pending') return 'busy';
  return 'bad';
}
