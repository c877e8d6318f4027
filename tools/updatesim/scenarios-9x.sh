#!/bin/sh
# updatesim on a simulated Windows 98 machine: the drive behind the ASPI manager,
# the 95/98/ME journal, the restart, the update through ASPI, the restore and the
# removal of the utility's keys with the 95/98/ME registry's DeleteSubKey.
# usage: scenarios-9x.sh path/to/updatesim
set -u
SIM=${1:?usage: scenarios-9x.sh path/to/updatesim}
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
FAILS=0
NAME=""

fail() { echo "FAIL [$NAME] $*"; FAILS=$((FAILS + 1)); }
run() { NAME=$1; shift; "$SIM" --platform 9x "$@" > "$WORK/out" 2> "$WORK/err" || fail "exit status $?: $(cat "$WORK/err")"; }
has() { grep -qxF -- "$1" "$WORK/out" || fail "missing line: $1"; }
lacks() { ! grep -q -- "$1" "$WORK/out" || fail "unexpected line: $(grep -m1 -- "$1" "$WORK/out")"; }
at() { grep -n -m1 -F -- "$1" "$WORK/out" | cut -d: -f1 | grep . || echo 0; }
before() { a=$(at "$1"); b=$(at "$2"); [ "$a" -gt 0 ] && [ "$b" -gt 0 ] && [ "$a" -lt "$b" ] || fail "'$1' ($a) not before '$2' ($b)"; }

ENUM='Enum\SCSI\VELMORA_DVD-ROM_QX-M4471\MF&CHILD0000&PCI&VEN_8086'
JOURNAL='HKCU\Software\Velmora_ODD\qxupdate\Change'

for LANG_ in en ja; do
  STATE="$WORK/machine-$LANG_"
  run "first start $LANG_" --lang $LANG_ --state "$STATE"
  # Only the ASPI side is asked, and it finds the drive behind adapter 1, target 0.
  has "SCSI 1:0 12 00 00 00 2C 00 len=44 -> 01"
  lacks "^SCSI [A-Z]:"
  has "TERMS $LANG_ -> 1"
  has "DIALOG Reboot $LANG_ -> 1"
  # The device list's SCSI entry first, then the IDE controller's flag.
  has "REG SET $JOURNAL\\  1 \"SubKey_Name\" 1 \"$ENUM\""
  has "REG SET $JOURNAL\\  1 \"Value_Type\" 4 3"
  has "REG SET HKLM\\$ENUM \"AutoInsertNotification\" 3 00"
  has "REG SET $JOURNAL\\  3 \"SubKey_Name\" 1 \"System\\CurrentControlSet\\Services\\Class\\hdc\\0000\""
  has 'REG SET HKCU\Software\Velmora_ODD\qxupdate "Changed" 4 3'
  before "REG SET HKLM\\$ENUM \"DMACurrentlyUsed\" 3 00" 'IDEDMADRIVE0" 3 00'
  has "RESTART"
  lacks "param=88 00 80 04 00 C0"

  run "resumed $LANG_" --lang $LANG_ --state "$STATE"
  lacks "TERMS"
  has "DIALOG Warning $LANG_ -> 1"
  has "DIALOG Start $LANG_ -> 1"
  for page in 1 2 3 4; do
    has "SCSI 1:0 1D 00 00 80 08 00 len=32776 -> 01 param=88 00 80 04 00 C0 0$page 00"
  done
  has "DIALOG End $LANG_ -> 1"
  has "ENDCODE 1"
  has "REG SET HKLM\\$ENUM \"AutoInsertNotification\" 3 01"
  has 'REG SET HKLM\System\CurrentControlSet\Services\Class\hdc\0000 "IDEDMADRIVE0" 3 01'
  # One DeleteSubKey takes the maker key with everything under it.
  has 'REG DELKEY HKCU\Software\Velmora_ODD'
  before 'REG DELKEY HKCU\Software\Velmora_ODD' "RESTART"
  NAME="machine after $LANG_"
  grep -q '^\[HKCU\\Software\\Velmora_ODD' "$STATE" && fail "the utility's keys are left: $(grep -m1 Velmora_ODD "$STATE")"
  grep -q '"qxupdate"=' "$STATE" && fail "the Run value is left"
  grep -qx 'revision = "1009"' "$STATE" || fail "the drive behind 1:0 was not updated: $(grep revision "$STATE")"
done

# The scan walks every adapter the manager reports and passes over the adapter's own id.
run "drive on adapter 2" --drive 2:3=1005 --answer terms=decline
has "SCSI 2:3 12 00 00 00 2C 00 len=44 -> 01"
run "drive at the adapter's own id" --drive 1:7=1005 --answer terms=decline
lacks "^SCSI 1:7"
has 'MESSAGE "Target CD-Drive not found, The Update applies to VELMORA DVD-ROM QX-M4471 CD-Drives Only.\r\nIf you insert a drive, please restart the computer and retry the update operation."'

# A machine file that lists a drive letter before the ASPI drive: the letter is of no
# use to the ASPI side, but each drive keeps its own address, in the transcript and
# in the file the run leaves.
STATE="$WORK/machine-mixed"
run "mixed machine, made" --drive 1:0=1005 --answer terms=decline --state "$STATE"
{ printf '[D]\nrevision = 2001\n\n'; cat "$STATE"; } > "$STATE.new" && mv "$STATE.new" "$STATE"
run "mixed machine, run" --answer terms=decline --state "$STATE"
has "SCSI 1:0 12 00 00 00 2C 00 len=44 -> 01"
lacks "^SCSI D"
NAME="mixed machine, left"
grep -qx '\[D\]' "$STATE" || fail "the letter's drive is gone from the file"
grep -qx '\[1:0\]' "$STATE" || fail "the ASPI drive is gone from the file"
grep -qx 'revision = "2001"' "$STATE" || fail "the letter's drive lost its revision: $(grep revision "$STATE")"

if [ "$FAILS" -ne 0 ]; then
  echo "$FAILS check(s) failed"
  exit 1
fi
echo "all updatesim 9x scenarios passed"
