#!/usr/bin/env bash
# A person starts Vellumo, sees its main window and closes it with the close box.
source "$(dirname "$0")/lib.sh"
exe=$(readlink -f "$1")
trap stop_x EXIT

start_x
start_program "$exe"
win=$(wait_window " Vellumo") || fail "the main window \" Vellumo\" did not appear"
note "main window $win"
# 771 x 494 under a menu bar of one line.
size=$(client_size "$win")
[ "${size%x*}" = 771 ] && [ "$(menu_height)" -ge 12 ] && [ "$(menu_height)" -le 40 ] ||
    fail "client area is $size, expected 771 x 494 under a menu bar"
[ -d "$PROGRAM_DIR/Animations" ] || fail "\"Animations\" was not created beside the program"

# The window keeps its size when asked to grow.
xdotool windowsize "$win" 900 700; sleep 0.5
[ "$(client_size "$win")" = "$size" ] || fail "the window could be resized to $(client_size "$win")"
wmctrl -i -r "$win" -b add,maximized_vert,maximized_horz; sleep 0.5
[ "$(client_size "$win")" = "$size" ] || fail "the window could be maximised to $(client_size "$win")"

sleep 1
screenshot mainwindow
grab_main "$E2E_OUT/mainwindow-window.png"

wmctrl -i -c "$win"
wait_exit $APP_PID || fail "the program did not end after its close box"
APP_PID=
echo "PASS: main window"
