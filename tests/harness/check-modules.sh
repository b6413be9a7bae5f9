#!/usr/bin/env bash
# Usage: check-modules.sh OBJDUMP BUILD_TREE WIDTH
# Every module the tree built must be a PE image of the tree's width that imports nothing from the
# MinGW runtime, so a driver package needs no toolchain DLLs beside it, and whose delivered
# plug-ins give back the TLS index they take. Reads the images only, so it
# also checks a width this machine cannot execute.
set -u
objdump=$1; tree=$2; width=$3
case "$width" in x64) format=pei-x86-64 ;; x86) format=pei-i386 ;; *) echo "bad width $width"; exit 2 ;; esac
bad=0; count=0; delivered=0
while IFS= read -r -d '' module; do
  count=$((count + 1))
  info=$("$objdump" -p "$module" 2>&1)
  grep -q "file format $format" <<<"$info" || { echo "FAIL $module: not $format"; bad=1; }
  if imports=$(grep -iE 'DLL Name: *(libstdc\+\+|libgcc|libwinpthread|libz|libpng)' <<<"$info"); then
    echo "FAIL $module imports: $imports"; bad=1
  fi
  # The delivered plug-ins are loaded and freed many times in one process: a module that takes
  # a TLS index must be able to give it back (the runtime's own thread records take one per load
  # that nothing frees, and they are not linked).
  case "${module##*/}" in
    Quenta.dll|Rindle.dll|Tesmor.dll)
      if grep -qE '^\s+[0-9a-f]+\s+[0-9]+\s+TlsAlloc$' <<<"$info" && ! grep -qE '^\s+[0-9a-f]+\s+[0-9]+\s+TlsFree$' <<<"$info"; then
        echo "FAIL $module imports TlsAlloc without TlsFree"; bad=1
      fi
      # Its once and its thread-local storage are the module's own (foundation/ModuleRuntime.c):
      # winpthreads' once, which the i686 unwinder runs at every load, makes a thread record.
      if [ -f "$module.debug" ] && ! "${objdump%objdump}nm" "$module.debug" 2>/dev/null | grep -qE ' T _{0,3}wrap_pthread_once$'; then
        echo "FAIL $module does not route pthread_once to its own"; bad=1
      fi
      delivered=$((delivered + 1)) ;;
  esac
done < <(find "$tree" \( -path "$tree/_deps" -o -path "$tree/CMakeFiles" \) -prune -o \( -name '*.exe' -o -name '*.dll' -o -name '*.LAN' -o -name '*.OEM' -o -name '*.UAT' \) -type f -print0)
echo "$count modules checked ($delivered delivered plug-ins)"
[ "$count" -gt 0 ] || { echo "FAIL no modules found"; bad=1; }
[ "$delivered" -ge 3 ] || { echo "FAIL expected Quenta.dll, Rindle.dll and Tesmor.dll"; bad=1; }
exit $bad
