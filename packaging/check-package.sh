#!/usr/bin/env bash
# Installs the Debian package made by `make package` on this machine, checks what it installed
# and that it works, removes it again and checks that nothing of it is left. Also checks that
# `make install` stages the same files. As root (or with sudo), from the repository's root:
#   packaging/check-package.sh [build/parvula_VERSION_ARCH.deb]
set -euo pipefail
cd "$(dirname "$0")/.."
SUDO=$([ "$(id -u)" = 0 ] || echo sudo)
BUILD=${BUILD:-build}

fail() { echo "check-package: $*" >&2; exit 1; }

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$BUILD/CMakeCache.txt")
arch=$(dpkg --print-architecture)
deb=${1:-$BUILD/parvula_${version}_${arch}.deb}
[ -n "$version" ] || fail "no project version in $BUILD/CMakeCache.txt"
[ -f "$deb" ] || fail "$deb is missing: run make package first"
[ "$(dpkg-deb -f "$deb" Package)" = parvula ] || fail "the package is not named parvula"
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "the package's version is not $version"
[ "$(dpkg-deb -f "$deb" Architecture)" = "$arch" ] || fail "the package is not for $arch"
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for lib in libc6 libqt6core6 libqt6gui6 libqt6widgets6 libqt6network6 libjpeg62-turbo \
  libpng16-16 libgif7 zlib1g; do
  grep -qE "(^|, )$lib( |,|$)" <<<"$depends" || fail "dpkg-shlibdeps did not name $lib"
done
# Opened by name when a file needs them, so named by the build rather than found by dpkg-shlibdeps.
for lib in libheif1 libavif15; do
  grep -qE "(^|, )$lib \(>= " <<<"$depends" || fail "the package does not depend on $lib"
done

if dpkg-query -W -f='${Status}' parvula 2>/dev/null | grep -q 'ok installed'; then
  fail "parvula is installed already; remove it first (apt remove parvula)"
fi
work=$(mktemp -d)
installed=0
cleanup() {
  if [ "$installed" = 1 ]; then $SUDO apt-get remove -y -qq parvula >/dev/null 2>&1 || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

# What the package must hold, no more and no less.
appstream_id=$(sed -n 's:.*<id>\(.*\)</id>.*:\1:p' "$BUILD"/packaging/*.metainfo.xml)
expected=$(
  printf '%s\n' /usr/bin/parvula /usr/bin/parvula-cli \
    /usr/share/applications/parvula.desktop "/usr/share/metainfo/$appstream_id.metainfo.xml" \
    /usr/share/man/man1/parvula.1.gz /usr/share/man/man1/parvula-cli.1.gz \
    /usr/share/icons/hicolor/scalable/apps/parvula.svg \
    /usr/share/kio/servicemenus/parvula-make-thumbnails.desktop \
    /usr/share/Thunar/sendto/parvula-make-thumbnails.desktop \
    /usr/share/nautilus-python/extensions/parvula.py
  for size in 16 24 32 48 64 128 256; do
    echo "/usr/share/icons/hicolor/${size}x${size}/apps/parvula.png"
  done | sort
)
expected=$(sort <<<"$expected")
listed=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { sub(/^\./, "", $6); print $6 }' | sort)
[ "$listed" = "$expected" ] || { diff <(echo "$expected") <(echo "$listed") >&2 || true;
  fail "the package's files differ from the expected ones (- expected, + packaged)"; }

echo "== make install stages the same files"
make -s install DESTDIR="$work/stage" PREFIX=/usr >/dev/null
staged=$(cd "$work/stage" && find . -type f | sed 's/^\.//' | sort)
[ "$staged" = "$expected" ] || { diff <(echo "$expected") <(echo "$staged") >&2 || true;
  fail "make install staged other files than the package holds"; }
appstreamcli validate-tree --no-net "$work/stage"

echo "== apt install $deb"
installed=1
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "$(realpath "$deb")" >/dev/null
dpkg-query -W -f='${Status}\n' parvula | grep -q '^install ok installed$' || fail "not installed"
while read -r f; do
  [ -f "$f" ] || fail "$f was not installed"
done <<<"$expected"

echo "== the installed programs"
[ "$(parvula-cli --version)" = "parvula-cli $version" ] || fail "parvula-cli --version"
[ "$(parvula --version)" = "parvula $version" ] || fail "parvula --version"
cp docs/main-window.png "$work/photo.png"
(cd "$work" && parvula-cli --width 64 --height 64 --filter lanczos3 --format png photo.png) \
  | tee "$work/out.txt"
grep -qx 'Created: 1' "$work/out.txt" || fail "parvula-cli did not count one thumbnail"
thumb="$work/tn_photo.png"
[ -f "$thumb" ] || fail "no thumbnail $thumb"
# The PNG's width and height, from its header: the box is 64 x 64, one side fills it.
read -r w h < <(od -An -tu1 -j16 -N8 "$thumb" | awk '{ print $1*16777216+$2*65536+$3*256+$4,
  $5*16777216+$6*65536+$7*256+$8 }')
echo "thumbnail: ${w} x ${h}"
{ [ "$w" -le 64 ] && [ "$h" -le 64 ] && { [ "$w" = 64 ] || [ "$h" = 64 ]; }; } \
  || fail "the thumbnail is ${w} x ${h}, not fitted into 64 x 64"
# HEIC and AVIF through the libraries the installed program opens when it first meets them.
heif-enc -q 60 "$work/photo.png" -o "$work/photo.heic" >/dev/null
avifenc -s 10 "$work/photo.png" "$work/photo.avif" >/dev/null
(cd "$work" && parvula-cli --width 64 --height 64 photo.heic photo.avif) | tee "$work/out.txt"
grep -qx 'Created: 2' "$work/out.txt" || fail "parvula-cli did not make the HEIC and AVIF thumbnails"
[ -f "$work/tn_photo.jpg" ] && [ -f "$work/tn_photo_1.jpg" ] || fail "no HEIC or AVIF thumbnail"
# The window starts from the installed files (its libraries and Qt's plugins) and keeps running.
mkdir -m 700 "$work/runtime"
status=0
HOME="$work" XDG_RUNTIME_DIR="$work/runtime" QT_QPA_PLATFORM=offscreen \
  timeout 5 parvula "$work/photo.png" >/dev/null 2>&1 || status=$?
[ "$status" = 124 ] || fail "the installed window ended by itself (status $status)"

echo "== validators and the manual page"
desktop-file-validate /usr/share/applications/parvula.desktop
[ -z "$(desktop-file-validate /usr/share/applications/parvula.desktop)" ] \
  || fail "desktop-file-validate has remarks"
appstreamcli validate --no-net "/usr/share/metainfo/$appstream_id.metainfo.xml"
# The file managers' entries open the window with the selection; Thunar's is a desktop entry.
[ -z "$(desktop-file-validate /usr/share/Thunar/sendto/parvula-make-thumbnails.desktop)" ] \
  || fail "desktop-file-validate has remarks on Thunar's entry"
for f in /usr/share/kio/servicemenus/parvula-make-thumbnails.desktop \
  /usr/share/Thunar/sendto/parvula-make-thumbnails.desktop; do
  grep -qx 'Exec=parvula -- %F' "$f" || fail "$f does not open the window with the selection"
  grep -q 'image/jpeg;.*inode/directory;' "$f" || fail "$f does not offer pictures and folders"
done
if command -v python3 >/dev/null; then
  python3 -c 'import ast, sys; ast.parse(open(sys.argv[1]).read())' \
    /usr/share/nautilus-python/extensions/parvula.py || fail "the Nautilus extension is no Python"
fi
[ "$(man -w parvula-cli)" = /usr/share/man/man1/parvula-cli.1.gz ] || fail "man -w parvula-cli"
MANWIDTH=80 man -P cat parvula-cli 2>/dev/null | tee "$work/man.txt" | sed -n '1,8p'
grep -q 'parvula-cli - make thumbnails' "$work/man.txt" || fail "man parvula-cli shows no page"
MANWIDTH=80 man -P cat parvula 2>/dev/null | grep -q 'parvula - make thumbnails' \
  || fail "man parvula shows no page"

echo "== apt remove parvula"
DEBIAN_FRONTEND=noninteractive $SUDO apt-get remove -y -qq parvula >/dev/null
installed=0
if dpkg-query -W -f='${Status}' parvula 2>/dev/null | grep -qv 'not-installed'; then
  fail "dpkg still knows parvula: $(dpkg-query -W -f='${Status}' parvula)"
fi
while read -r f; do
  [ ! -e "$f" ] || fail "$f is left after the removal"
done <<<"$expected"
! command -v parvula-cli >/dev/null || fail "parvula-cli is still found"
echo "check-package: all checks passed for $deb"
