#!/usr/bin/env bash
# Installs the build tree into a temporary DESTDIR and checks it the way a
# desktop and a user would: the validators of the desktop entry, AppStream
# metainfo, MIME type and man pages; the icon sizes; the bash completion; the
# MIME type of a map file through the installed database; and the installed
# programs' versions and a conversion of the sample.
# Usage: install_test.sh BUILD_DIR SOURCE_DIR VERSION MIME_PROBE
set -euo pipefail
build=$1 source=$2 version=$3 probe=$4

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
DESTDIR=$root cmake --install "$build" --prefix /usr >/dev/null
usr=$root/usr
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
expect() {  # expect WHAT ACTUAL EXPECTED
  [ "$2" = "$3" ] || fail "$1: got \"$2\", expected \"$3\""
}

desktop=$usr/share/applications/com.velmora.rzt2tool.desktop
desktop-file-validate "$desktop" || fail "desktop entry"
appstreamcli validate --no-net "$usr/share/metainfo/com.velmora.rzt2tool.metainfo.xml" >/dev/null ||
  fail "AppStream metainfo"
xmllint --noout "$usr/share/mime/packages/rzt2.xml" || fail "MIME XML"
grep -q '<project_license>GPL-3.0-or-later</project_license>' "$usr/share/metainfo/com.velmora.rzt2tool.metainfo.xml" ||
  fail "AppStream licence"
grep -q '^License: GPL-3+$' "$usr/share/doc/rzt2/copyright" || fail "Debian copyright"

# Man pages: groff's warnings go to stderr; the header names the version.
for page in rzt2 rzt2tool; do
  text=$(MANWIDTH=80 man --warnings -E UTF-8 -l "$usr/share/man/man1/$page.1.gz" 2>"$root/man-warnings") ||
    fail "man $page"
  [ -s "$root/man-warnings" ] && fail "man $page: $(cat "$root/man-warnings")"
  grep -q "$page $version" <<<"$text" || fail "man $page does not name version $version"
  [ "$page" = rzt2 ] && ! grep -q "palette built-in|fitted" <<<"$text" && fail "man rzt2 lacks --palette"
done

# The desktop entry's icon in every hicolor size, and as SVG.
icon=$(sed -n 's/^Icon=//p' "$desktop")
for size in 16 22 24 32 48 64 128 256; do
  png=$usr/share/icons/hicolor/${size}x${size}/apps/$icon.png
  # Width and height: big-endian at bytes 16 and 20 of the PNG.
  expect "$png size" "$(od -An -tu1 -j16 -N8 "$png" 2>/dev/null | awk '{print $3 * 256 + $4 "x" $7 * 256 + $8}')" \
    "${size}x${size}"
done
[ -s "$usr/share/icons/hicolor/scalable/apps/$icon.svg" ] || fail "scalable icon"

expect "rzt2 --version" "$("$usr/bin/rzt2" --version)" "rzt2 $version"
expect "rzt2tool --version" "$(env -u DISPLAY -u WAYLAND_DISPLAY "$usr/bin/rzt2tool" --version)" "rzt2tool $version"

"$usr/bin/rzt2" convert -q --ignore-settings -o "$root" "$source/samples/sample-map.png" || fail "convert"
"$usr/bin/rzt2" check "$root/sample-map.rzt2" >/dev/null || fail "check"

# The MIME type through the installed database only: by name, and by the
# magic of a map file without its extension.
XDG_DATA_DIRS=$usr/share update-mime-database "$usr/share/mime"
cp "$root/sample-map.rzt2" "$root/no-extension"
mkdir "$root/data-home"
types=$(XDG_DATA_HOME=$root/data-home XDG_DATA_DIRS=$usr/share "$probe" "$root/sample-map.rzt2" "$root/no-extension")
expect "MIME types" "$(echo $types)" "application/x-rzt2 application/x-rzt2"

# Bash completion: each line is completed at its end.
complete_line() {
  bash -c 'source /usr/share/bash-completion/bash_completion && source "$1" && shift &&
    COMP_LINE="$*" && COMP_POINT=${#COMP_LINE} && COMP_WORDS=("$@") && COMP_CWORD=$(($# - 1)) &&
    _rzt2 && echo "${COMPREPLY[*]}"' _ "$usr/share/bash-completion/completions/rzt2" "$@"
}
expect "complete rzt2 co" "$(complete_line rzt2 co)" "convert"
expect "complete convert --fo" "$(complete_line rzt2 convert --fo)" "--format"
expect "complete export --fi" "$(complete_line rzt2 export --fi)" "--files-from"
expect "complete --format" "$(complete_line rzt2 export --format '')" "gif jpeg png bmp tiff"
expect "complete info --" "$(complete_line rzt2 info --)" "--json --help"
expect "complete --palette" "$(complete_line rzt2 convert --palette '')" "built-in fitted"

[ "$failures" -eq 0 ] || exit 1
echo "installation checked"
