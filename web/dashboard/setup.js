// The setup dialog: the steps still to take, one at a time.

import { $, el } from '../kit/dom.js';
import { toast } from '../kit/toast.js';
import { isObj } from '../kit/values.js';
import { driveStarted } from './away.js';
import { actionBegins, reportReply, showRefusal } from './notes.js';
import { showDialog } from './overlay.js';
import { autoGreen } from './settings.js';
import { act, dash } from './state.js';
import { refreshStatus } from './status.js';

const SETUP_STEPS = [
  ['fusionRunning', 'start', 'Start Fusion (background)'],
  ['signedIn', 'signin', 'Drive the Autodesk sign-in (you only type your password)'],
  ['aps', 'aps_signin', 'Set up APS cloud search'],
  ['mcp', 'mcp_enable', 'Enable the Fusion MCP server'],
];

function pendingSteps() {
  const leds = dash.lastStatus && isObj(dash.lastStatus.leds) ? dash.lastStatus.leds : null;
  if (!leds) return [];
  return SETUP_STEPS.filter(([key]) => isObj(leds[key]) && leds[key].on !== true && leds[key].state !== 'dormant');
}

function renderSetup() {
  const body = $('setupBody');
  body.replaceChildren();
  const steps = pendingSteps();
  if (steps.length) {
    body.append(el('p', null, 'Remaining steps:'));
    steps.forEach(([, , label], i) => body.append(el('div', 'step', (i + 1) + '. ' + label)));
  } else {
    const leds = dash.lastStatus && isObj(dash.lastStatus.leds) ? Object.values(dash.lastStatus.leds) : [];
    const dormant = leds.some((l) => isObj(l) && l.state === 'dormant');
    body.append(el('p', null, dormant
      ? 'Everything is configured - Fusion just is not running on ' + (dash.currentTarget || 'this box') +
        '. Start Fusion (or start it on another box; the Autodesk seat follows automatically).'
      : 'Everything is configured. You are ready to go.'));
  }
  $('btnSetupNext').hidden = !steps.length;
}

export async function openSetup() {
  await refreshStatus();
  renderSetup();
  showDialog($('dlgSetup'));
  driveStarted();
  autoGreen(true);
}

export async function runNextStep() {
  const step = pendingSteps()[0];
  if (!step) return;
  const [, action, label] = step;
  actionBegins();
  toast('running: ' + label);
  try { reportReply(label, await act(action, {})); } catch (e) { showRefusal(label, e.message); }
  refreshStatus();
  setTimeout(async () => {
    await refreshStatus();
    renderSetup();
  }, 5000);
}
