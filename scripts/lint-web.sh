#!/usr/bin/env bash
# Lints the web client (web/) and the browser-side stand-ins (sim/browser-side/) with ESLint,
# pinned in package.json; installs it first on a machine that has not run scripts/setup.sh yet.
set -euo pipefail
cd "$(dirname "$0")/.."
[ -x node_modules/.bin/eslint ] || scripts/setup.sh
node_modules/.bin/eslint --max-warnings 0 web sim/browser-side
echo "lint-web: web/ and sim/browser-side/ are clean"
