#!/bin/bash
# Side-by-side timing of parvula-cli against libjpeg's decode-only floor and other tools on the
# photo corpus, then every kind of photo (turned, progressive, PNG) against its own decode floor;
# writes docs/performance.md and docs/performance.png.
#
# Usage: bench/run.sh [PHOTOS]     PHOTOS: how many of the 40 photos to time (default all)
# Environment: PARVULA_PHOTO_CORPUS (default /tmp/parvula-photos), BUILD (default build),
# KINDS_ONLY=1 to time only the kinds (their section of docs/performance.md is replaced).
# A full run takes about 10 minutes on two cores; the corpus, when missing, 2-3 more. The other
# tools (imagemagick, graphicsmagick, libvips-tools) are compared when installed.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
COUNT=${1:-40}
CORPUS=${PARVULA_PHOTO_CORPUS:-/tmp/parvula-photos}
BUILD=${BUILD:-build}
cd "$ROOT"

if [ ! -f "$CORPUS/MANIFEST.tsv" ]; then
  echo "Building the photo corpus in $CORPUS (2-3 minutes)"
  bash "$ROOT/../shared/bench/make_photo_corpus.sh" "$CORPUS"
fi

# Only the two targets the benchmark needs, through the build lock the shared machine uses.
LOCK=/tmp/parvula-build.lock
if [ ! -f "$BUILD/build.ninja" ]; then
  flock "$LOCK" cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPARVULA_BENCH=ON
elif ! grep -q '^PARVULA_BENCH:BOOL=ON' "$BUILD/CMakeCache.txt"; then
  flock "$LOCK" cmake "$BUILD" -DPARVULA_BENCH=ON
fi
flock "$LOCK" cmake --build "$BUILD" -j2 --target parvula-cli parvula-bench-decode parvula-bench-fit

# Pillow comes with Debian's python3-pil; the harness draws the chart with it too.
PYTHON=/usr/bin/python3
[ -x "$PYTHON" ] || PYTHON=python3
if [ -z "${KINDS_ONLY:-}" ]; then
  "$PYTHON" "$ROOT/bench/compare.py" --photos "$CORPUS" --count "$COUNT" \
    --cli "$BUILD/bin/parvula-cli" --decode "$BUILD/bin/parvula-bench-decode" \
    --fit "$BUILD/bin/parvula-bench-fit" --docs "$ROOT/docs"
fi
exec "$PYTHON" "$ROOT/bench/kinds.py" --photos "$CORPUS" \
  --cli "$BUILD/bin/parvula-cli" --decode "$BUILD/bin/parvula-bench-decode" --docs "$ROOT/docs"
