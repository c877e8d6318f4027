#!/usr/bin/env bash
# Builds the release twice from copies of the same sources, in two folders whose
# paths differ (and differ in length), one after the other, in different time
# zones and locales, without ccache, and checks that qxupdate.exe, the package and
# the unpacked folder beside it come out byte for byte the same. A difference names
# the first differing bytes and the PE headers of both programs.
# Usage: reproduce.sh SOURCE-DIR     (the CTest test release_reproducible)
set -euo pipefail
src=$(cd "$1" && pwd)

work=$(mktemp -d "${TMPDIR:-/tmp}/qx-reproduce.XXXXXX")
cleanup() { [ -n "${QX_KEEP_REPRODUCE:-}" ] || rm -rf "$work"; }
trap cleanup EXIT

# The sources as they are in the tree (changes not yet committed included), without
# any build or the repository's history.
copy() {
  mkdir -p "$1"
  tar -C "$src" --exclude=./build --exclude=./.git -cf - . | tar -C "$1" -xf -
}
a=$work/a
b=$work/second-folder/with-a-longer-path
copy "$a"
copy "$b"

# Both packages carry the time of the sources, which is what SOURCE_DATE_EPOCH
# is for; everything else about the two builds differs where it can.
epoch=$(git -C "$src" log -1 --format=%ct 2>/dev/null || echo 1133395200)

build() {
  local dir=$1 zone=$2 locale=$3
  echo "== build in $dir (TZ=$zone, LC_ALL=$locale, $(date -u +%H:%M:%S) UTC)"
  (
    cd "$dir"
    # An object from a shared cache would hide a compiler that embeds a path or a time.
    unset CMAKE_C_COMPILER_LAUNCHER CMAKE_CXX_COMPILER_LAUNCHER
    export CCACHE_DISABLE=1 TZ=$zone LC_ALL=$locale SOURCE_DATE_EPOCH=$epoch QX_SKIP_SETUP=1
    nice scripts/release
  ) > "$work/$(basename "$dir").log" 2>&1 || { cat "$work/$(basename "$dir").log"; exit 1; }
  tail -n 11 "$work/$(basename "$dir").log"
}
second_locale=C.UTF-8
locale -a 2>/dev/null | grep -qi '^ja_JP\.utf8$' && second_locale=ja_JP.UTF-8
build "$a" UTC C.UTF-8
# PE and zip time stamps count whole seconds: make sure the clock has moved on.
sleep 2
build "$b" Asia/Tokyo "$second_locale"

status=0
compare() {
  if cmp -s "$1" "$2"; then
    echo "same: $(sha256sum "$1" | cut -c1-64)  ${1#"$a"/}"
  else
    echo "DIFFERENT: ${1#"$a"/}"
    cmp -l "$1" "$2" | head -n 20 || true
    status=1
  fi
}
compare "$a/build/win32/bin/qxupdate.exe" "$b/build/win32/bin/qxupdate.exe"
zips=("$a"/build/release/qxupdate-*.zip)
compare "${zips[0]}" "$b/build/release/$(basename "${zips[0]}")"
# The unpacked folder beside the zip: the same files, each the same bytes.
folder=${zips[0]%.zip}
if [ ! -d "$folder" ] || ! diff <(cd "$folder" && ls -A) <(cd "$b/build/release/$(basename "$folder")" && ls -A); then
  echo "DIFFERENT: the unpacked folders hold different files (or there is none)"
  status=1
else
  for file in "$folder"/*; do compare "$file" "$b/build/release/$(basename "$folder")/$(basename "$file")"; done
  (cd "$folder" && sha256sum --quiet -c SHA256SUMS) || { echo "DIFFERENT: SHA256SUMS"; status=1; }
fi
if [ "$status" != 0 ]; then
  diff <(i686-w64-mingw32-objdump -p "$a/build/win32/bin/qxupdate.exe") \
       <(i686-w64-mingw32-objdump -p "$b/build/win32/bin/qxupdate.exe") || true
  echo "FAILED: two builds of the same sources differ"
fi
exit "$status"
