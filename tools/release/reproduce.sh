#!/usr/bin/env bash
# Checks that the release comes out byte for byte the same from a second, clean build
# of a copy of the same sources: qxupdate.exe, the package and the unpacked folder
# beside it. The first build is the tree's own (the program the other tests ran);
# the second is made after it, from a copy in a folder whose path differs (and
# differs in length), in another time zone and locale, without ccache. A difference
# names the first differing bytes and the PE headers of both programs.
# Usage: reproduce.sh SOURCE-DIR BUILD-DIR     (the CTest test release_reproducible)
set -euo pipefail
src=$(cd "$1" && pwd)
tree_build=$(cd "$2" && pwd)

work=$(mktemp -d "${TMPDIR:-/tmp}/qx-reproduce.XXXXXX")
cleanup() { [ -n "${QX_KEEP_REPRODUCE:-}" ] || rm -rf "$work"; }
trap cleanup EXIT

# Both packages carry the time of the sources, which is what SOURCE_DATE_EPOCH
# is for; everything else about the two builds differs where it can.
epoch=$(git -C "$src" log -1 --format=%ct 2>/dev/null || echo 1133395200)

# The tree's own build, brought up to date first (a no-op after a build), and packed
# as scripts/release packs it. An object its compiler cache gave cannot hide a
# compiler that embeds a path or a time: the second build takes nothing from a cache.
echo "== the tree's own build ($tree_build)"
cmake --build "$tree_build" --target qxupdate >"$work/tree.log" 2>&1 || { cat "$work/tree.log"; exit 1; }
a=$work/a
mkdir -p "$a/build/win32/bin"
cp "$tree_build/bin/qxupdate.exe" "$a/build/win32/bin/"
"$src/tools/release/package.py" pack --exe "$a/build/win32/bin/qxupdate.exe" --docs "$src/docs" \
  --out "$a/build/release" --epoch "$epoch" >>"$work/tree.log" 2>&1 || { cat "$work/tree.log"; exit 1; }

# The sources as they are in the tree (changes not yet committed included), without
# any build or the repository's history.
b=$work/second-folder/with-a-longer-path
mkdir -p "$b"
tar -C "$src" --exclude=./build --exclude=./.git -cf - . | tar -C "$b" -xf -

# A time zone and a locale other than the first build's.
zone=Asia/Tokyo
[ "$(date +%z)" != "$(TZ=$zone date +%z)" ] || zone=America/New_York
locale=C.UTF-8
if locale -a 2>/dev/null | grep -qi '^ja_JP\.utf8$' && [[ "${LC_ALL:-${LANG:-}}" != ja_JP* ]]; then
  locale=ja_JP.UTF-8
fi
# PE and zip time stamps count whole seconds: make sure the clock has moved on.
sleep 2
echo "== build in $b (TZ=$zone, LC_ALL=$locale, $(date -u +%H:%M:%S) UTC)"
(
  cd "$b"
  unset CMAKE_C_COMPILER_LAUNCHER CMAKE_CXX_COMPILER_LAUNCHER
  export CCACHE_DISABLE=1 TZ=$zone LC_ALL=$locale SOURCE_DATE_EPOCH=$epoch QX_SKIP_SETUP=1
  nice scripts/release
) > "$work/second.log" 2>&1 || { cat "$work/second.log"; exit 1; }
tail -n 11 "$work/second.log"

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
