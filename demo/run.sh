#!/usr/bin/env bash
# `make demo`: migrates and seeds the demo's SQLite database, checks that every endpoint serves
# the same data, starts gunicorn on loopback, measures every endpoint over HTTP, shows where a
# request's time goes, and leaves the server running. Everything it writes goes to build/demo (ignored by git).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
python=$(realpath -s "${PYTHON:-$root/.venv/bin/python}")  # absolute: manage() runs in demo/
state=$root/build/demo
port=${DEMO_PORT:-8000}
rows=${DEMO_ROWS:-2000}
limit=${DEMO_LIMIT:-1000}
mkdir -p "$state"
export SORVEL_DEMO_DB=$state/db.sqlite3 SORVEL_DEMO_RESULTS=$state/results.json
manage() { (cd "$root/demo" && "$python" manage.py "$@"); }

"$root/demo/stop.sh" quiet

manage migrate --verbosity 0
manage seed --rows "$rows"
manage compare_endpoints --limit 100

# The port asked for if it is free, else any free one.
port=$("$python" - "$port" <<'PY'
import socket, sys
with socket.socket() as probe:
    try:
        probe.bind(("127.0.0.1", int(sys.argv[1])))
    except OSError:
        probe.bind(("127.0.0.1", 0))
    print(probe.getsockname()[1])
PY
)
address=http://127.0.0.1:$port

# One sync worker: this machine has two cores, one for the server and one for the client.
"$python" -m gunicorn --chdir "$root/demo" --bind "127.0.0.1:$port" --workers 1 \
  --daemon --pid "$state/gunicorn.pid" --error-logfile "$state/gunicorn.log" \
  sorvel_demo.wsgi:application
up=""
for _ in $(seq 100); do
  if "$python" -c "import sys, urllib.request; urllib.request.urlopen(sys.argv[1], timeout=1)" \
    "$address/" 2>/dev/null; then
    up=yes
    break
  fi
  sleep 0.2
done
if [ -z "$up" ]; then
  echo "error: the demo server did not answer at $address/ within 20 s; its log:" >&2
  tail -n 30 "$state/gunicorn.log" >&2
  "$root/demo/stop.sh" quiet
  exit 1
fi

echo
echo "Each endpoint: $limit rows per response, sequential GETs over HTTP on loopback"
"$python" "$root/demo/measure.py" "$address" --limit "$limit" --json "$state/results.json"
echo
echo "Where the time goes, in one process (best of 15 runs each):"
manage breakdown --limit "$limit"
echo
echo "The demo server is running (gunicorn, pid $(cat "$state/gunicorn.pid")): open $address/"
echo "Stop it with: make demo-stop"
