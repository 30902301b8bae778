#!/usr/bin/env bash
# After a save of a long cartoon of busy pictures (some 300 MB held), one
# more slide is recorded with F5 and the program is killed 1.2 s later: the
# next start offers that slide, and "Да" brings the buffer back whole.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/still_stage.sh"
begin_test "$1"

make_noise_slides "$work/noise" 1500
start_with_still_stage "$exe"
click_at "$win" $SLIDES
buffer=$(active_window)
add_slides_from "$buffer" "$work/noise"
click_at "$buffer" $SAVE
for _ in $(seq 600); do [ -f "$PROGRAM_DIR/Animations/1500.bmp" ] && break; sleep 0.1; done
sleep 1
press_key Return    # "Все слайды сохранены"
click_at "$buffer" $CLOSE_BUFFER
wait_not_active "$buffer" >/dev/null || fail "the slide buffer did not close"

start=$EPOCHREALTIME
xdotool key F5
sleep 0.3
stats_shot "$work/before.png"
sleep "$(awk -v s="$start" -v n="$EPOCHREALTIME" 'BEGIN { d = 1.2 - (n - s); print (d > 0 ? d : 0) }')"
kill_program
start_again || fail "the slide recorded 1.2 s before the kill was not offered"
answer_yes
stats_shot "$work/after.png"
diff=$(compare -metric AE "$work/before.png" "$work/after.png" null: 2>&1)
[ "$diff" = 0 ] || fail "the slide count after recovery differs from the one before the kill"
note "the slide recorded after saving 1500 came back"
