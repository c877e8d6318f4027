# Wine prefixes for the tests, all cloned from one base prefix.
# wineboot takes half a minute, and a prefix holds some 700 MB, nearly all of it
# Wine's own DLLs under drive_c/windows. A clone hard-links those directories
# (nothing here writes to them) and copies everything else: the registry files in
# particular, which the wine server rewrites in place when they have more than one
# link. A clone costs a few megabytes and a second, so a CI run of every scenario
# stays within a couple of gigabytes of disk.
# Sourced by wine-run, win98-run and the scenario scripts.
QX_WINE_LIB_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

QX_WINE64=/usr/lib/wine/wine64
[ -x "$QX_WINE64" ] || QX_WINE64=$(command -v wine64 || echo wine64)
QX_WINE32=/usr/lib/wine/wine
QX_WINESERVER=$(dirname "$QX_WINE64")/wineserver
[ -x "$QX_WINESERVER" ] || QX_WINESERVER=$(command -v wineserver || echo wineserver)

# Prints the loader that runs EXE, or says why it cannot run here and fails. A 32-bit
# program gets wine32's loader itself: wine64 would start it as a process of its own
# and report 0 when that process dies of a signal (a crash under emulation, say),
# while the loader's own exit status shows it.
qx_wine_for() {  # EXE
  if file -b "$1" | grep -q 'x86-64'; then
    printf '%s\n' "$QX_WINE64"
  elif "$QX_WINE_LIB_DIR/can-run-32bit"; then
    printf '%s\n' "$QX_WINE32"
  else
    echo "$(basename "$1") is a 32-bit program; skipped" >&2
    return 1
  fi
}

# The directories a clone shares with its source.
QX_SHARED_PREFIX_DIRS='drive_c/windows/system32 drive_c/windows/syswow64 drive_c/windows/winsxs'

# Every program runs in a 64-bit prefix: wine64 starts a 32-bit program with wine32's
# loader, so only the program itself is emulated where the kernel runs no 32-bit code,
# while Wine's services stay native. wineboot installs the prefix's 32-bit half
# (syswow64 and its registry) only where 32-bit programs can run, so that is part of
# the base's stamp. One base serves every build under the same folder (build/win32 and
# build/win64 share build/wine-base-win64).

# Makes the base prefix beside BUILD-DIR on first use (under a lock, for tests run side
# by side) and prints its path. Usage: qx_base_prefix WINE BUILD-DIR
qx_base_prefix() {
  local wine=$1 build=$2 version=2 base
  base=$(cd "$build/.." && pwd)/wine-base-win64
  if "$QX_WINE_LIB_DIR/can-run-32bit" 2>/dev/null; then version=$version+wow32; fi
  mkdir -p "$build"
  (
    flock 9
    if [ "$(cat "$base/.qx-base" 2>/dev/null)" != "$version" ]; then
      rm -rf "$base"
      mkdir -p "$base"
      local started=$SECONDS
      WINEARCH=win64 WINEPREFIX=$base "$wine" wineboot -i >/dev/null 2>&1 || true
      WINEPREFIX=$base "$(dirname "$wine")/wineserver" -w 2>/dev/null || WINEPREFIX=$base wineserver -w || true
      [ -f "$base/system.reg" ] || { echo "qx_base_prefix: wineboot made no prefix in $base" >&2; exit 1; }
      echo "qx_base_prefix: made $base ($version) in $((SECONDS - started)) s" >&2
      echo "$version" > "$base/.qx-base"
    fi
  ) 9>"$base.lock" || return 1
  printf '%s\n' "$base"
}

# Usage: qx_clone_prefix SOURCE TARGET (TARGET is replaced)
qx_clone_prefix() {
  local src=$1 dst=$2 dir excludes=()
  for dir in $QX_SHARED_PREFIX_DIRS; do excludes+=("--exclude=./$dir"); done
  rm -rf "$dst"
  mkdir -p "$dst"
  tar -C "$src" "${excludes[@]}" -cf - . | tar -C "$dst" -xf - || return 1
  for dir in $QX_SHARED_PREFIX_DIRS; do
    if [ -d "$src/$dir" ]; then cp -al "$src/$dir" "$dst/$dir" || return 1; fi
  done
}
