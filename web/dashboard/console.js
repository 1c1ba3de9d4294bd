// The page's console, kept for the agent's handle: the last lines logged and the page's errors.

import { str } from '../kit/values.js';

const CONSOLE_KEEP = 300;
export const consoleBuffer = [];

function remember(line) {
  consoleBuffer.push(line);
  while (consoleBuffer.length > CONSOLE_KEEP) consoleBuffer.shift();
}
export function consoleText(v) {
  if (v instanceof Error) return v.message;
  return str(v);
}

export function captureConsole() {
  for (const level of ['log', 'warn', 'error']) {
    const original = console[level];
    console[level] = function (...args) {
      remember(level + ': ' + args.map(consoleText).join(' '));
      return original.apply(console, args);
    };
  }
  window.onerror = (message) => { remember('onerror: ' + str(message)); return false; };
  window.addEventListener('unhandledrejection', (e) => { remember('onerror: ' + consoleText(e.reason)); });
}
