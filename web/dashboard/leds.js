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

// The word beside an LED; a lit one needs none. Fusion is "closed", never "off" or "needs setup":
// the one word a person must not misread.
export function ledWord(led, key) {
  if (led.state === 'stale') return 'stuck?';
  if (led.state === 'starting') return 'starting';
  if (led.state === 'dormant') return 'paused';
  if (led.pending === true) return 'waiting';
  if (led.state === 'busy') return 'busy';
  if (led.on === true) return '';
  return key === 'fusionRunning' ? 'closed' : 'off';
}

// The word a state's shape stands for, for a reader that hears the LED instead of seeing it.
export const STATE_NAMES = { ok: 'on', bad: 'off', busy: 'busy', starting: 'starting', closed: 'closed', unknown: 'unknown', checking: 'checking' };

// A state's colour, as its LED shows it.
export function changeColour(state) {
  if (typeof state !== 'string') return 'none';
  if (state === 'on' || state === 'answering') return 'ok';
  if (state === 'starting') return 'starting';
  if (state === 'busy' || state === 'dormant' || state === 'stale' || state === 'pending') return 'busy';
  return 'bad';
}
