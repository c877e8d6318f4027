#!/usr/bin/env bash
# Sums the dumps of one callgrind run of qxphases by phase and prints, for each
# phase, the instructions of the program and those of the simulated drive, then the
# four phases together and the whole process (loading, set-up and exit included).
#   callgrind-phases.sh CALLGRIND_OUT_FILE...
set -euo pipefail
if [ "$#" -eq 0 ]; then
  echo "usage: callgrind-phases.sh CALLGRIND_OUT_FILE..." >&2
  exit 2
fi

# Each dump names its trigger ("Client Request: program:scan", or the program's
# end) and the instructions counted since the dump before it.
for file in "$@"; do
  trigger=$(sed -n 's/^desc: Trigger: //p' "$file" | head -1)
  summary=$(sed -n 's/^summary: //p' "$file" | head -1)
  if [ -z "$summary" ]; then
    echo "callgrind-phases: no summary in $file" >&2
    exit 1
  fi
  printf '%s|%s\n' "${trigger#Client Request: }" "$summary"
done | awk -F'|' '
  { count[$1] += $2; whole += $2 }
  END {
    n = split("scan check unscramble+verify pages", phases, " ")
    printf "%-18s %14s %14s\n", "phase", "program Ir", "drive Ir"
    for (i = 1; i <= n; ++i) {
      p = count["program:" phases[i]] + 0; d = count["drive:" phases[i]] + 0
      if (p == 0) { missing = missing " " phases[i] }
      printf "%-18s %14.0f %14.0f\n", phases[i], p, d
      programs += p; drives += d
    }
    printf "%-18s %14.0f %14.0f\n", "four phases", programs, drives
    printf "%-18s %14.0f\n", "whole process", whole
    if (missing != "") { print "callgrind-phases: no dump of" missing > "/dev/stderr"; exit 1 }
  }'
