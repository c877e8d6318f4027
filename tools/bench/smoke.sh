#!/usr/bin/env bash
# Keeps the benchmark programs working; no time is judged here.
#   smoke.sh phases QXPHASES     one update, its phases, and a failed one refused
#   smoke.sh callgrind QXPHASES  the callgrind split adds up (77: no valgrind)
#   smoke.sh split SPLIT_SCRIPT  callgrind-phases.sh over dumps made up here
#   smoke.sh bench QXBENCH       both benchmarks run briefly and the ratio is printed
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
what=$1
program=$2
fail() { echo "FAIL: $*" >&2; exit 1; }

# The figures of one phase line: commands and virtual milliseconds.
phase_line() { awk -v p="$1" '$1 == p { print $2, $3 }' <<<"$2"; }

case "$what" in
  phases)
    out=$("$program") || fail "qxphases failed: $out"
    echo "$out"
    [ "$(phase_line scan "$out")" = "2 0" ] || fail "the scan should ask each CD drive once, on no clock"
    # Nothing reaches the drive before the image has been verified.
    [ "$(phase_line unscramble+verify "$out")" = "0 0" ] || fail "unscramble+verify spoke to the drive or slept"
    read -r commands ms <<<"$(phase_line pages "$out")"
    # Unlock, eject, two opening pages, four data pages, the closing page, and the
    # INQUIRY that confirms the new revision.
    [ "$commands" = 10 ] || fail "pages: $commands commands, not 10"
    [ "$ms" -ge 127500 ] || fail "pages: the fixed waits took $ms ms on the virtual clock, under 127500"
    grep -qx 'drive revision: 1005 -> 1009' <<<"$out" || fail "the drive did not take the image"
    base_ms=$ms
    base_check=$(phase_line check "$out")

    # A data page the drive takes 5 s over: the time lands in the pages phase, on the clock.
    out=$("$program" --fault 'send:page=1:delay=5000') || fail "a slow page failed the run: $out"
    read -r commands ms <<<"$(phase_line pages "$out")"
    [ "$ms" -ge $((base_ms + 5000)) ] || fail "a 5 s page: pages took $ms ms, $base_ms without it"
    [ "$(phase_line check "$out")" = "$base_check" ] || fail "a slow page changed the check phase"

    # A drive that refuses a data page: the run must say so, not print figures as if done.
    out=$("$program" --fault 'send:page=3:status=02:sense=05/26/00' 2>&1)
    rc=$?
    echo "$out"
    [ "$rc" = 1 ] || fail "a refused data page gave exit code $rc"
    grep -q 'did not succeed' <<<"$out" || fail "a refused data page was not reported"
    grep -qx 'drive revision: 1005 -> 1005' <<<"$out" || fail "a refused update changed the revision"

    # A page so slow the monitor gives up: a failure, and the worker still finishes
    # before the machine is taken down.
    out=$("$program" --fault 'send:page=1:delay=200000' 2>&1)
    rc=$?
    [ "$rc" = 1 ] || fail "a timed-out update gave exit code $rc: $out"
    grep -q 'did not succeed' <<<"$out" || fail "a timed-out update was not reported: $out"

    # A drive that never answers the identify page: no update is offered, no worker runs.
    out=$("$program" --fault 'receive:status=02' 2>&1)
    rc=$?
    [ "$rc" = 1 ] || fail "a refused identify gave exit code $rc"
    grep -q 'offered no update' <<<"$out" || fail "a refused identify was not reported: $out"
    [ "$(phase_line pages "$out")" = "0 0" ] || fail "the worker ran without a passed check"
    ;;
  callgrind)
    command -v valgrind >/dev/null || { echo "no valgrind"; exit 77; }
    dir=$(mktemp -d)
    trap 'rm -rf "$dir"' EXIT
    valgrind --tool=callgrind --callgrind-out-file="$dir/cg.out" "$program" \
      >"$dir/stdout" 2>"$dir/stderr" || fail "qxphases under callgrind: $(cat "$dir/stderr")"
    table=$("$here/callgrind-phases.sh" "$dir"/cg.out*) || fail "no split: $table"
    echo "$table"
    refs=$(sed -n 's/.*I *refs: *\([0-9,]*\).*/\1/p' "$dir/stderr" | tr -d ,)
    whole=$(awk '$1 == "whole" { print $3 }' <<<"$table")
    # Every instruction valgrind counted is in exactly one dump.
    [ -n "$refs" ] && [ "$whole" = "$refs" ] || fail "the dumps add up to $whole, valgrind counted $refs"
    read -r verify_program verify_drive <<<"$(awk '$1 == "unscramble+verify" { print $2, $3 }' <<<"$table")"
    [ "$verify_drive" = 0 ] || fail "the drive worked during unscramble+verify"
    # Unscrambling and summing 131072 bytes takes at least one instruction per byte.
    [ "$verify_program" -ge 131072 ] || fail "unscramble+verify counted only $verify_program"
    ;;
  split)
    dir=$(mktemp -d)
    trap 'rm -rf "$dir"' EXIT
    dump() {  # FILE TRIGGER INSTRUCTIONS, in the layout callgrind writes
      printf '# callgrind format\nversion: 1\n\ndesc: Trigger: %s\n\nevents: Ir\nsummary: %s\n\nfn=(1) x\n0 1\n' \
        "$2" "$3" >"$dir/$1"
    }
    dump cg.out.1 'Client Request: program:setup' 1000
    dump cg.out.2 'Client Request: program:scan' 20
    dump cg.out.3 'Client Request: drive:scan' 3
    dump cg.out.4 'Client Request: program:scan' 7
    dump cg.out.5 'Client Request: program:check' 400
    # Past 2^31: counts must not wrap in whichever awk the machine has.
    dump cg.out.6 'Client Request: program:unscramble+verify' 3000000000
    dump cg.out.7 'Client Request: program:pages' 50
    dump cg.out.8 'Client Request: drive:pages' 4000000000
    dump cg.out 'Program termination' 9
    table=$("$program" "$dir"/cg.out*) || fail "the split failed: $table"
    echo "$table"
    row() { awk -v k="$1" '$1 == k { $1 = ""; print substr($0, 2) }' <<<"$table"; }
    [ "$(row scan)" = "27 3" ] || fail "scan: $(row scan), not both scan dumps of each kind"
    [ "$(row check)" = "400 0" ] || fail "check: $(row check)"
    [ "$(row unscramble+verify)" = "3000000000 0" ] || fail "unscramble+verify: $(row unscramble+verify)"
    [ "$(row pages)" = "50 4000000000" ] || fail "pages: $(row pages)"
    [ "$(row four)" = "phases 3000000477 4000000003" ] || fail "four phases: $(row four)"
    [ "$(row whole)" = "process 7000001489" ] || fail "whole process: $(row whole)"

    # A run whose worker never started has no unscramble+verify: no table that hides it.
    rm "$dir/cg.out.6"
    if out=$("$program" "$dir"/cg.out* 2>&1); then fail "a missing phase went unnoticed"; fi
    grep -q 'no dump of unscramble+verify' <<<"$out" || fail "a missing phase: $out"
    ;;
  bench)
    out=$("$program" --benchmark_min_time=0.001) || fail "qxbench failed: $out"
    echo "$out"
    grep -q '^BM_UnscrambleAndVerify' <<<"$out" || fail "no BM_UnscrambleAndVerify line"
    grep -q '^BM_Memcpy' <<<"$out" || fail "no BM_Memcpy line"
    ratio=$(sed -n 's|^ratio BM_UnscrambleAndVerify/BM_Memcpy: \([0-9.]*\) .*|\1|p' <<<"$out")
    [ -n "$ratio" ] || fail "no ratio line"
    awk -v r="$ratio" 'BEGIN { exit !(r > 0) }' || fail "ratio $ratio"
    ;;
  *)
    fail "unknown check $what"
    ;;
esac
echo "ok"
