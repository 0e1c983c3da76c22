#!/usr/bin/env bash
# Installs sorvel the way a new user would, on this machine made to look like one without the
# system's oneTBB: in a private mount namespace (nothing outside this script sees it), the
# system's TBB headers, CMake files and libraries are covered up, so that neither CMake, the
# compiler nor the dynamic loader can use them. Then, each in a fresh venv:
#   1. `pip install "<source tree>[drf]"` (build isolation: oneTBB comes from the package index;
#      the extra brings Django and DRF), and mypy --strict must see the installed stubs;
#   2. an sdist is made, and `pip install <sdist>`;
#   3. a build with no oneTBB anywhere must fail with an error that names what to install.
# After 1 and 2 the installed modules are imported and run, the parallel pool included, and
# libtbb.so.12 must have been loaded from the venv. The source tree must be left unchanged.
# Needs root (for unshare) and the package index; takes a few minutes (two full builds).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

if [ "${SORVEL_TBB_HIDDEN:-}" != 1 ]; then
  exec unshare --mount --propagation private env SORVEL_TBB_HIDDEN=1 "$0" "$@"
fi

empty_dir=$(mktemp -d)
hidden=0
for dir in /usr/include/tbb /usr/include/oneapi /usr/local/include/tbb /usr/local/include/oneapi \
           /usr/lib/x86_64-linux-gnu/cmake/TBB /usr/lib/cmake/TBB /usr/local/lib/cmake/TBB; do
  [ -d "$dir" ] && mount --bind "$empty_dir" "$dir" && hidden=$((hidden + 1))
done
for file in /usr/lib/x86_64-linux-gnu/libtbb* /usr/lib/libtbb* /usr/local/lib/libtbb* \
            /usr/lib/x86_64-linux-gnu/pkgconfig/tbb.pc /usr/share/pkgconfig/tbb.pc; do
  [ -f "$file" ] && [ ! -L "$file" ] && mount --bind /dev/null "$file" && hidden=$((hidden + 1))
done
echo "== hid $hidden system oneTBB paths from this process tree"

python=$("$root/tools/find-python.sh")
work=$(mktemp -d)
trap 'rm -rf "$work" "$empty_dir"' EXIT
before=$(git -C "$root" status --porcelain --ignored)

smoke() {  # $1: the venv's python
  "$1" - <<'PY'
import sys, sysconfig
import _native, sorvel_core, sorvel_django
schema = sorvel_core.Schema({"n": sorvel_core.Field(int, min_value=0)})
assert sorvel_core.validate({"n": -1}, schema)["error_count"] == 1
stats = _native.batch_stats([float(i) for i in range(100_000)])  # runs on the oneTBB pool
assert stats["count"] == 100_000, stats
tbb = [line.split()[-1] for line in open("/proc/self/maps") if "libtbb.so" in line]
assert tbb and all(path.startswith(sys.prefix) for path in tbb), tbb
print("   ran; libtbb loaded from", tbb[0], "; version", sorvel_core.__version__)
PY
}

echo "== 1. pip install '<source tree>[drf]' into a fresh venv"
"$python" -m venv "$work/venv1"
"$work/venv1/bin/pip" install --quiet "$root[drf]" mypy
smoke "$work/venv1/bin/python"
"$work/venv1/bin/python" - <<'PY'
import django
from django.conf import settings
settings.configure(INSTALLED_APPS=["django.contrib.contenttypes", "django.contrib.auth"])
django.setup()
import sorvel, sorvel.django, sorvel.drf
print("   sorvel", sorvel.__version__, "with sorvel.django and sorvel.drf imports")
PY
cat >"$work/typed.py" <<'PY'
import _native
import sorvel_django
from sorvel_core import Field, Schema, validate
report = validate({"n": 1}, Schema({"n": Field(int)}))
count: int = report["error_count"]
stats = _native.batch_stats([1.0])
version: str = sorvel_django.version()
PY
(cd "$work" && "$work/venv1/bin/mypy" --strict --no-incremental typed.py | sed 's/^/   mypy: /')

echo "== 2. sdist, then pip install <sdist> into a fresh venv"
"$python" -m venv "$work/venv2"
"$work/venv2/bin/pip" install --quiet build
"$work/venv2/bin/python" -m build --sdist --outdir "$work/dist" "$root" >"$work/sdist.log" 2>&1
sdist=$(ls "$work"/dist/sorvel-*.tar.gz)
echo "   $(basename "$sdist"): $(tar tzf "$sdist" | wc -l) files"
"$work/venv2/bin/pip" install --quiet "$sdist"
smoke "$work/venv2/bin/python"

echo "== 3. no oneTBB at all: the error must say what to install"
"$python" -m venv "$work/venv3"
"$work/venv3/bin/pip" install --quiet "scikit-build-core>=0.10" "cmake>=3.24" ninja
if "$work/venv3/bin/pip" install --no-build-isolation --no-deps "$root" >"$work/notbb.log" 2>&1; then
  echo "error: the build succeeded without any oneTBB" >&2
  exit 1
fi
grep -q "pip install tbb-devel" "$work/notbb.log" && grep -q "libtbb-dev" "$work/notbb.log" || {
  cat "$work/notbb.log" >&2
  echo "error: the failure does not say what to install" >&2
  exit 1
}
sed -n '/sorvel needs oneTBB/,/TBBConfig.cmake/p' "$work/notbb.log" | sed 's/^/   /'

after=$(git -C "$root" status --porcelain --ignored)
if [ "$before" != "$after" ]; then
  echo "error: the installs changed the source tree:" >&2
  diff <(echo "$before") <(echo "$after") >&2 || true
  exit 1
fi
echo "== all good: the source tree is as it was"
