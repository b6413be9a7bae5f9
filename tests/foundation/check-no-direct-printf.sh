#!/bin/sh
# Fails when a C/C++ source outside foundation/ calls the wide printf family directly.
# Usage: check-no-direct-printf.sh ROOT | --self-test
pattern='(^|[^A-Za-z0-9_])(swprintf|vswprintf|_snwprintf|_vsnwprintf|snwprintf|vsnwprintf|_swprintf|_vswprintf|wsprintfW?|wvsprintfW?|wprintf|fwprintf|vwprintf|vfwprintf)(_s)?[[:space:]]*\('

scan() {
  root=$1
  found=$(cd "$root" && find . \( -path ./foundation -o -path ./.git -o -path ./.deps -o -name 'build*' \) -prune -o \
      -type f \( -name '*.c' -o -name '*.cc' -o -name '*.cpp' -o -name '*.h' -o -name '*.hpp' \) -print |
    xargs -r grep -nE "$pattern" | grep -vE '^[^:]+:[0-9]+:[[:space:]]*(//|\*|/\*)')
  if [ -n "$found" ]; then
    echo "direct wide printf calls (use FormatToBuffer/FormatAlloc from foundation/StrUtil.h):"
    echo "$found"
    return 1
  fi
  echo "no direct wide printf calls under $root"
  return 0
}

if [ "$1" = "--self-test" ]; then
  tmp=$(mktemp -d) || exit 1
  trap 'rm -rf "$tmp"' EXIT
  mkdir -p "$tmp/ppd" "$tmp/foundation"
  printf 'void f(wchar_t* b) { FormatToBuffer(b, 4, L"%%d", 1); }\n' > "$tmp/ppd/ok.cpp"
  printf 'void g(wchar_t* b) { _snwprintf(b, 4, L"%%d", 1); }\n' > "$tmp/foundation/allowed.cpp"
  scan "$tmp" >/dev/null || { echo "self-test: clean tree reported"; exit 1; }
  printf 'void h(wchar_t* b) { swprintf (b, 4, L"%%s", L"x"); }\n' > "$tmp/ppd/bad.cpp"
  if scan "$tmp" >/dev/null; then echo "self-test: direct call not found"; exit 1; fi
  echo "self-test passed"
  exit 0
fi
[ -d "$1" ] || { echo "usage: $0 ROOT | --self-test"; exit 2; }
scan "$1"
