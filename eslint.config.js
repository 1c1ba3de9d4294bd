// Lints the web client's modules and the browser-side stand-ins: the recommended rules, plus the
// size limit the web client keeps (no function over 60 lines).
import js from '@eslint/js';
import globals from 'globals';

export default [
  js.configs.recommended,
  {
    files: ['web/**/*.js'],
    languageOptions: { ecmaVersion: 2022, sourceType: 'module', globals: globals.browser },
    rules: { 'max-lines-per-function': ['error', { max: 60 }] },
  },
  {
    files: ['sim/browser-side/**/*.mjs'],
    languageOptions: { ecmaVersion: 2022, sourceType: 'module', globals: globals.node },
  },
];
