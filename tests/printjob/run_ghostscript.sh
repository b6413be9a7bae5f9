#!/bin/sh
# Runs Ghostscript over every job file the print-job tests wrote, one process per file and
# several at a time, each after the controller prolog: every job must end without an error.
# Prints the count of jobs and bytes; fails on any failed job or fewer jobs than expected.
#   run_ghostscript.sh PROLOG DIR MIN-JOBS
prolog="$1"; dir="$2"; min="${3:-1}"
[ -f "$prolog" ] || { echo "no prolog $prolog"; exit 1; }
[ -d "$dir" ] || { echo "no job files in $dir"; exit 1; }
jobs=$(find "$dir" -maxdepth 1 -name '*.ps' | wc -l)
bytes=$(find "$dir" -maxdepth 1 -name '*.ps' -printf '%s\n' | awk '{ s += $1 } END { print s + 0 }')
report=$(find "$dir" -maxdepth 1 -name '*.ps' -print0 | sort -z | xargs -0 -r -n 1 -P "$(nproc)" sh -c '
  out=$(gs -q -dSAFER -dNOPAUSE -dBATCH -sDEVICE=nullpage "$0" "$1" 2>&1 < /dev/null); rc=$?
  if [ $rc -ne 0 ] || printf "%s" "$out" | grep -q "Error:"; then
    printf "FAILED (%s): %s\n%s\n" "$rc" "$1" "$(printf "%s\n" "$out" | head -20)"
  fi' "$prolog")
failed=$(printf '%s\n' "$report" | grep -c '^FAILED')
[ -n "$report" ] && printf '%s\n' "$report"
echo "$jobs job files, $bytes bytes, $failed failed"
[ "$jobs" -ge "$min" ] && [ "$failed" -eq 0 ]
