#!/bin/sh
# Compiles every core source (cli/ com/ gateway/ smtp/ identity/) against the
# Windows headers of mingw-w64, syntax only, so that a POSIX header or call
# slipping into the core shows up before anyone builds for Windows. Files in a
# module's posix/ folder are the POSIX side of that module and are skipped.
#   tools/check-windows-headers.sh [COMPILER]
# Exit status: 0 every file compiles, 1 some do not (each is listed with its
# errors), 2 the compiler is missing.
set -u
cd "$(dirname "$0")/.." || exit 2
cxx=${1:-x86_64-w64-mingw32-g++-posix}
if ! command -v "$cxx" >/dev/null 2>&1; then
  echo "check-windows-headers: $cxx not found; install mingw-w64 (g++-mingw-w64-x86-64-posix)" >&2
  exit 2
fi
# The automation server's interface header is generated from its definition,
# as the build does.
generated=$(mktemp -d)
trap 'rm -rf "$generated"' EXIT
mkdir -p "$generated/com"
if ! x86_64-w64-mingw32-widl -h -I /usr/include/wine/wine/windows -o "$generated/com/ZentrovaCOM_i.h" \
    com/ZentrovaCOM.idl; then
  echo "check-windows-headers: widl could not make com/ZentrovaCOM_i.h (mingw-w64-tools, libwine-dev)" >&2
  exit 2
fi
failed=0
checked=0
for file in $(find cli com gateway smtp identity -name '*.cpp' -not -path '*/posix/*' | sort); do
  checked=$((checked + 1))
  if ! out=$("$cxx" -std=c++20 -fsyntax-only -DNOMINMAX -I. -I"$generated" "$file" 2>&1); then
    failed=$((failed + 1))
    echo "== $file"
    printf '%s\n' "$out" | grep -E 'error' | head -n 20
  fi
done
echo "check-windows-headers: $failed of $checked core sources fail with $cxx"
[ "$failed" -eq 0 ]
