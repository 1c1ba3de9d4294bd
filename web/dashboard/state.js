// The dashboard's page state, shared by its modules, and the small reads of it: the shown box,
// the demo part, an action on the shown box.

import { postJson } from '../kit/api.js';
import { nonEmpty } from '../kit/values.js';

export const DEFAULT_PART = 'tolm/in-s63btg';

// The page's shared state: what the modules read and change. One object, so that a module that
// assigns a member is seen by every other.
export const dash = {
  lastStatus: null,
  currentTarget: '',
  targetsCache: [],
  sseUp: false,
  liveStateAt: 0,  // when the live channel last brought a state of the shown box (page clock)
  dashSettings: { autoGreenOnLaunch: true, demoPart: DEFAULT_PART },
  lastBridgeVersion: '',
  // Sticky settings the bridge confirmed, laid over every snapshot until a status read that began
  // after the change arrives: a snapshot already on its way (a poll, or another page's state event)
  // still carries the old value, and reopening the dialog must not show it.
  confirmedSticky: {},
  stickyEpoch: 0,
};

export const clone = (v) => (v === null || v === undefined ? v : JSON.parse(JSON.stringify(v)));
export const demoPart = () => nonEmpty(dash.dashSettings.demoPart) || DEFAULT_PART;

// The box the page shows: the chosen one, else the one the server reported.
export const shownBox = () => dash.currentTarget || (dash.lastStatus && nonEmpty(dash.lastStatus.target)) || '';

// A request without a box goes to the bridge's default box: a message never names nobody.
export const boxLabel = (box) => nonEmpty(box) || 'the default box';
export const boxSubject = (box) => { const b = boxLabel(box); return b.charAt(0).toUpperCase() + b.slice(1); };

// An action on the shown box (the bridge's default box when none is chosen).
export function act(action, args) {
  const body = { action };
  if (dash.currentTarget) body.target = dash.currentTarget;
  body.args = args === undefined ? {} : args;
  return postJson('api/action', body);
}
