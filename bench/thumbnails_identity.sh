#!/bin/bash
# Makes the thumbnails of a set of pictures with every kernel and every output format (and a few
# tint, quality and direction settings) into one folder, so the outputs of two builds can be
# compared byte for byte with `diff -r`. A file that fails is logged with its error text and the
# run goes on with the files after it.
#
# Usage: bench/thumbnails_identity.sh CLI OUT_DIR INPUT_DIR...
#   CLI        a parvula-cli binary (keep a copy of the reference build's)
#   OUT_DIR    created anew; one sub-folder per setting, plus failures.txt in each
#   INPUT_DIR  folders of pictures (copied first, so the sources are never touched)
# Compare: diff -r OUT_A OUT_B && echo identical
set -euo pipefail
CLI=$(realpath "$1")
OUT=$2
shift 2
[ $# -gt 0 ] || { echo "usage: $0 CLI OUT_DIR INPUT_DIR..." >&2; exit 2; }
rm -rf "$OUT"
mkdir -p "$OUT"
OUT=$(realpath "$OUT")
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

# Settings: a name and parvula-cli's options.
SETTINGS=()
for filter in none box triangle hermite bell b-spline lanczos3 mitchell; do
  for format in own bmp jpg png gif; do
    fmt=$format; [ "$format" = own ] && fmt=
    SETTINGS+=("$filter-$format|--width 48 --height 40 --filter $filter --format $fmt")
  done
done
SETTINGS+=("mono-png|--width 48 --height 40 --filter mitchell --format png --mono #1A2B3C")
SETTINGS+=("mono-gif|--width 48 --height 40 --filter none --format gif --mono #C03040")
SETTINGS+=("mono-jpg|--width 48 --height 40 --filter bell --format jpg --mono #102030")
SETTINGS+=("mark-png|--width 48 --height 40 --filter box --format png --mono ")
SETTINGS+=("q100-own|--width 0 --height 0 --filter lanczos3 --format jpg --quality 100")
SETTINGS+=("q100-fit|--width 48 --height 0 --filter triangle --format jpg --quality 100")
SETTINGS+=("shrink-only|--width 300 --height 300 --filter lanczos3 --shrink-only")
SETTINGS+=("no-upright|--width 48 --height 40 --filter hermite --format png --no-upright")
SETTINGS+=("enlarge|--width 0 --height 200 --filter b-spline --format bmp")

for entry in "${SETTINGS[@]}"; do
  name=${entry%%|*}
  read -r -a options <<<"${entry#*|}"
  # An empty --format or --mono value is its own argument.
  args=()
  for ((i = 0; i < ${#options[@]}; ++i)); do
    args+=("${options[$i]}")
    case ${options[$i]} in
      --format | --mono)
        next=${options[$((i + 1))]:-}
        if [ -z "$next" ] || [ "${next#--}" != "$next" ]; then args+=(""); else args+=("$next"); i=$((i + 1)); fi
        ;;
    esac
  done
  src=$WORK/src
  rm -rf "$src"
  mkdir -p "$src"
  n=0
  for dir in "$@"; do
    n=$((n + 1))
    cp -r "$dir" "$src/$n"
  done
  # The run's own order (sorted ignoring case, absolute paths), from a dry run.
  mapfile -t order < <("$CLI" --dry-run "${args[@]}" -- "$src" | sed -n 's/ -> .*//p')
  : >"$OUT/$name.failures.txt"
  pending=("${order[@]}")
  while [ ${#pending[@]} -gt 0 ]; do
    set +e
    "$CLI" --jobs 2 --affix tn_ "${args[@]}" -- "${pending[@]}" >"$WORK/out.txt" 2>"$WORK/err.txt"
    rc=$?
    set -e
    [ $rc -eq 0 ] && break
    if [ $rc -ne 1 ]; then
      echo "$name: parvula-cli exited with $rc" >&2
      cat "$WORK/err.txt" >&2
      exit 1
    fi
    # The run stops at the first failing file: the first pending one without an output line.
    done_count=$(grep -c -- ' -> ' "$WORK/out.txt" || true)
    failed=${pending[$done_count]}
    printf '%s\t%s\n' "${failed#"$src"/}" "$(sed "s|$src|SRC|g" "$WORK/err.txt" | tr '\n' ' ')" \
      >>"$OUT/$name.failures.txt"
    pending=("${pending[@]:$((done_count + 1))}")
  done
  mkdir -p "$OUT/$name"
  (cd "$src" && find . -type f -name "tn_*" -print0 | xargs -0 -r cp --parents -t "$OUT/$name/")
  echo "$name: $(find "$OUT/$name" -type f | wc -l) outputs, $(wc -l <"$OUT/$name.failures.txt") failures"
done
