#!/usr/bin/env bash
# Compiles every Windows-only source that needs no Qt with the MinGW-w64 cross compiler, so that the Windows
# platform code keeps compiling on a Linux machine. Sources that include Qt are left to the Windows build.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
compiler="${MINGW_CXX:-x86_64-w64-mingw32-g++}"

if ! command -v "$compiler" >/dev/null 2>&1; then
    echo "check-windows: $compiler not found (install g++-mingw-w64-x86-64)" >&2
    exit 1
fi

out="$(mktemp -d)"
trap 'rm -rf "$out"' EXIT

checked=0
skipped=0
failed=0
while IFS= read -r -d '' source; do
    relative="${source#"$root"/}"
    # Header dependencies, with headers the cross compiler cannot find listed as they are named: a Qt header
    # anywhere (directly or through a project header) means the file needs Qt.
    deps="$("$compiler" -std=c++17 -I"$root/src" -M -MG "$source" | tr ' \\' '\n\n')"
    if grep -Eq '(^|/)Qt[A-Za-z]*/|(^|/)Q[A-Z][A-Za-z]*(\.h)?$' <<<"$deps"; then
        echo "skip  $relative (needs Qt)"
        skipped=$((skipped + 1))
        continue
    fi
    object="$out/$(echo "$relative" | tr '/' '_').o"
    if "$compiler" -std=c++17 -Wall -Wextra -Werror -DUNICODE -D_UNICODE -DNOMINMAX -DWIN32_LEAN_AND_MEAN \
        -I"$root/src" -c "$source" -o "$object"; then
        echo "ok    $relative"
        checked=$((checked + 1))
    else
        echo "FAIL  $relative" >&2
        failed=$((failed + 1))
    fi
done < <(find "$root/src" -name '*_win.cpp' -print0 | sort -z)

echo "check-windows: $checked compiled, $skipped skipped, $failed failed"
[[ $failed -eq 0 ]]
