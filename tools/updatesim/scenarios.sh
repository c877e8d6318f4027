#!/bin/sh
# Whole runs of updatesim, each checked on the transcript lines that matter.
# usage: scenarios.sh path/to/updatesim
set -u
SIM=${1:?usage: scenarios.sh path/to/updatesim}
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
FAILS=0
NAME=""

fail() { echo "FAIL [$NAME] $*"; FAILS=$((FAILS + 1)); }
run() { NAME=$1; shift; "$SIM" "$@" > "$WORK/out" 2> "$WORK/err" || fail "exit status $?: $(cat "$WORK/err")"; }
has() { grep -qxF -- "$1" "$WORK/out" || fail "missing line: $1"; }
lacks() { ! grep -q -- "$1" "$WORK/out" || fail "unexpected line: $(grep -m1 -- "$1" "$WORK/out")"; }
count() { n=$(grep -c -- "$2" "$WORK/out"); [ "$n" -eq "$1" ] || fail "$n lines of '$2', expected $1"; }
# Line number of the first line containing $1 (0 when none).
at() { grep -n -m1 -F -- "$1" "$WORK/out" | cut -d: -f1 | grep . || echo 0; }
before() { a=$(at "$1"); b=$(at "$2"); [ "$a" -gt 0 ] && [ "$b" -gt 0 ] && [ "$a" -lt "$b" ] || fail "'$1' ($a) not before '$2' ($b)"; }
# The line right after the first line that is $1 is $2.
next_is() { n=$(grep -m1 -A1 -xF -- "$1" "$WORK/out" | sed -n 2p); [ "$n" = "$2" ] || fail "'$1' followed by '$n', not '$2'"; }
# The registry part of a machine file, with each text value cut at its first zero
# (the utility writes texts with filler up to 128 bytes; the filler means nothing).
registry_of() {
  sed -n '/^%% registry$/,$p' "$1" | awk '
    /^"[^"]*"=1:/ {
      i = index($0, "=1:"); head = substr($0, 1, i + 2); hex = substr($0, i + 3); out = "";
      for (k = 1; k <= length(hex); k += 2) { b = substr(hex, k, 2); out = out b; if (b == "00") break }
      print head out; next }
    { print }'
}

PAGES='param=88 00 80 04 00 C0 0'

# --- The restart cycle, in each language ------------------------------------
for LANG_ in en ja; do
  STATE="$WORK/machine-$LANG_"
  # A run that changes nothing saves the machine as it was before the utility.
  run "untouched $LANG_" --lang $LANG_ --state "$STATE" --answer terms=decline
  registry_of "$STATE" > "$WORK/before-$LANG_"

  run "first start $LANG_" --lang $LANG_ --state "$STATE"
  has "TERMS $LANG_ -> 1"
  has "DIALOG Reboot $LANG_ -> 1"
  has 'REG SET HKCU\Software\Velmora_ODD\qxupdate "Changed" 4 2'
  has 'REG SET HKLM\SYSTEM\CurrentControlSet\Services\Cdrom "Autorun" 4 0'
  has 'REG SET HKCU\Software\Microsoft\Windows\CurrentVersion\run "qxupdate" 1 ""C:\Program Files\Velmora\qxupdate.exe""'
  has 'REG SET HKCU\Software\Velmora_ODD\qxupdate "Velmora_ODD_Add" 4 0'
  has "RESTART"
  lacks "DIALOG Warning"
  lacks "$PAGES"
  before "SCREENSAVER 1" "RESTART"

  run "resumed $LANG_" --lang $LANG_ --state "$STATE"
  lacks "TERMS"
  has 'REG DELVALUE HKCU\Software\Microsoft\Windows\CurrentVersion\run "qxupdate"'
  has "DIALOG Warning $LANG_ -> 1"
  has "DIALOG Start $LANG_ -> 1"
  for p in 'F0 00 00' 'F0 FF 00' 'C0 01 00' 'C0 02 00' 'C0 03 00' 'C0 04 00' 'C0 00 00'; do
    count 1 "param=88 00 .. 04 00 $p"
  done
  before "F0 FF 00" "C0 01 00"
  before "C0 04 00" "param=88 00 00 04 00 C0 00 00"
  count 2 "^SLEEP 60000$"
  has "PROGRESS 100"
  has "DIALOG End $LANG_ -> 1"
  has "ENDCODE 1"
  has 'REG SET HKLM\SYSTEM\CurrentControlSet\Services\Cdrom "Autorun" 4 1'
  has 'REG DELKEY HKCU\Software\Velmora_ODD'
  has "RESTART"
  before "ENDCODE 1" "RESTART"
  registry_of "$STATE" > "$WORK/after-$LANG_"
  NAME="registry restored $LANG_"
  cmp -s "$WORK/before-$LANG_" "$WORK/after-$LANG_" || fail "$(diff "$WORK/before-$LANG_" "$WORK/after-$LANG_" | head -5)"
  grep -q '^revision = "1009"$' "$STATE" || fail "drive did not take 1009"
  # One log beside the machine tells both starts, the restart between them included.
  NAME="log of the cycle $LANG_"
  [ "$(grep -c ' ==== qxupdate ' "$STATE.log")" -eq 3 ] || fail "$(grep -c ' ==== ' "$STATE.log") runs logged, expected 3"
  for line in 'restart requested: the changed settings take effect' 'started again after the restart' \
      'command 1D SEND DIAGNOSTIC page C0 04 -> 01' 'update complete: the drive reports revision 1009' \
      'registry set HKLM\SYSTEM\CurrentControlSet\Services\Cdrom "Autorun": 0x0 -> 0x1' \
      'end: RestoredRestart, main dialog end code 1'; do
    grep -qF -- "$line" "$STATE.log" || fail "log lacks: $line"
  done

  run "after the update $LANG_" --lang $LANG_ --state "$STATE"
  lacks "TERMS"
  count 1 "^MESSAGE "
  lacks "RESTART"
done

run "status words en" --settings ready --answer main=update
# The selection check shows "Not Support." while it identifies the drive.
next_is 'STATUS "Not Support."' 'SCSI E: 1D 00 00 00 08 00 len=8 -> 01 param=88 00 00 04 00 40 00 00'
has 'STATUS "Now Updating..."'
has 'STATUS "Update Complete."'
run "status words ja" --lang ja --settings ready --answer main=update
has 'STATUS "アップデート中…"'
has 'STATUS "アップデート終了。"'
has "ENDCODE 2"
lacks "RESTART"

# --- Runs that end early -------------------------------------------------------
run "firmware current" --drive E=1009
has 'MESSAGE "The firmware is current. The Update is not needed."'
lacks "TERMS"
run "firmware current ja" --lang ja --drive E=1010
has 'MESSAGE "CD ドライブのファームウェアは書き換え不要です。"'

run "no drive" --drive E=1005,vendor=OTHERCO
has 'MESSAGE "Target CD-Drive not found, The Update applies to VELMORA DVD-ROM QX-M4471 CD-Drives Only.\r\nIf you insert a drive, please restart the computer and retry the update operation."'
has "SCREENSAVER 1"
run "no drive ja" --lang ja --drive E=2009
has 'MESSAGE "対象のCD ドライブが見つかりません。本プログラムはVELMORA DVD-ROM QX-M4471 専用です。\r\nドライブが接続されている場合は、システムを再起動し、もう一度本プログラムを実行してください。"'

run "battery" --power battery
has 'MESSAGE "Try again after AC adapter connect the system."'
count 1 "."
run "battery ja" --lang ja --power battery
has 'MESSAGE "システムにAC 電源を接続して再度実行してください。"'
count 1 "."
run "unknown line status is mains" --power unknown
has 'MUTEX "Global\MERIDO"'
has "TERMS en -> 1"
run "power query fails" --power fail
count 0 "."
run "nt4" --major 4 --power battery --answer terms=decline
has 'MUTEX "MERIDO"'

run "terms declined" --answer terms=decline
has "TERMS en -> 2"
lacks "^REG "
lacks "RESTART"
before "TERMS en -> 2" "SCREENSAVER 1"
run "terms declined ja" --lang ja --answer terms=decline
has "TERMS ja -> 2"
lacks "^REG "

run "reboot cancelled" --answer reboot=cancel
has "DIALOG Reboot en -> 2"
lacks "^REG SET"
lacks "RESTART"
run "reboot cancelled ja" --lang ja --answer reboot=cancel
has "DIALOG Reboot ja -> 2"
lacks "RESTART"

# --- Failures in the main dialog -------------------------------------------------
for LANG_ in en ja; do
  run "failed update $LANG_" --lang $LANG_ --settings ready --fault send:page=3:status=02:sense=05/26/00
  has 'SCSI E: 1D 00 00 80 08 00 len=32776 -> 04 param=88 00 80 04 00 C0 03 00 sense=05/26/00'
  lacks "C0 04 00"
  has "PROGRESS 0"
  has "ENDCODE 2"
  lacks "RESTART"
  lacks "DIALOG End"
done
has 'STATUS "アップデート失敗。"'
has 'MESSAGE "アップデートに失敗しました。\r\nアップデートログ: C:\WINDOWS\TEMP\qxupdate.log"'
run "failed update en" --settings ready --fault send:page=3:status=02:sense=05/26/00
has 'STATUS "Update Failed."'
has 'MESSAGE "Update Failed.\r\nUpdate log: C:\WINDOWS\TEMP\qxupdate.log"'

# --- After the update the drive is asked for its revision ------------------------
# A drive that accepted every page but kept its firmware: a failed update, told in
# the user's language, the image never sent again, the settings restored.
for LANG_ in en ja; do
  STATE="$WORK/machine-kept-$LANG_"
  run "kept revision first start $LANG_" --lang $LANG_ --state "$STATE"
  run "kept revision $LANG_" --lang $LANG_ --state "$STATE" --fault send:page=close:keeprev
  count 1 "param=88 00 00 04 00 C0 00 00"
  count 1 "param=88 00 80 04 00 C0 01 00"
  lacks "DIALOG End"
  has "PROGRESS 0"
  has "DIALOG Cancel $LANG_ -> 1"
  has "ENDCODE 1"
  before "ENDCODE 1" "RESTART"
  grep -q '^revision = "1005"$' "$STATE" || fail "the drive should still run 1005"
  grep -qF 'update failed: the drive reports revision 1005, 1009 was expected' "$STATE.log" || fail "log lacks the failure"
done
has 'MESSAGE "アップデート後、ドライブはリビジョン 1005 を報告しています。予定のリビジョンは 1009 です。\r\nドライブは古いファームウェアのまま動作しています。\r\nOK、続いて中止をクリックし、コンピュータを再起動させてください (再起動しない場合は手動で再起動してください)。その後、もう一度実行してください。\r\nアップデートログ: C:\WINDOWS\TEMP\qxupdate.log"'
has 'MESSAGE "アップデートに失敗しました。"'
run "kept revision en again" --settings ready --fault send:page=close:keeprev
has 'MESSAGE "After the update the drive reports firmware revision 1005, but 1009 was expected.\r\nThe drive is still running its old firmware.\r\nClick OK, then CANCEL, and let the computer restart (restart it yourself if it does not); then run the utility again.\r\nUpdate log: C:\WINDOWS\TEMP\qxupdate.log"'
has 'STATUS "Update Failed."'
has "ENDCODE 2"

# A drive still restarting on its new firmware: more unit attentions than the device
# repeats one INQUIRY for, then the new revision.
run "settling drive" --settings ready --fault send:page=close:settle=9
count 9 "^SCSI E: 12 .* -> 04 sense=06/29/00$"
has 'STATUS "Update Complete."'
has "DIALOG End en -> 1"
# One that never answers again: asked a bounded number of times, then a failure.
run "silent drive" --settings ready --fault send:page=close:settle=forever --log "$WORK/silent.log"
count 35 "^SCSI E: 12 .* -> 04 sense=06/29/00$"
has 'MESSAGE "After the update the drive did not answer; firmware revision 1009 was expected.\r\nThe firmware may not have been updated. Do not switch off the computer.\r\nClick OK, then CANCEL, and let the computer restart (restart it yourself if it does not); then run the utility again: it tells you whether the drive runs the new firmware.\r\nUpdate log: C:\WINDOWS\TEMP\qxupdate.log"'
has 'STATUS "Update Failed."'
lacks "DIALOG End"
[ "$(grep -c 'INQUIRY (after the update) -> 04 sense 06/29/00' "$WORK/silent.log")" -eq 5 ] || fail "the log should show 5 unanswered tries"

run "main cancel" --settings ready --answer main=cancel
lacks "DIALOG Start"
has "ENDCODE 2"
run "main close" --settings ready --answer main=close
has "ENDCODE 2"
lacks "RESTART"

# A drive that never stops reporting a unit attention gets 20 READs, then is left out;
# the device layer itself tries each command up to 7 times on a unit attention.
run "endless unit attention" --fault read10:ua=forever
count 140 "^SCSI E: 28 "
has 'MESSAGE "Target CD-Drive not found, The Update applies to VELMORA DVD-ROM QX-M4471 CD-Drives Only.\r\nIf you insert a drive, please restart the computer and retry the update operation."'

# After the time-out the worker still writes: CANCEL must wait for it before the
# settings are restored and the machine restarts.
STATE="$WORK/machine-timeout"
run "timeout first start" --state "$STATE"
run "timeout resumed" --state "$STATE" --fault send:page=1:delay=200000
has 'STATUS "Update Failed."'
has 'STATUS "Waiting for the update to end..."'
has "DIALOG Cancel en -> 1"
before 'STATUS "Waiting for the update to end..."' "param=88 00 00 04 00 C0 00 00"
before "param=88 00 00 04 00 C0 00 00" "ENDCODE 1"
before "ENDCODE 1" "RESTART"
# What the worker did after the time-out reaches the log once it has ended.
grep -A9 'the worker that outlived its time-out has ended' "$STATE.log" | grep -qF 'command 1D SEND DIAGNOSTIC page C0 00 -> 01' ||
  fail "the log lacks what the worker did after the time-out"

# Windows 98: the ASPI side and the 9x registry.
STATE="$WORK/machine-9x"
run "9x untouched" --platform 9x --state "$STATE" --answer terms=decline
registry_of "$STATE" > "$WORK/before-9x"
run "9x first start" --platform 9x --state "$STATE"
has 'MUTEX "MERIDO"'
has "RESTART"
run "9x resumed" --platform 9x --state "$STATE"
has "SCSI 1:0 1D 00 00 80 08 00 len=32776 -> 01 param=88 00 80 04 00 C0 04 00"
has "ENDCODE 1"
registry_of "$STATE" > "$WORK/after-9x"
NAME="9x registry restored"
cmp -s "$WORK/before-9x" "$WORK/after-9x" || fail "$(diff "$WORK/before-9x" "$WORK/after-9x" | head -5)"

if [ "$FAILS" -ne 0 ]; then
  echo "$FAILS check(s) failed"
  exit 1
fi
echo "all updatesim scenarios passed"
