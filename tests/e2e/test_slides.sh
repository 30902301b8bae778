#!/usr/bin/env bash
# A person records slides with "ЗАПИСЬ", saves them through the slide buffer,
# records another and saves again over the old files, confirming their
# deletion; each file holds exactly what the stage showed.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/still_stage.sh"
exe=$(readlink -f "$1")
work=$(mktemp -d)
trap 'stop_x; rm -rf "$work"' EXIT

RECORD="489 434"; SLIDES="609 158"
SAVE="534 467"; CLOSE_BUFFER="634 467"; CONFIRM="312 87"

start_with_still_stage "$exe"

for _ in 1 2 3; do click_at "$win" $RECORD; done
# The stage's inner area starts 17 pixels into the window's client area.
import -window "$win" "$work/window.png"
convert "$work/window.png" -crop 396x346+17+17 +repage "$work/stage.png"

save() { # saves through the slide buffer; $1 = yes when old files are to be confirmed
    click_at "$win" $SLIDES
    local buffer
    buffer=$(active_window)
    [ "$buffer" != "$win" ] || fail "the slide buffer did not open"
    click_at "$buffer" $SAVE
    if [ "$1" = yes ]; then
        local load
        load=$(wait_window "  Vellumo") || fail "no confirmation of deleting the old slides"
        screenshot slides-confirm
        click_at "$load" $CONFIRM
    fi
    for _ in $(seq 100); do [ -f "$anim/$2" ] && break; sleep 0.1; done
    sleep 1
    press_key Return    # "Все слайды сохранены"
    click_at "$buffer" $CLOSE_BUFFER
    wait_not_active "$buffer" >/dev/null || fail "the slide buffer did not close"
}

anim="$PROGRAM_DIR/Animations"
save no 003.bmp
[ "$(ls "$anim")" = "$(printf '001.bmp\n002.bmp\n003.bmp')" ] || fail "after the first save: $(ls "$anim" | tr '\n' ' ')"
# A slide is the stage exactly as it showed, pixel for pixel.
diff=$(compare -metric AE "$anim/001.bmp" "$work/stage.png" null: 2>&1)
[ "$diff" = 0 ] || fail "001.bmp differs from the stage in $diff pixels"

touch "$anim/notes.txt"
click_at "$win" $RECORD
save yes 004.bmp
[ "$(ls "$anim")" = "$(printf '001.bmp\n002.bmp\n003.bmp\n004.bmp')" ] ||
    fail "after saving over old files: $(ls "$anim" | tr '\n' ' ')"

wmctrl -i -c "$win"
wait_exit $APP_PID || fail "the program did not end after its close box"
APP_PID=
echo "PASS: slides recorded and saved"
