#!/usr/bin/env bash
# Puts the chart page's browser files from the npm registry into
# histquery/web/node_modules: uPlot, pinned with its integrity in
# histquery/web/package-lock.json. Installs Debian's npm first where there is
# none. npm ci runs only when node_modules is missing or came from another
# lock file, so running this again costs nothing; no package script ever runs.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
web=$top/histquery/web

# npm ci replaces node_modules whole; this copy of the lock file tells which
# lock file the present node_modules came from.
marker=$web/node_modules/.installed-package-lock.json
if [ -f "$marker" ] && cmp -s "$marker" "$web/package-lock.json"; then
  exit 0
fi
command -v npm >/dev/null || "$top/scripts/install-deps.sh" web
cd "$web"
npm ci --ignore-scripts --no-audit --no-fund --loglevel=error
cp package-lock.json "$marker"
