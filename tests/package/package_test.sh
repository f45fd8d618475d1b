#!/usr/bin/env bash
# Builds velmora_<version>_<arch>.deb with CPack into a temporary folder and checks it:
# its file list and control fields, the unpacked programs started from folders with and
# without assets of their own, lintian, the desktop entry, the icons and the manual pages.
# Needs BUILD_DIR (a built tree), SOURCE_DIR and VERSION.
set -u
tmp=$(mktemp -d)
xpid=
dpid=
# Strays in data/, as another run may leave there: the package must not take them.
strays=("$SOURCE_DIR/data/stray-$$.bin" "$SOURCE_DIR/data/textures/stray-$$.jpg")
cleanup() {
    [ -n "$dpid" ] && kill "$dpid" 2>/dev/null
    [ -n "$xpid" ] && kill "$xpid" 2>/dev/null
    rm -f "${strays[@]}"
    rm -rf "$tmp"
}
trap cleanup EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
section() { echo; echo "== $*"; }

arch=$(dpkg --print-architecture)
deb=$tmp/out/velmora_${VERSION}_${arch}.deb

section "building the package"
for f in "${strays[@]}"; do cp "$SOURCE_DIR/data/textures/tex1.jpg" "$f"; done
cpack --config "$BUILD_DIR/CPackConfig.cmake" -B "$tmp/out" >"$tmp/cpack.log" 2>&1 ||
    { cat "$tmp/cpack.log"; echo "FAIL: cpack"; exit 1; }
[ -f "$deb" ] || { ls "$tmp/out"; echo "FAIL: no $(basename "$deb")"; exit 1; }
echo "$(basename "$deb"): $(stat -c %s "$deb") bytes"

section "file list"
dpkg-deb -c "$deb" | awk '{ print $1, $2, $6 }' | sed 's| \./| /|' | tee "$tmp/listing"
awk '{ print $3 }' "$tmp/listing" | grep -v '/$' | sort >"$tmp/files"
{
    printf '%s\n' /usr/bin/velmora /usr/bin/velmora-capture /usr/bin/decode-jpeg \
        /usr/share/applications/velmora.desktop /usr/share/metainfo/example.velmora.velmora.metainfo.xml \
        /usr/share/man/man6/velmora.6.gz /usr/share/man/man1/velmora-capture.1.gz \
        /usr/share/man/man1/decode-jpeg.1.gz \
        /usr/share/doc/velmora/changelog.gz /usr/share/doc/velmora/copyright
    for size in 32 48 64 128 256; do echo "/usr/share/icons/hicolor/${size}x${size}/apps/velmora.png"; done
    echo /usr/share/velmora/music.mp3
    for t in tex1 tex2 tex2mask tex3 tex5 tex6 tex7 tex8 tex8mask tex9 tex9mask tex10 tex11; do
        echo "/usr/share/velmora/textures/$t.jpg"
    done
} | sort >"$tmp/expected"
diff -u "$tmp/expected" "$tmp/files" >"$tmp/files.diff" || { cat "$tmp/files.diff"; fail "file list differs (- expected, + packaged)"; }
awk '$2 != "root/root" { print "  " $0 }' "$tmp/listing" | grep . && fail "files not owned by root"
grep ' /usr/share/velmora/.*[^/]$' "$tmp/listing" | grep -v '^-rw-r--r--' && fail "assets not read-only 0644"
grep -E ' /usr/bin/[^/]+$' "$tmp/listing" | grep -v '^-rwxr-xr-x' && fail "programs not 0755"

section "control fields"
dpkg-deb -f "$deb" | tee "$tmp/control"
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = velmora ] || fail "Package"
[ "$(field Version)" = "$VERSION" ] || fail "Version is not the project's $VERSION"
[ "$(field Architecture)" = "$arch" ] || fail "Architecture"
[ "$(field Section)" = graphics ] || fail "Section"
field Maintainer | grep -Eq '^[^<>]+ <[^@ ]+@[^@ ]+>$' || fail "Maintainer is not 'Name <address>'"
depends=$(field Depends)
for needed in libsdl2-2.0-0 libmpg123-0 libsoxr0 libfreetype6 libfontconfig1 libpng16-16 libglu1-mesa \
              fonts-liberation2 libgl1 libegl1; do
    echo "$depends" | grep -q "\b$needed\b" || fail "Depends lacks $needed"
done
echo "$(field Recommends)" | grep -q '\bffmpeg\b' || fail "Recommends lacks ffmpeg"

section "unpacked"
root=$tmp/root
dpkg-deb -x "$deb" "$root"
data=$root/usr/share/velmora
empty=$tmp/empty
own=$tmp/own
mkdir -p "$empty" "$own/textures"

# Started where there are no assets, the capture tool takes the installed ones and says
# so; the installed track makes the music level move.
(cd "$empty" && "$root/usr/bin/velmora-capture" --fps 30 --at 1,4 --png "$tmp/frames" \
    --log "$tmp/installed.log") >"$tmp/capture.out" 2>&1
status=$?
cat "$tmp/capture.out"
[ "$status" = 0 ] || fail "velmora-capture exit status $status"
grep -q "using the data in $data\$" "$tmp/capture.out" || fail "velmora-capture did not say it used $data"
for f in frame_000030.png frame_000120.png; do
    file "$tmp/frames/$f" 2>/dev/null | grep -q 'PNG image data, 640 x 480' || fail "no 640 x 480 $f"
done
awk '!/^#/ && $4 > 0.001 { moved = 1 } END { exit !moved }' "$tmp/installed.log" ||
    fail "the music level never moved: the installed track was not played"

# A folder with a textures/ of its own is the user's data: nothing installed is used, so
# there is no track (the empty textures/ and no music.mp3 leave the capture silent).
(cd "$own" && "$root/usr/bin/velmora-capture" --fps 30 --at 1 --png "$tmp/own-frames" \
    --log "$tmp/own.log") >"$tmp/own.out" 2>&1 || { cat "$tmp/own.out"; fail "velmora-capture in a user's folder"; }
grep -q "using the data in" "$tmp/own.out" && fail "velmora-capture left a user's folder for the installed data"
awk '!/^#/ && $4 > 0.001 { moved = 1 } END { exit moved }' "$tmp/own.log" ||
    fail "music played in a folder without music.mp3"

"$root/usr/bin/decode-jpeg" "$data/textures/tex1.jpg" "$tmp/tex1.pam" || fail "decode-jpeg on an installed picture"
head -c 64 "$tmp/tex1.pam" | grep -aq 'TUPLTYPE RGB_ALPHA' || fail "decode-jpeg wrote no PAM"

# The demo itself, started from an empty folder on a virtual screen, works in the
# installed data folder and ends with Escape.
# shellcheck source=tools/xvfb.bash
. "$SOURCE_DIR/tools/xvfb.bash"
if start_xvfb 640x480 "$tmp"; then
    # Runs a command in FOLDER: the demo must work in the installed data folder and end
    # with status 0 on Escape.
    installed_run() {  # what folder output command...
        local what=$1 folder=$2 output=$3 cwd status
        shift 3
        (cd "$folder" && SDL_AUDIODRIVER=dummy exec "$@") >"$output" 2>&1 &
        dpid=$!
        timeout 20 xdotool search --sync --onlyvisible --pid "$dpid" >/dev/null 2>&1 || fail "$what: no demo window"
        cwd=$(readlink "/proc/$dpid/cwd")
        [ "$cwd" = "$data" ] || fail "$what: started in $folder, the demo works in $cwd, not in $data"
        echo "$what: started in $folder, works in $cwd"
        xdotool key Escape
        for _ in $(seq 100); do kill -0 "$dpid" 2>/dev/null || break; sleep 0.05; done
        wait "$dpid"
        status=$?
        dpid=
        [ "$status" = 0 ] || { cat "$output"; fail "$what: exit status $status after Escape"; }
        echo "$what: ended by Escape with exit status $status"
    }
    installed_run velmora "$empty" "$tmp/demo.out" "$root/usr/bin/velmora"

    # Started from the menu, in a home folder that holds a stray track and pictures: the
    # entry's own command line plays the installed data.
    exec_line=$(sed -n 's/^Exec=//p' "$root/usr/share/applications/velmora.desktop")
    echo "menu entry runs: $exec_line"
    cp "$SOURCE_DIR/data/music.mp3" "$own/music.mp3"
    read -r -a command <<<"$exec_line"
    [ "${command[-1]}" = velmora ] && command[-1]=$root/usr/bin/velmora
    installed=$(echo "$exec_line" | sed -n 's/.*VELMORA_DATA=\([^ ]*\).*/\1/p')
    [ "$installed" = /usr/share/velmora ] || fail "the menu entry names '$installed', not /usr/share/velmora"
    # The unpacked tree stands in for /usr.
    command=("${command[@]/VELMORA_DATA=\/usr/VELMORA_DATA=$root/usr}")
    installed_run "the menu entry" "$own" "$tmp/menu.out" "${command[@]}"
else
    fail "Xvfb did not start"
fi

section "desktop entry and icons"
desktop-file-validate "$root/usr/share/applications/velmora.desktop" || fail "desktop-file-validate"
grep -E '^(Name|Exec|Icon|Categories)=' "$root/usr/share/applications/velmora.desktop"
"$BUILD_DIR/make-assets" "$tmp/icons" icon >/dev/null || fail "make-assets icon"
for size in 32 48 64 128 256; do
    icon=$root/usr/share/icons/hicolor/${size}x${size}/apps/velmora.png
    file "$icon" | grep -q "PNG image data, $size x $size, 8-bit/color RGBA" || fail "$(file "$icon")"
    cmp -s "$icon" "$tmp/icons/hicolor/${size}x${size}/apps/velmora.png" ||
        fail "the ${size}px icon is not what make-assets draws: run build/make-assets tools/package/icons icon and commit"
done

section "AppStream metadata and licence"
metainfo=$root/usr/share/metainfo/example.velmora.velmora.metainfo.xml
appstreamcli validate --no-net --pedantic "$metainfo" || fail "appstreamcli validate"
# The metadata names the installed menu entry, the version packaged and the licence.
grep -q '<launchable type="desktop-id">velmora.desktop</launchable>' "$metainfo" || fail "metainfo: no launchable velmora.desktop"
grep -q "<release version=\"$VERSION\"" "$metainfo" || fail "metainfo: no release $VERSION"
grep -q '<project_license>MIT</project_license>' "$metainfo" || fail "metainfo: project licence is not MIT"
copyright=$root/usr/share/doc/velmora/copyright
grep -q '^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/$' "$copyright" ||
    fail "copyright is not in the machine-readable format"
[ "$(grep -c '^License: Expat$' "$copyright")" -ge 2 ] || fail "copyright: no Expat (MIT) licence for every file"
grep -q '^MIT License$' "$SOURCE_DIR/LICENSE" || fail "LICENSE is not the MIT licence"

section "manual pages"
for page in man6/velmora.6.gz man1/velmora-capture.1.gz man1/decode-jpeg.1.gz; do
    path=$root/usr/share/man/$page
    warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -E UTF-8 -l "$path" 2>&1 >"$tmp/page.txt")
    [ -z "$warnings" ] || { echo "$warnings"; fail "$page: warnings"; }
    for heading in NAME SYNOPSIS DESCRIPTION FILES ENVIRONMENT "EXIT STATUS" EXAMPLES; do
        grep -q "^$heading\$" "$tmp/page.txt" || fail "$page: no $heading section"
    done
    grep -q "$VERSION" "$tmp/page.txt" || fail "$page: does not give version $VERSION"
    echo "$page: $(wc -l <"$tmp/page.txt") lines, no warnings"
done
# Every option --help names is in the page, and the page names no other (the player's
# page shows the capture tool's options in its examples: those lines are not its own).
options_of() { grep -oE -- '--[a-z][a-z-]*' | sort -u; }
for tool in velmora velmora-capture decode-jpeg; do
    page=$(ls "$root"/usr/share/man/man*/$tool.[16].gz)
    "$root/usr/bin/$tool" --help | options_of >"$tmp/help-options"
    other='^$'
    [ "$tool" = velmora ] && other='velmora\\-capture'
    zcat "$page" | grep -v -- "$other" | sed 's/\\-/-/g' | options_of >"$tmp/page-options"
    diff -u "$tmp/help-options" "$tmp/page-options" || fail "$tool: options in --help (-) and the manual page (+) differ"
done
# The player's keys, as --help lists them, are in its page too.
for key in Escape F11 Alt+Enter Space; do
    "$root/usr/bin/velmora" --help | grep -q "$key" || fail "velmora --help does not name the key $key"
    zcat "$root/usr/share/man/man6/velmora.6.gz" | grep -q "$key" || fail "velmora.6 does not name the key $key"
done

section "lintian"
lintian --info --display-info --pedantic "$deb" | tee "$tmp/lintian.txt"
grep -q '^E:' "$tmp/lintian.txt" && fail "lintian reports errors"

echo
[ "$failures" = 0 ] || { echo "$failures failure(s)"; exit 1; }
echo "ok"
