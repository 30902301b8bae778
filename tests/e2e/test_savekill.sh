#!/usr/bin/env bash
# 1,500 busy slides (some 600 MB held) are saved, saved again, and the program
# is killed while the bar runs: the next start brings every slide back. Saved
# whole again, a slide recorded with F5 1.2 s before a kill comes back too.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/still_stage.sh"
begin_test "$1"
convert -size 396x346 xc:black -type TrueColor "BMP3:$work/black.bmp"
mkdir "$work/noise"
for i in $(seq 1500); do   # random pixels: each slide differs wholly from the one before
    cat <(head -c 54 "$work/black.bmp") <(head -c 411048 /dev/urandom) >"$work/noise/$(printf %03d "$i").bmp"
done
start_with_still_stage "$exe"
anim="$PROGRAM_DIR/Animations"
# The counter in the main window's "Статистика".
stats() { grab_main "$work/$1.png"; convert "$work/$1.png" -crop 205x109+558+9 +repage "$work/$1.png"; }
buffer() { click_at "$win" $SLIDES; buffer=$(active_window); }
# "Сохранить", the old files confirmed away; returns once the bar shows, or with `wait` once it is done.
save() {
    local had; had=$(ls "$anim" 2>/dev/null)
    click_at "$buffer" $SAVE
    [ -z "$had" ] || click_at "$(wait_window "  Vellumo")" $CONFIRM
    wait_window " " >/dev/null || fail "no progress bar"
    [ "${1:-}" = wait ] || return 0
    for _ in $(seq 600); do [ -f "$anim/1500.bmp" ] && break; sleep 0.1; done
    sleep 1; press_key Return    # "Все слайды сохранены"
    click_at "$buffer" $CLOSE_BUFFER; wait_not_active "$buffer" >/dev/null
}

buffer
click_twips "$buffer" 4215 6795 1455 420        # "Добавить…": Qt's folder dialog takes a typed folder
sleep 1; xdotool type --delay 20 "$work/noise"; press_key Return
for _ in $(seq 600); do [ "$(xdotool getactivewindow)" = "$buffer" ] && break; sleep 0.1; done
save wait; stats held
buffer; save; kill_program
written=$(ls "$anim" | wc -l)
[ "$written" -lt 1500 ] || fail "the second save ended before the kill"
start_again || fail "the slides of a save cut short at $written files were not offered"
answer_yes; stats back
[ "$(compare -metric AE "$work/held.png" "$work/back.png" null: 2>&1)" = 0 ] || fail "not every slide came back"

# Nothing else is unsaved: the question alone says that the slide came back.
buffer; save wait
xdotool key F5; sleep 1.2; kill_program
start_again || fail "the slide recorded 1.2 s before the kill was not offered"
note "a second save killed at $written files, and a slide recorded after a save, came back"
