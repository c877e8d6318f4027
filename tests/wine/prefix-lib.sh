# Wine prefixes for a build's tests, all cloned from one base prefix per build.
# wineboot takes half a minute, and a prefix holds some 700 MB, nearly all of it
# Wine's own DLLs under drive_c/windows. A clone hard-links those directories
# (nothing here writes to them) and copies everything else: the registry files in
# particular, which the wine server rewrites in place when they have more than one
# link. A clone costs a few megabytes and a second, so a CI run of every scenario
# stays within a couple of gigabytes of disk.
# Sourced by wine-run, win98-run and the scenario scripts.

# The directories a clone shares with its source.
QX_SHARED_PREFIX_DIRS='drive_c/windows/system32 drive_c/windows/syswow64 drive_c/windows/winsxs'

# Makes BUILD-DIR's base prefix on first use (under a lock, for tests run side by
# side) and prints its path. Usage: qx_base_prefix WINE BUILD-DIR
qx_base_prefix() {
  local wine=$1 build=$2 version=1
  local base=$build/wine-base-${WINEARCH:-win64}
  mkdir -p "$build"
  (
    flock 9
    if [ "$(cat "$base/.qx-base" 2>/dev/null)" != "$version" ]; then
      rm -rf "$base"
      mkdir -p "$base"
      WINEPREFIX=$base "$wine" wineboot -i >/dev/null 2>&1 || true
      WINEPREFIX=$base "$(dirname "$wine")/wineserver" -w 2>/dev/null || WINEPREFIX=$base wineserver -w || true
      [ -f "$base/system.reg" ] || { echo "qx_base_prefix: wineboot made no prefix in $base" >&2; exit 1; }
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
