#!/usr/bin/env bash
# The Debian package: cpack makes it from the build folder, its dependencies
# come from the libraries the program links, and lintian finds no error.
set -u
fail() { echo "FAIL: $*" >&2; exit 1; }
exe=$(readlink -f "$1")
build=$(dirname "$exe")
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

(cd "$build" && cpack -G DEB -B "$out" >"$out/cpack.log" 2>&1) || fail "cpack failed: $(tail -5 "$out/cpack.log")"
deb=$(ls "$out"/vellumo_*.deb 2>/dev/null | head -1)
[ -n "$deb" ] || fail "no package was made"
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libqt6widgets6 libgif7 libc6; do
    echo "$depends" | grep -q "$lib" || fail "Depends lacks $lib: $depends"
done
contents=$(dpkg-deb -c "$deb")
for f in ./usr/bin/vellumo ./usr/share/applications/org.vellumo.Vellumo.desktop ./usr/share/man/man1/vellumo.1.gz \
         ./usr/share/mime/packages/org.vellumo.Vellumo.xml ./usr/share/icons/hicolor/48x48/mimetypes/application-x-vellumo.png \
         ./usr/share/doc/vellumo/copyright "./usr/share/vellumo/objects/Кот идёт▸.gif" "./usr/share/vellumo/objects/Кот идёт◂.gif"; do
    echo "$contents" | grep -qF " $f" || fail "the package lacks $f"
done
lintian --no-tag-display-limit "$deb" >"$out/lintian.log" 2>&1
if grep -q '^E:' "$out/lintian.log"; then
    fail "lintian reports errors: $(grep '^E:' "$out/lintian.log")"
fi
echo "-- lintian: $(grep -c '^[WI]:' "$out/lintian.log") warnings and notes, no errors"
echo "PASS: Debian package"
