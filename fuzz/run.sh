#!/bin/sh
# Builds the libFuzzer targets in build-fuzz (clang, AddressSanitizer and UBSan) and runs each for
# a given time, one process on one core, seeded with the shared corpus and the test fixtures.
# Usage: fuzz/run.sh [SECONDS_PER_TARGET] [TARGET...]   (default 60 s, every target)
# Findings land in build-fuzz/fuzz/artifacts/<target>/; the summary line of each run is printed,
# and the exit status is 1 when any target found something.
set -eu
cd "$(dirname "$0")/.."
ROOT=$(pwd)
BUILD=${FUZZ_BUILD:-build-fuzz}
SECONDS_PER_TARGET=${1:-60}
[ $# -gt 0 ] && shift
TARGETS=${*:-"fuzz_bmp fuzz_jpeg fuzz_png fuzz_gif fuzz_ico fuzz_heif fuzz_avif fuzz_webp fuzz_tiff fuzz_resample fuzz_thumbnail fuzz_colourprofile fuzz_metadata fuzz_ini fuzz_expandpath fuzz_strtointprefix fuzz_cleanfilename"}
CORPORA=${PARVULA_CORPORA_DIR:-$ROOT/../shared/corpora}
LOCK=/tmp/parvula-build.lock

if [ ! -f "$BUILD/build.ninja" ]; then
  CC=clang-14 CXX=clang++-14 flock "$LOCK" cmake -S . -B "$BUILD" -G Ninja \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPARVULA_FUZZ=ON -DPARVULA_SANITIZE=ON -DPARVULA_TESTS=OFF
fi
# shellcheck disable=SC2086
flock "$LOCK" cmake --build "$BUILD" -j2 --target $TARGETS

WORK=$ROOT/$BUILD/fuzz
findings=0
for target in $TARGETS; do
  format=${target#fuzz_}
  corpus=$WORK/corpus/$target
  artifacts=$WORK/artifacts/$target
  mkdir -p "$corpus" "$artifacts" "$WORK/logs"
  seeds=
  maxlen=4096
  case $format in
    bmp|jpeg|png|gif|ico)
      maxlen=65536
      for kind in valid invalid fuzz-seeds; do
        for d in "$CORPORA/$kind/$format" "$CORPORA/$kind/$format-questionable"; do
          [ -d "$d" ] && seeds="$seeds $d"
        done
      done
      fixtures=$WORK/fixtures/$format
      mkdir -p "$fixtures"
      ext=$format; [ "$format" = jpeg ] && ext=jpg
      find "$ROOT/tests/data" -name "*.$ext" -exec cp {} "$fixtures/" \; 2>/dev/null || true
      seeds="$seeds $fixtures"
      ;;
    heif|avif|webp|tiff)
      # Small pictures of each variant made by the Debian encoders (whichever are installed),
      # and the test fixtures of the format.
      maxlen=65536
      fixtures=$WORK/fixtures/$format
      mkdir -p "$fixtures"
      if [ -z "$(ls -A "$fixtures" 2>/dev/null)" ]; then
        sh "$ROOT/fuzz/make_photo_seeds.sh" "$format" "$fixtures" || true
      fi
      seeds="$fixtures"
      ;;
    thumbnail)
      # Every picture of every format: the target tries each reader on each input.
      maxlen=65536
      for kind in valid fuzz-seeds; do
        for d in "$CORPORA/$kind"/*; do
          [ -d "$d" ] && seeds="$seeds $d"
        done
      done
      mkdir -p "$WORK/fixtures/thumbnail"
      cp "$ROOT"/tests/data/*.* "$WORK/fixtures/thumbnail/" 2>/dev/null || true
      rm -f "$WORK/fixtures/thumbnail/"*.md
      seeds="$seeds $WORK/fixtures/thumbnail"
      for photo in heif avif webp tiff; do
        [ -d "$WORK/fixtures/$photo" ] && seeds="$seeds $WORK/fixtures/$photo"
      done
      ;;
    colourprofile)
      # The profiles the system ships (colord's and ghostscript's, when installed).
      maxlen=65536
      mkdir -p "$WORK/fixtures/colourprofile"
      find /usr/share/color/icc -name '*.ic[cm]' -size -64k \
        -exec cp {} "$WORK/fixtures/colourprofile/" \; 2>/dev/null || true
      seeds="$WORK/fixtures/colourprofile"
      ;;
    metadata)
      # Photos that carry metadata, of every format that has a corpus.
      maxlen=65536
      for kind in valid fuzz-seeds; do
        for d in "$CORPORA/$kind/jpeg" "$CORPORA/$kind/png" "$CORPORA/$kind/tiff" \
          "$CORPORA/$kind/webp" "$CORPORA/$kind/heic"; do
          [ -d "$d" ] && seeds="$seeds $d"
        done
      done
      ;;
    ini)
      mkdir -p "$WORK/fixtures/ini"
      printf '[parvula]\r\nWidth=120\r\n[Profile one]\r\nPrefix=tn_\r\n' >"$WORK/fixtures/ini/plain.ini"
      printf '\377\376[\000a\000]\000\r\000\n\000k\000=\000v\000' >"$WORK/fixtures/ini/utf16.ini"
      seeds="$WORK/fixtures/ini"
      ;;
  esac
  log=$WORK/logs/$target.log
  echo "== $target: ${SECONDS_PER_TARGET}s"
  # shellcheck disable=SC2086
  (cd "$artifacts" && HOME=$WORK/home ASAN_OPTIONS=detect_leaks=1 \
    LSAN_OPTIONS=suppressions=$ROOT/tests/lsan_suppressions.txt \
    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    "$ROOT/$BUILD/bin/$target" -max_total_time="$SECONDS_PER_TARGET" -timeout=25 \
      -rss_limit_mb=3072 -max_len=$maxlen -print_final_stats=1 \
      -artifact_prefix="$artifacts/" "$corpus" $seeds >"$log" 2>&1) || {
    echo "   FINDING: see $log"
    findings=$((findings + 1))
  }
  grep -E '^#[0-9]+[[:space:]]+(DONE|INITED)' "$log" | tail -2 | sed 's/^/   /'
  grep -E '^stat::number_of_executed_units' "$log" | sed 's/^/   /'
done
[ "$findings" -eq 0 ]
