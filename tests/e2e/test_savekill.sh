#!/usr/bin/env bash
# Slides saved once are saved again ("Сохранить", the old files confirmed
# away) and the program is killed while the progress bar runs: the next start
# offers every slide, and "Да" brings them all back.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/still_stage.sh"
begin_test "$1"

make_noise_slides "$work/noise" 800
start_with_still_stage "$exe"
anim="$PROGRAM_DIR/Animations"
click_at "$win" $SLIDES
buffer=$(active_window)
add_slides_from "$buffer" "$work/noise"
click_at "$buffer" $CLOSE_BUFFER
wait_not_active "$buffer" >/dev/null || fail "the slide buffer did not close"
stats_shot "$work/before.png"
click_at "$win" $SLIDES
click_at "$buffer" $SAVE
for _ in $(seq 600); do [ -f "$anim/800.bmp" ] && break; sleep 0.1; done
sleep 1
press_key Return    # "Все слайды сохранены"

click_at "$buffer" $SAVE
load=$(wait_window "  Vellumo") || fail "no confirmation of deleting the old slides"
click_at "$load" $CONFIRM
wait_window " " >/dev/null || fail "no progress bar"
kill_program
written=$(ls "$anim" | wc -l)
[ "$written" -lt 800 ] || fail "the save ended before the kill"
start_again || fail "the slides of a save cut short at $written files were not offered"
answer_yes
stats_shot "$work/after.png"
diff=$(compare -metric AE "$work/before.png" "$work/after.png" null: 2>&1)
[ "$diff" = 0 ] || fail "the slide count after recovery differs from the one before the kill"
note "killed with $written of 800 files written, every slide came back"
