#!/usr/bin/env bash
# Stops the gunicorn that `make demo` started, found by its pid file, if it still runs.
set -u
pidfile=$(cd "$(dirname "$0")/.." && pwd)/build/demo/gunicorn.pid
if [ -f "$pidfile" ] && pid=$(cat "$pidfile") && kill -0 "$pid" 2>/dev/null \
   && grep -q gunicorn "/proc/$pid/cmdline" 2>/dev/null; then
  kill -TERM "$pid"
  for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  echo "stopped the demo server (pid $pid)"
elif [ "${1:-}" != quiet ]; then
  echo "no demo server is running"
fi
rm -f "$pidfile"
