#!/usr/bin/env bash
# Installs what is missing, builds HistQuery and serves the history report
# over a demo database with lighttpd on 127.0.0.1 (port 8080, or DEMO_PORT;
# DEMO_BUILD_DIR names another build directory than build/).
# Everything it makes lies in demo-run/; running it again starts afresh with a
# new database up to the current time.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
run=$top/demo-run
port=${DEMO_PORT:-8080}
build=${DEMO_BUILD_DIR:-build}

./scripts/install-deps.sh
./scripts/web-deps.sh
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" -j"$(nproc)" --target HistQuery-localcfg

rm -rf "$run"
mkdir -p "$run/docroot" "$run/data"
cp "$build/histquery/HistQuery-localcfg" "$run/docroot/HistQuery.ksq"
cp demo/index.html demo/MainMenu.htm demo/servmain.ksq "$run/docroot/"
# The chart's browser files lie beside HistQuery.ksq, as on the device.
for file in uPlot.iife.min.js uPlot.min.css uPlot-LICENSE.txt histchart.js histchart.css; do
  cp "$build/histquery/web/$file" "$run/docroot/"
done
python3 demo/make_favicon.py "$run/docroot/favicon.ico"
chmod +x "$run/docroot/servmain.ksq"
# The report runs in the docroot and finds the database through this file.
echo "$run/data" >"$run/docroot/HistPath.cfg"
python3 demo/make_history_db.py "$run/data/history.db" 7 6

sed -e "s|@DOCROOT@|$run/docroot|" -e "s|@PORT@|$port|" -e "s|@RUNDIR@|$run|" \
  demo/lighttpd.conf.in >"$run/lighttpd.conf"
if [ "$(id -u)" -eq 0 ]; then
  # Started by root, lighttpd serves as nobody: let it write the selection
  # files and delete rows.
  printf 'server.username = "nobody"\nserver.groupname = "nogroup"\n' >>"$run/lighttpd.conf"
  chmod 0777 "$run" "$run/docroot" "$run/data"
  chmod 0666 "$run/data/history.db"
fi

echo
echo "History report demo: open http://127.0.0.1:$port/ (Ctrl-C stops the server)"
exec lighttpd -D -f "$run/lighttpd.conf"
