#!/usr/bin/env bash
# Checks tools/deb-src-sources against a machine's apt configuration laid out in machine/
# (one-line list, deb822 parts, a disabled entry, entries that already have sources, the file
# the set-up writes), and that a machine without binary entries is refused.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
script="$here/../deb-src-sources"
scratch=$(mktemp -d); trap 'rm -rf "$scratch"' EXIT
failed=0

printf 'Dir::Etc::sourcelist "%s";\nDir::Etc::sourceparts "%s";\n' \
  "$here/machine/sources.list" "$here/machine/sources.list.d" >"$scratch/apt.conf"
if APT_CONFIG="$scratch/apt.conf" "$script" --skip "$here/machine/sources.list.d/written.sources" >"$scratch/out"; then
  if diff -u "$here/expected.sources" "$scratch/out"; then echo "derived entries: as expected"
  else echo "FAILED: derived entries differ (above)"; failed=1; fi
else
  echo "FAILED: deb-src-sources exit code $?"; failed=1
fi

mkdir "$scratch/empty"
printf 'Dir::Etc::sourcelist "%s";\nDir::Etc::sourceparts "%s";\n' "$scratch/none" "$scratch/empty" >"$scratch/empty.conf"
if APT_CONFIG="$scratch/empty.conf" "$script" >"$scratch/out" 2>"$scratch/err"; then
  echo "FAILED: a machine without sources gave entries"; failed=1
elif [ -s "$scratch/out" ]; then
  echo "FAILED: output without sources"; failed=1
else
  echo "no sources: refused ($(cat "$scratch/err"))"
fi
exit $failed
