#!/usr/bin/env bash
# Prints the path of a CPython 3.13 interpreter, or explains on stderr that there is none.
# pyenv's python3.13 shim answers only when PYENV_VERSION names an installed 3.13, so the
# pyenv installations are looked at directly as well.
set -u

works() { "$1" -c 'import sys; sys.exit(sys.version_info[:2] != (3, 13))' >/dev/null 2>&1; }

candidates=()
command -v python3.13 >/dev/null 2>&1 && candidates+=("$(command -v python3.13)")
candidates+=(/usr/bin/python3.13 /usr/local/bin/python3.13)
if command -v pyenv >/dev/null 2>&1; then
  root=$(pyenv root 2>/dev/null)
  for dir in $(ls -d "$root"/versions/3.13* 2>/dev/null | sort -V -r); do
    candidates+=("$dir/bin/python3.13")
  done
fi
for dir in $(ls -d "$HOME"/.pyenv/versions/3.13* 2>/dev/null | sort -V -r); do
  candidates+=("$dir/bin/python3.13")
done

for python in "${candidates[@]}"; do
  if [ -x "$python" ] && works "$python"; then
    "$python" -c 'import sys; print(sys.executable)'
    exit 0
  fi
done
echo "error: no CPython 3.13 interpreter found (looked for python3.13 on PATH, in /usr/bin," >&2
echo "       /usr/local/bin and pyenv's versions). Install Python 3.13 and run make again." >&2
exit 1
