#!/usr/bin/env bash
# The Windows code that needs no Qt, built with the MinGW-w64 cross compiler and run under Wine:
#  1. every source under src/ that needs no Qt (the *_win.cpp platform files and the portable logic they serve) is
#     compiled for Windows; sources that include Qt are left to the Windows build;
#  2. every tests/**/*_win.cpp is linked with those objects into a Windows program and run under Wine; each prints
#     "N passed, N failed". Only where Wine cannot start are the runs skipped, with a line that says so.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
compiler="${MINGW_CXX:-x86_64-w64-mingw32-g++}"
archiver="${MINGW_AR:-x86_64-w64-mingw32-ar}"
flags=(-std=c++17 -Wall -Wextra -Werror -DUNICODE -D_UNICODE -DNOMINMAX -DWIN32_LEAN_AND_MEAN -I"$root/src")

if ! command -v "$compiler" >/dev/null 2>&1; then
    echo "check-windows: $compiler not found (install g++-mingw-w64-x86-64)" >&2
    exit 1
fi

out="$(mktemp -d)"
trap 'rm -rf "$out"' EXIT

# Header dependencies, with headers the cross compiler cannot find listed as they are named: a Qt header anywhere
# (directly or through a project header) means the file needs Qt.
needs_qt() {
    local deps
    deps="$("$compiler" -std=c++17 -I"$root/src" -I"$(dirname "$1")" -M -MG "$1" | tr ' \\' '\n\n')"
    grep -Eq '(^|/)Qt[A-Za-z]*/|(^|/)Q[A-Z][A-Za-z]*(\.h)?$' <<<"$deps"
}

checked=0
skipped=0
failed=0
objects=()
while IFS= read -r -d '' source; do
    relative="${source#"$root"/}"
    if needs_qt "$source"; then
        [[ $source == *_win.cpp ]] && echo "skip  $relative (needs Qt)"
        skipped=$((skipped + 1))
        continue
    fi
    object="$out/$(echo "$relative" | tr '/' '_').o"
    if "$compiler" "${flags[@]}" -c "$source" -o "$object"; then
        echo "ok    $relative"
        checked=$((checked + 1))
        objects+=("$object")
    else
        echo "FAIL  $relative" >&2
        failed=$((failed + 1))
    fi
done < <(find "$root/src" -name '*.cpp' ! -name '*_linux.cpp' -print0 | sort -z)
echo "check-windows: $checked compiled, $skipped skipped (need Qt), $failed failed"

# The Windows test programs, linked statically so that Wine needs no MinGW run-time libraries.
archive="$out/libambrel_win.a"
"$archiver" rcs "$archive" "${objects[@]}"
programs=()
while IFS= read -r -d '' source; do
    relative="${source#"$root"/}"
    program="$out/$(basename "$source" .cpp).exe"
    if "$compiler" "${flags[@]}" -I"$(dirname "$source")" -static "$source" "$archive" -o "$program" \
        -luserenv -ladvapi32 -lshell32 -luser32; then
        echo "ok    $relative (linked)"
        programs+=("$program")
    else
        echo "FAIL  $relative (does not build)" >&2
        failed=$((failed + 1))
    fi
done < <(find "$root/tests" -name '*_win.cpp' -print0 | sort -z)

wine="${WINE:-$(command -v wine64 || command -v wine || true)}"
[[ -z $wine && -x /usr/lib/wine/wine64 ]] && wine=/usr/lib/wine/wine64
# A prefix of this checkout's own, made on first use (that takes a few seconds) and kept for the next runs.
export WINEPREFIX="${WINEPREFIX:-$root/build/wine-prefix}"
export WINEDEBUG="${WINEDEBUG:--all}"
# No Mono or Gecko installer prompts while the prefix is made.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"

run_failed=0
if [[ ${#programs[@]} -gt 0 ]]; then
    if [[ -z $wine ]]; then
        echo "check-windows: SKIPPED the Windows test programs: Wine is not installed (Debian package wine64)"
    elif ! probe="$(mkdir -p "$WINEPREFIX" && timeout 300 "$wine" cmd /c echo wine-ready 2>&1)" ||
        [[ $probe != *wine-ready* ]]; then
        echo "check-windows: SKIPPED the Windows test programs: Wine cannot start here: $(tail -n 1 <<<"$probe")"
    else
        for program in "${programs[@]}"; do
            name="$(basename "$program")"
            # A program that ends early (by ending itself, say) prints no closing line: that fails too.
            if result="$(timeout 120 "$wine" "$program" 2>&1)" && grep -Eq '^[0-9]+ passed, 0 failed' <<<"$result"; then
                echo "pass  $name under Wine: $(tail -n 1 <<<"$result")"
            else
                echo "$result" >&2
                echo "FAIL  $name under Wine" >&2
                run_failed=$((run_failed + 1))
            fi
        done
    fi
fi

echo "check-windows: $checked compiled, ${#programs[@]} test programs, $((failed + run_failed)) failed"
[[ $failed -eq 0 && $run_failed -eq 0 ]]
