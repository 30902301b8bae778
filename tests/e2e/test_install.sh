#!/usr/bin/env bash
# Vellumo installed as a desktop program: `cmake --install` into a fresh
# prefix lays out what the desktop needs, and the installed program, run by an
# ordinary user, saves its slides into that user's Pictures folder and writes
# nothing under the prefix.
source "$(dirname "$0")/lib.sh"
exe=$(readlink -f "$1")
build=$(dirname "$exe")
work=$(mktemp -d)
trap 'stop_x; rm -rf "$work"' EXIT
chmod 755 "$work"

RECORD="489 434"; SLIDES="609 158"; SAVE="534 467"; CLOSE_BUFFER="634 467"

prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null || fail "cmake --install failed"
for f in bin/vellumo share/applications/org.vellumo.Vellumo.desktop share/metainfo/org.vellumo.Vellumo.metainfo.xml \
         share/man/man1/vellumo.1.gz share/doc/vellumo/copyright; do
    [ -f "$prefix/$f" ] || fail "$f was not installed"
done
for size in 16 24 32 48 64 128 256; do
    for icon in apps/vellumo mimetypes/application-x-vellumo; do
        [ "$(identify -format '%wx%h' "$prefix/share/icons/hicolor/${size}x${size}/$icon.png" 2>/dev/null)" = "${size}x${size}" ] ||
            fail "no ${size}x${size} $icon icon"
    done
done
for kind in objects articles fones; do
    [ -n "$(ls "$prefix/share/vellumo/$kind")" ] || fail "the sample library's $kind were not installed"
done
desktop-file-validate "$prefix/share/applications/org.vellumo.Vellumo.desktop" || fail "the desktop entry does not validate"
appstreamcli validate --no-net "$prefix/share/metainfo/org.vellumo.Vellumo.metainfo.xml" >"$work/as.log" 2>&1 ||
    fail "the metainfo does not validate: $(cat "$work/as.log")"
grep -q '^Name\[ru\]=' "$prefix/share/applications/org.vellumo.Vellumo.desktop" || fail "no Russian name in the desktop entry"
# The project file type, with the caches Debian's triggers build: a project is known by its name and,
# renamed, by the program's id in its SQLite header, another SQLite file is not; the entry opens it.
update-mime-database "$prefix/share/mime" && update-desktop-database "$prefix/share/applications" 2>/dev/null ||
    fail "the file type and entry do not go into the desktop's caches"
{ printf 'SQLite format 3\0'; head -c 52 /dev/zero; printf 'Velm'; head -c 28 /dev/zero; } >"$work/Мульт.vellumo"
cp "$work/Мульт.vellumo" "$work/Мульт"
{ printf 'SQLite format 3\0'; head -c 84 /dev/zero; } >"$work/other.db"
desktop=(env XDG_CURRENT_DESKTOP=GNOME XDG_DATA_DIRS="$prefix/share:/usr/share" HOME="$work" PATH="$prefix/bin:$PATH")
for case in Мульт.vellumo=application/x-vellumo Мульт=application/x-vellumo other.db=application/vnd.sqlite3; do
    type=$("${desktop[@]}" xdg-mime query filetype "$work/${case%%=*}")
    [ "$type" = "${case#*=}" ] || fail "${case%%=*} is taken for \"$type\""
done
[ "$("${desktop[@]}" xdg-mime query default application/x-vellumo)" = org.vellumo.Vellumo.desktop ] ||
    fail "the program does not open its project files"
icon=$("${desktop[@]}" gio info -a standard::icon "$work/Мульт" | sed -n 's/.*standard::icon: \([^,]*\).*/\1/p')
[ -f "$prefix/share/icons/hicolor/48x48/mimetypes/$icon.png" ] || fail "projects are shown with the icon \"$icon\", which is not installed"
# A double click, as a file manager does it, runs the entry's command with the file's path.
mkdir "$work/stub"
printf '#!/bin/sh\nprintf "%%s\\n" "$@" >"%s/opened"\n' "$work" >"$work/stub/vellumo" && chmod +x "$work/stub/vellumo"
cp "$work/Мульт.vellumo" "$work/Мой мульт.vellumo"
"${desktop[@]}" PATH="$work/stub:$PATH" gio open "$work/Мой мульт.vellumo" 2>/dev/null
for _ in $(seq 50); do [ -s "$work/opened" ] && break; sleep 0.1; done
[ "$(cat "$work/opened" 2>/dev/null)" = "$work/Мой мульт.vellumo" ] || fail "a double click runs vellumo with \"$(cat "$work/opened")\""
zcat "$prefix/share/man/man1/vellumo.1.gz" | man -l - >/dev/null 2>&1 || fail "the manual page does not format"
LC_ALL=C.UTF-8 MANPATH=$prefix/share/man man -L ru -P cat vellumo 2>/dev/null | grep -q "ПЕРВЫЙ МУЛЬТФИЛЬМ" ||
    fail "man -L ru vellumo does not show the Russian manual page"

# An ordinary user with a home of their own; root gives up its rights first.
home=$work/home
mkdir -p "$home"
as_user=()
if [ "$(id -u)" = 0 ]; then
    chown -R 65534:65534 "$home"
    as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
fi
find "$prefix" -printf '%p %s %T@\n' | sort >"$work/before"

start_x
# A Wayland session with Xwayland that the user could reach too: the program is to choose X11.
runtime=$work/runtime
mkdir -m 755 "$runtime"
(umask 0; XDG_RUNTIME_DIR=$runtime exec weston --backend=headless-backend.so --socket=wl >/dev/null 2>&1) &
WESTON_PID=$!
trap 'stop_x; kill $WESTON_PID; wait $WESTON_PID; rm -rf "$work"' EXIT
for _ in $(seq 100); do [ -S "$runtime/wl" ] && break; sleep 0.1; done
(cd / && exec env -i DISPLAY="$DISPLAY" HOME="$home" PATH=/usr/bin:/bin LANG=C.UTF-8 XDG_RUNTIME_DIR= \
    XDG_SESSION_TYPE=wayland WAYLAND_DISPLAY="$runtime/wl" \
    "${as_user[@]}" "$prefix/bin/vellumo" >"$E2E_OUT/installed.log" 2>&1) &
APP_PID=$!
win=$(wait_window " Vellumo") || fail "the installed program's main window did not appear on X11"
# Docks match windows to the menu entry by the window class (X11) and the app id (Wayland).
entry=$prefix/share/applications/org.vellumo.Vellumo.desktop
class=$(xprop -id "$win" WM_CLASS | sed -n 's/.*, "\(.*\)"$/\1/p')
grep -qx "StartupWMClass=$class" "$entry" || fail "the window class \"$class\" is not the entry's StartupWMClass"
sleep 1
pictures=$home/Pictures/Vellumo/Animations
[ -d "$pictures" ] || fail "\"Animations\" was not made in the user's Pictures folder"
for kind in objects articles fones; do
    [ -d "$home/.local/share/vellumo/$kind" ] || fail "the user's own $kind folder was not made"
done

for _ in 1 2 3; do click_at "$win" $RECORD; done
click_at "$win" $SLIDES
buffer=$(active_window)
[ "$buffer" != "$win" ] || fail "the slide buffer did not open"
click_at "$buffer" $SAVE
for _ in $(seq 50); do [ -f "$pictures/003.bmp" ] && break; sleep 0.1; done
sleep 0.5
screenshot installed-saved
press_key Return    # "Все слайды сохранены"
click_at "$buffer" $CLOSE_BUFFER
[ "$(ls "$pictures")" = "$(printf '001.bmp\n002.bmp\n003.bmp')" ] || fail "saved into Pictures: $(ls "$pictures" | tr '\n' ' ')"
[ "$(stat -c %u "$pictures/001.bmp")" = "$(stat -c %u "$home")" ] || fail "the slides do not belong to the user"

wmctrl -i -c "$win"
wait_exit $APP_PID || fail "the installed program did not end after its close box"
APP_PID=
find "$prefix" -printf '%p %s %T@\n' | sort >"$work/after"
cmp -s "$work/before" "$work/after" || fail "something was written under the prefix: $(diff "$work/before" "$work/after" | head -5)"

# Under native Wayland, chosen by the user, the app id is the entry's name.
log=$E2E_OUT/installed-wayland.log
(cd / && exec env -i HOME="$work" XDG_RUNTIME_DIR="$runtime" WAYLAND_DISPLAY=wl QT_QPA_PLATFORM=wayland \
    WAYLAND_DEBUG=client "$prefix/bin/vellumo" >"$log" 2>&1) &
APP_PID=$!
for _ in $(seq 300); do grep -q 'set_app_id("org.vellumo.Vellumo")' "$log" && break; sleep 0.1; done
grep -q "set_app_id(\"$(basename "$entry" .desktop)\")" "$log" || fail "the Wayland app id is not the entry's name"
echo "PASS: installed program"
