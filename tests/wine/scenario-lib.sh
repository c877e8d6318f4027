# Shared steps of the end-to-end scenarios under Wine (sourced by run-scenario).
# Each scenario runs in a fresh copy of a prepared prefix, in its own X display
# (xvfb-run), with the robot answering the utility's windows.

export WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml='

log() { printf '== %s\n' "$*"; }
fail() {
  printf 'FAILED: %s\n' "$*"
  exit 1
}

# Runs one step of Wine's tools: WHAT says what it does. Quiet when it succeeds; when
# it fails, the scenario fails saying which command failed, its status and its output
# (Wine's own error messages included).
step() {  # WHAT COMMAND [ARGS...]
  local what=$1 out status=0
  shift
  out=$(WINEDEBUG=fixme-all "$@" 2>&1) || status=$?
  [ "$status" = 0 ] || fail "$what: \`$*\` exited with $status:
$out"
}

# shellcheck source=prefix-lib.sh
. "$(dirname "${BASH_SOURCE[0]}")/prefix-lib.sh"
# Wine's own tools (reg, regedit) run from the 64-bit loader; the build's programs from
# the loader of their kind (qx_wine_for).
WINE=$QX_WINE64
WINESERVER=$QX_WINESERVER

# A prefix made once per build and cloned for every scenario: Windows XP, and
# top-level windows without a window manager.
template_settings() {
  step "making the template: Windows XP" "$WINE" reg add 'HKCU\Software\Wine' /v Version /d winxp /f
  step "making the template: no window manager" \
    "$WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f
  # The Japanese templates ask for a proportional gothic; the nearest one installed
  # is IPA's, without which Wine falls back to a fixed-pitch face and clips texts.
  LC_ALL=C.UTF-8 step "making the template: the Japanese font" \
    "$WINE" reg add 'HKCU\Software\Wine\Fonts\Replacements' /v 'ＭＳ Ｐゴシック' /d 'IPAPGothic' /f
}
TEMPLATE_VERSION=3

# Makes the template with template_settings once per build folder; scenarios run side
# by side wait for the first one's under a lock. The template's session has ended
# before any scenario copies it.
make_template() {
  local template=$WORK/template-prefix
  exec 8>"$WORK/template.lock"
  flock 8
  if [ "$(cat "$template/.ready" 2>/dev/null)" != "$TEMPLATE_VERSION" ]; then
    qx_clone_prefix "$(qx_base_prefix "$WINE" "$BUILD")" "$template" || fail "cloning the base prefix"
    (
      export WINEPREFIX=$template
      hold_server
      template_settings
      end_session
    ) || exit 1
    echo "$TEMPLATE_VERSION" > "$template/.ready"
  fi
  flock -u 8
  exec 8>&-
}

# A fresh copy of the template, with a session of the prefix held open for the steps
# that prepare it (see hold_server).
fresh_prefix() {
  make_template
  export WINEPREFIX=$WORK/prefixes/$SCENARIO
  qx_clone_prefix "$WORK/template-prefix" "$WINEPREFIX" || fail "cloning the template prefix"
  mkdir -p "$WINEPREFIX/drive_c/qx"
  hold_server
}

# On the way out: screenshots to PNG, the prefix's programs stopped, and a passed
# scenario's prefix removed (a failed one stays for a look, as do all of them with
# QX_KEEP_PREFIXES=1).
end_scenario() {
  local status=$?
  [ -z "${HOLD_WRITER:-}" ] || kill "$HOLD_WRITER" 2>/dev/null || true
  shots_to_png
  [ -n "${WINEPREFIX:-}" ] || return 0
  "$WINESERVER" -k 2>/dev/null || true
  if [ "$status" = 0 ] && [ -z "${QX_KEEP_PREFIXES:-}" ] && [ "$WINEPREFIX" = "$WORK/prefixes/$SCENARIO" ]; then
    "$WINESERVER" -w 2>/dev/null || true
    rm -rf "$WINEPREFIX"
  fi
}

# The settings the NT family's journal changes, in the way of an update.
seed_settings() {
  cat > "$WORK/seed-$SCENARIO.reg" <<'REG'
REGEDIT4

[HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Services\atapi\Parameters\Device0]
"DriverParameter"="DmaDetectionLevel = 0x1;"

[HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Control\Class\{4D36E96A-E325-11CE-BFC1-08002BE10318}]
"Class"="hdc"

[HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Control\Class\{4D36E96A-E325-11CE-BFC1-08002BE10318}\0001]
"MasterDeviceTimingMode"=dword:00002010
"MasterDeviceTimingModeAllowed"=dword:ffffffff
"UserSlaveDeviceTimingModeAllowed"=dword:ffffffff

[HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Services\Cdrom]
"Autorun"=dword:00000001
REG
  step "seeding the registry" "$WINE" regedit /S "Z:$WORK/seed-$SCENARIO.reg"
}

HDC='HKLM\SYSTEM\CurrentControlSet\Control\Class\{4D36E96A-E325-11CE-BFC1-08002BE10318}\0001'
ATAPI='HKLM\SYSTEM\CurrentControlSet\Services\atapi\Parameters\Device0'
CDROM='HKLM\SYSTEM\CurrentControlSet\Services\Cdrom'
RUNKEY='HKCU\Software\Microsoft\Windows\CurrentVersion\Run'
MAKERKEY='HKCU\Software\Velmora_ODD'

# reg.exe's answer to `reg query ARGS...`, in REG_OUT; status 0 when the key (and the
# value) exist, 1 when reg.exe answers that it cannot find them (its status 1, in
# whatever language the prefix speaks). Any other end of reg.exe is the tool failing,
# not an answer, and a plain query would read it as "absent". It is asked again (a
# read changes nothing, and a value really absent stays absent), and after three
# failures the scenario fails with what reg.exe said. Its notes go to standard error,
# since the callers' standard output is the value.
reg_query() {  # ARGS...
  local try status
  for try in 1 2 3; do
    status=0
    REG_OUT=$(WINEDEBUG=fixme-all "$WINE" reg query "$@" 2>&1) || status=$?
    REG_OUT=$(printf '%s\n' "$REG_OUT" | tr -d '\r')
    [ "$status" = 0 ] && return 0
    [ "$status" = 1 ] && return 1
    log "reg query $*: exited with $status (try $try):
$REG_OUT" >&2
  done
  # Often called inside $(...): end the scenario itself, not only that subshell.
  printf 'FAILED: reg query %s: exited with %s three times:\n%s\n' "$*" "$status" "$REG_OUT" >&2
  kill -TERM $$
  exit 1
}

# The data of one registry value as reg.exe prints it, empty when it is absent. (Every
# reader in these scripts reads to the end: under pipefail a reader that stops early
# can fail the writer with SIGPIPE, and with it the scenario, at random.)
reg_value() {
  reg_query "$1" /v "$2" || return 0
  awk -v name="$2" '$1 == name && !found { $1 = ""; $2 = ""; sub(/^ +/, ""); print; found = 1 }' \
    <<<"$REG_OUT"
}
reg_key_exists() { reg_query "$1"; }

expect_value() {  # KEY VALUE EXPECTED
  local got
  got=$(reg_value "$1" "$2")
  [ "$got" = "$3" ] || fail "$1 \"$2\" is \"$got\", expected \"$3\""
  log "$1 \"$2\" = $3"
}
expect_no_key() {
  reg_key_exists "$1" && fail "$1 exists"
  log "$1 absent"
}

# The settings as seeded: what the prefix must hold again after a whole cycle.
expect_original_settings() {
  expect_value "$ATAPI" DriverParameter 'DmaDetectionLevel = 0x1;'
  expect_value "$HDC" MasterDeviceTimingMode 0x2010
  expect_value "$HDC" MasterDeviceTimingModeAllowed 0xffffffff
  expect_value "$HDC" UserSlaveDeviceTimingModeAllowed 0xffffffff
  expect_value "$CDROM" Autorun 0x1
}

# Copies a program into C:\qx (its simulated drives beside it) and starts it, in a
# session of its own unless KEEP_SESSION is set (the held one goes on then).
start_program() {  # EXE [INI-TEXT]
  local exe=$1 name
  name=$(basename "$exe")
  cp "$exe" "$WINEPREFIX/drive_c/qx/$name"
  if [ $# -ge 2 ]; then printf '%s\n' "$2" > "$WINEPREFIX/drive_c/qx/${name%.exe}.ini"; fi
  [ -n "${KEEP_SESSION:-}" ] || end_session
  log "starting $name ($(file -b "$exe" | cut -d, -f1))"
  local wine
  wine=$(qx_wine_for "$exe") || fail "cannot run $name here"
  PROGRAM_LOG=$WORK/$SCENARIO-program-$((++PROGRAM_RUNS)).log
  (cd "$WINEPREFIX/drive_c/qx" && exec "$wine" "C:\\qx\\$name" >"$PROGRAM_LOG" 2>&1) &
  PROGRAM_PID=$!
  PROGRAM_NAME=$name
}
PROGRAM_RUNS=0

# Waits for the program started last; fails with WHAT, its status and its output when
# it did not end with 0.
wait_program() {  # [WHAT]
  local status=0
  wait "$PROGRAM_PID" || status=$?
  [ "$status" = 0 ] || fail "${1:-$PROGRAM_NAME}: exit code $status; its output:
$(cat "$PROGRAM_LOG" 2>/dev/null)"
}

# A session of the prefix (its wine server and the system's processes) ends a few
# seconds after its last process. A program started while one is ending can fail
# (regedit has, at random, under load), and whatever lives only in the server
# (HKEY_DYN_DATA) ends with it. So the steps that prepare a prefix and the checks
# after a program run in one session, held open by a process of the prefix that
# reads a pipe whose writer is a sleep of our own; hold_server returns once that
# process runs, and end_session ends it and waits for the session to be over, so the
# next program starts a new one. (Were this shell the writer, every program started
# meanwhile, the wine server among them, would inherit the pipe and the reader would
# never see its end.)
hold_server() {
  [ -z "${HOLD_PID:-}" ] || return 0
  local pipe=$WORK/hold-$SCENARIO out=$WORK/hold-$SCENARIO.out tenths
  rm -f "$pipe" "$out"
  mkfifo "$pipe"
  WINEDEBUG=fixme-all "$WINE" cmd.exe /c 'echo held& set /p held=' <"$pipe" >"$out" 2>&1 &
  HOLD_PID=$!
  sleep 3600 >"$pipe" &
  HOLD_WRITER=$!
  for ((tenths = 0; ; tenths++)); do
    grep -q '^held' "$out" 2>/dev/null && return 0
    if ! kill -0 "$HOLD_PID" 2>/dev/null || [ "$tenths" -ge 1200 ]; then
      fail "holding the prefix's session: \`$WINE cmd.exe\` did not start:
$(cat "$out")"
    fi
    sleep 0.1
  done
}
# Lets the held session end (a program started meanwhile keeps it going).
release_server() {
  [ -n "${HOLD_PID:-}" ] || return 0
  kill "$HOLD_WRITER" 2>/dev/null || true
  wait "$HOLD_PID" || true
  rm -f "$WORK/hold-$SCENARIO" "$WORK/hold-$SCENARIO.out"
  HOLD_PID=
}
# Ends the held session and waits until every process of the prefix has ended.
end_session() {  # [SECONDS]
  release_server
  timeout "${1:-120}" "$WINESERVER" -w || fail "the prefix's session did not end: \`$WINESERVER -w\` exited with $?"
}

# Plays a robot script given on standard input; fails the scenario when it fails.
robot() {
  local script=$WORK/$SCENARIO-robot-$((++ROBOT_RUNS)).txt
  # Every wait is bounded: a minute, unless the script says otherwise. The bound only
  # ends a hang; a loaded machine can take longer than the robot's own default.
  { echo "timeout 60000"; cat; } > "$script"
  "$(qx_wine_for "$BIN/robot.exe")" "$BIN/robot.exe" -f "Z:$script" | tee "$script.out" || fail "robot script $ROBOT_RUNS"
}
ROBOT_RUNS=0

# Waits for every process of the prefix to end (the program, and whatever Wine's
# restart started again from the Run key).
# The checks that follow run in one held session (see hold_server).
wait_all_ended() {
  release_server
  timeout "${1:-60}" "$WINESERVER" -w || fail "the prefix's programs did not end within ${1:-60} s"
  hold_server
}

# The drive's revision as the simulated program, or the driver, left it in its file.
sim_revision() {
  sed -n 's/^revision = "\{0,1\}\([^"]*\)"\{0,1\}$/\1/p' "$WINEPREFIX/drive_c/qx/$DRIVE_FILE" | sed -n 1p
}
DRIVE_FILE=qxupdate-sim.ini

# The simulated drive behind a kernel driver (tests/driver), for the product itself:
# its state file in C:\qx, the letter made a CD-ROM for Wine's mount manager (which
# answers the drive type), and the driver registered to start with Wine's services
# (Start 2: a demand-start driver would end with the program that started it). The
# driver then takes the letter's link over. TIME-SCALE divides the drive's delays and
# the port's 200 s time-out.
install_driver() {  # STATE-TEXT [TIME-SCALE]
  local letter
  letter=$(printf '%s\n' "$1" | sed -n 's/^\[\([A-Za-z]\)\]$/\1/p' | sed -n 1p | tr 'A-Z' 'a-z')
  [ -n "$letter" ] || fail "install_driver: no drive letter in the state"
  cp "${DRIVER_SYS:-$BIN/qxsimcd.sys}" "$WINEPREFIX/drive_c/qx/qxsimcd.sys"
  printf '%s\n' "$1" > "$WINEPREFIX/drive_c/qx/qxsimcd.ini"
  mkdir -p "$WINEPREFIX/drive_c/qxcd"
  ln -sfn ../drive_c/qxcd "$WINEPREFIX/dosdevices/$letter:"
  cat > "$WORK/driver-$SCENARIO.reg" <<REG
REGEDIT4

[HKEY_LOCAL_MACHINE\Software\Wine\Drives]
"$letter:"="cdrom"

[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services\qxsimcd]
"Type"=dword:00000001
"Start"=dword:00000002
"ErrorControl"=dword:00000001
"ImagePath"="C:\\\\qx\\\\qxsimcd.sys"
"StateFile"="\\\\??\\\\C:\\\\qx\\\\qxsimcd.ini"
"TimeScale"=dword:$(printf '%08x' "${2:-1}")
REG
  step "registering the driver" "$WINE" regedit /S "Z:$WORK/driver-$SCENARIO.reg"
  # Wine's services read their list when they start: the next program must begin a
  # new session, or the driver would not be started.
  end_session
  DRIVE_FILE=qxsimcd.ini
}

# What the driver saw, a line per request ("12 00 00 00 2C 00 len=44 in -> 00 (64-bit caller)").
driver_log() { cat "$WINEPREFIX/drive_c/qx/qxsimcd.ini.log" 2>/dev/null || true; }

# This scenario's own screenshots (those its robot scripts took; scenarios running
# side by side share the folder).
shots_to_png() {
  local bmp
  sed -n 's/^shot Z://p' "$WORK/$SCENARIO"-robot-*.txt 2>/dev/null | while IFS= read -r bmp; do
    [ -e "$bmp" ] || continue
    convert "$bmp" "${bmp%.bmp}.png" && rm -f "$bmp"
  done
}
