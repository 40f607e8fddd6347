#!/usr/bin/env bash
# Prepares the browser test: Debian's Chromium (through the project's package
# script) and the npm packages of package-lock.json in node_modules/.
# Usage: setup.sh [--npm-only]
#   --npm-only  skip the Debian packages (the browser test itself calls this
#               form when it finds node_modules missing or stale).
# npm ci runs only when node_modules is missing or was installed from another
# package-lock.json, so running this again costs nothing. No browser is ever
# downloaded: the test drives /usr/bin/chromium.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)

if [ "${1:-}" != "--npm-only" ]; then
  "$top/scripts/install-deps.sh" browser
fi

# npm ci replaces node_modules whole; this copy of the lock file tells which
# lock file the present node_modules came from.
marker=$here/node_modules/.installed-package-lock.json
if [ -f "$marker" ] && cmp -s "$marker" "$here/package-lock.json"; then
  exit 0
fi
cd "$here"
PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1 npm ci --no-audit --no-fund --loglevel=error
cp package-lock.json "$marker"
