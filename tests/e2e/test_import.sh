#!/usr/bin/env bash
# A person brings a walking figure drawn as numbered pictures into the library: "Файл" → "Добавить в
# библиотеку…" by its key, the pictures chosen together in the open dialog by typing, the guess
# ("персонаж") accepted with Enter in the question window; the new character is then chosen in the picker
# and stands on the stage.
source "$(dirname "$0")/lib.sh"
begin_test "$1"

LOAD_CHARACTER="489 186"

# Six frames of 60 x 80, magenta with a white bar that moves down, so that the frames differ.
mkdir -p "$work/series"
for i in 1 2 3 4 5 6; do
    convert -size 60x80 xc:'#ff00ff' -fill white -draw "rectangle 0,$((i * 10)) 59,$((i * 10 + 4))" \
        "$work/series/walk_0$i.png"
done

start_x
start_program "$exe"
win=$(wait_window " Vellumo") || fail "the main window did not appear"
xdotool windowactivate --sync "$win" 2>/dev/null; xdotool windowfocus --sync "$win" 2>/dev/null
press_key ctrl+i
dialog=$(wait_window "Добавить в библиотеку") || fail "Ctrl+I did not open the open dialog"
sleep 0.5
# The name field has the focus: the folder first, then the pictures by name, as a person types them.
press_key ctrl+a
xdotool type --delay 20 "$work/series/"
press_key Return
sleep 0.5
xdotool type --delay 20 '"walk_01.png" "walk_02.png" "walk_03.png" "walk_04.png" "walk_05.png" "walk_06.png"'
press_key Return

ask=$(wait_window " Добавление в библиотеку") || fail "the question window did not open"
sleep 1.5
screenshot import-window
press_key Return
wait_not_active "$ask" >/dev/null || fail "the question window did not close on Enter"
[ -f "$PROGRAM_DIR/objects/walk.gif" ] || fail "no walk.gif in the library: $(ls "$PROGRAM_DIR/objects" | head -3)"

# Latin names come before the shipped Cyrillic ones: the new character is the picker's first cell.
grab_main "$work/before.png"
pick_first "$LOAD_CHARACTER"
sleep 0.5
grab_main "$work/after.png"
cp "$work/after.png" "$E2E_OUT/import-stage.png"
# Magenta pixels on the stage (the inner 396 x 346 from 17,17), before and after.
magenta() {
    convert "$1" -crop 396x346+17+17 +repage -fill black +opaque '#ff00ff' -fill white -opaque '#ff00ff' \
        -format '%[fx:round(mean*w*h)]' info:
}
b=$(magenta "$work/before.png"); a=$(magenta "$work/after.png")
note "magenta pixels on the stage: $b before, $a after"
[ "$a" -ge $((b + 60 * 40)) ] || fail "the new character does not stand on the stage"
note "the imported character stands on the stage"
