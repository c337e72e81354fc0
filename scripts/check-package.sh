#!/usr/bin/env bash
# Builds the Debian package from a built tree into a temporary folder and checks it the way a school's desktop
# would use it: lintian finds no errors, the desktop entry is valid and handles ambrel:// links, the settings file
# is a commented conffile, and the program unpacked from the package, started the way the desktop entry says with a
# link from an unrelated folder, writes its start-up log line and keeps its files in the user's own data folder.
#   scripts/check-package.sh BUILD_DIR
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=$(cd "${1:?usage: check-package.sh BUILD_DIR}" && pwd)
source "$ROOT/scripts/common.sh"

for tool in cpack lintian desktop-file-validate update-desktop-database dpkg-deb file unshare xvfb-run; do
    command -v "$tool" >/dev/null || { echo "check-package: $tool is missing (run scripts/bootstrap.sh)" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
    echo "check-package: $*" >&2
    exit 1
}

echo "== cpack"
cpack -G DEB --config "$BUILD/CPackConfig.cmake" -B "$work/out" > "$work/cpack.log" 2>&1 || {
    cat "$work/cpack.log"
    fail "cpack failed"
}
debs=("$work"/out/*.deb)
[[ ${#debs[@]} -eq 1 && -f ${debs[0]} ]] || fail "cpack made no single .deb: ${debs[*]}"
deb=${debs[0]}
dpkg-deb --field "$deb" Package Version Depends
# The browser's hand-over of ambrel:// links and the queue window's "打开文件夹" go through xdg-open.
dpkg-deb --field "$deb" Depends | grep -qw 'xdg-utils' || fail "the package does not depend on xdg-utils"

echo "== lintian"
lintian --fail-on error --tag-display-limit 0 "$deb" || fail "lintian reports errors"

echo "== contents"
dpkg-deb -x "$deb" "$work/root"
desktop=$work/root/usr/share/applications/ambrelclient.desktop
desktop-file-validate "$desktop" || fail "desktop-file-validate rejects $desktop"
grep -qx 'MimeType=.*x-scheme-handler/ambrel;.*' "$desktop" || fail "the desktop entry does not handle ambrel:// links"
# One name for people: the menu's is the one the window's title and the tray show.
grep -qx 'Name=岚栖' "$desktop" || fail "the desktop entry's Name is not 岚栖: $(grep '^Name' "$desktop")"
# What the package's trigger does on installation: the MIME cache must name the entry as handler of the links.
update-desktop-database "$(dirname "$desktop")"
grep -qx 'x-scheme-handler/ambrel=ambrelclient.desktop;' "$(dirname "$desktop")/mimeinfo.cache" ||
    fail "the desktop database does not register ambrelclient.desktop for ambrel:// links"
exec_line=$(sed -n 's/^Exec=//p' "$desktop")
[[ $exec_line == *' %u' ]] || fail "Exec does not pass the link (%u): $exec_line"
icon=$(sed -n 's/^Icon=//p' "$desktop")
for size in 16 22 24 32 48 64 128 256; do
    png=$work/root/usr/share/icons/hicolor/${size}x${size}/apps/$icon.png
    [[ -s $png ]] || fail "no ${size}x${size} icon $icon.png"
    [[ $(file -b "$png") == *"PNG image data, $size x $size,"* ]] || fail "$png is not a $size x $size PNG"
done

# The school's settings file: installed, every key commented out, and kept by dpkg as the administrator edits it.
conf=/etc/xdg/AmbrelClient/AmbrelClient.conf
[[ -s $work/root$conf ]] || fail "no $conf in the package"
if grep -Eq '^[a-z_]+[[:space:]]*=' "$work/root$conf"; then fail "$conf sets a key instead of showing it commented"; fi
dpkg-deb --info "$deb" conffiles | grep -qxF "$conf" || fail "$conf is not a conffile"

echo "== command line without a display"
# As typed in a terminal with no display: the help names the command typed, not the program behind the launcher.
help=$(cd "$work" && env -u DISPLAY -u WAYLAND_DISPLAY -u XDG_DATA_HOME HOME="$work/help-home" QT_QPA_PLATFORM=xcb \
    timeout 20 "$work/root/usr/bin/ambrelclient" --help) || fail "ambrelclient --help failed without a display"
grep -q 'ambrelclient \[' <<< "$help" || fail "the help does not name the command ambrelclient: $(head -1 <<< "$help")"
if grep -q 'lib/ambrelclient' <<< "$help"; then fail "the help names the program behind the launcher"; fi

echo "== start from a link"
# As a browser would: the command of the Exec line, from a folder of its own, with the user's home elsewhere.
program=$work/root/usr/bin/${exec_line%% *}
[[ -x $program ]] || fail "the Exec command ${exec_line%% *} is not in the package's /usr/bin"
mkdir -p "$work/home" "$work/browser"
log=$work/log.txt
folder=$work/home/.local/share/AmbrelClient
private_process_table
(
    cd "$work/browser"
    env -u XDG_DATA_HOME HOME="$work/home" AMBREL_LOG_FILE="$log" AMBREL_API_HOST=http://127.0.0.1:9 \
        AMBREL_UPLOAD_HOST=http://127.0.0.1:9/upload QT_QPA_PLATFORM=xcb \
        "${namespace[@]}" bash -c '
            "$1" "$2" "$3" > "$4" 2>&1 &
            for _ in $(seq 1 300); do
                if [[ -d $5/image && -d $5/save ]] && grep -qxE "[0-9T:.-]+ ambrel://T1_\*\*\*_u9_My Title/" "$6" 2>/dev/null; then
                    # Other users see the argument memory (ps): the token must be gone from it.
                    for process in /proc/[0-9]*; do
                        [[ $(cat "$process/comm" 2>/dev/null) == AmbrelClient ]] || continue
                        tr "\0" " " < "$process/cmdline" | grep -q secretToken && exit 5
                        exit 0
                    done
                    exit 6
                fi
                kill -0 $! 2>/dev/null || exit 3
                sleep 0.1
            done
            exit 4' \
        starter "$ROOT/scripts/with-display.sh" "$program" "ambrel://T1_secretToken_u9_My%20Title/" \
        "$work/client.out" "$folder" "$log"
) || {
    status=$?
    echo "--- client output"; cat "$work/client.out" 2>/dev/null || true
    echo "--- log"; cat "$log" 2>/dev/null || true
    [[ $status -eq 3 ]] && fail "the program ended at start"
    [[ $status -eq 5 ]] && fail "/proc/<pid>/cmdline of the running client shows the token"
    [[ $status -eq 6 ]] && fail "no running AmbrelClient process found"
    fail "no start-up log line and working folder within 30 s"
}
[[ -z $(ls -A "$work/browser") ]] || fail "the program wrote into the browser's folder: $(ls -A "$work/browser")"
if grep -q secretToken "$log"; then fail "the token reached the log"; fi
[[ $(stat -c %a "$folder") == 700 ]] || fail "the working folder $folder is $(stat -c %a "$folder"), not 700"
echo "check-package: $(basename "$deb") passes"
