#!/usr/bin/env bash
# A person records three slides and saves them, tells the slide buffer through
# its context menu to record after the first slide, records one more and saves
# again: the new slide is the second file, the others follow it unchanged.
source "$(dirname "$0")/lib.sh"
begin_test "$1"

# The start scene's prop is animated, so the slides differ by its frame; the
# background's arrows do not move the start background. The slide recorded
# in place may therefore show a frame an earlier slide showed: which slide is
# new is told by where the old ones went, not by its pixels.
record() { click_at "$win" $RECORD; }

start_x
start_program "$exe"
win=$(wait_window " Vellumo") || fail "the main window did not appear"
for _ in 1 2 3; do record; done
save_slides 003.bmp
cp "$anim"/00?.bmp "$work/"
# A right click on the first thumbnail; the menu's fifth entry is "Записывать после этого слайда".
click_at "$buffer" 60 40 3
for _ in 1 2 3 4; do press_key Down; done
press_key Return
screenshot strip-point
click_at "$buffer" $CLOSE_BUFFER
wait_not_active "$buffer" >/dev/null || fail "the slide buffer did not close"
record

click_at "$win" $SLIDES
click_at "$buffer" $SAVE
click_at "$(wait_window "  Vellumo")" $CONFIRM    # the old slides go
for _ in $(seq 100); do [ -f "$anim/004.bmp" ] && break; sleep 0.1; done
sleep 1
press_key Return    # "Все слайды сохранены"
for pair in 001:001 002:003 003:004; do
    cmp -s "$work/${pair%:*}.bmp" "$anim/${pair#*:}.bmp" || fail "slide ${pair%:*} is not file ${pair#*:}.bmp now"
done
[ ! -f "$anim/005.bmp" ] && ! cmp -s "$work/001.bmp" "$work/002.bmp" && ! cmp -s "$work/002.bmp" "$work/003.bmp" ||
    fail "not four slides, the new one second"

# The third slide dragged to the front, then lasting a frame more by +: saved in the new order, it twice.
cp "$anim"/00?.bmp "$work/"
click_at "$win" $SLIDES
buffer=$(active_window)
xdotool mousemove --window "$buffer" 224 40 mousedown 1 sleep 0.2 mousemove --window "$buffer" 150 40 sleep 0.2 \
    mousemove --window "$buffer" 25 40 sleep 0.2 mouseup 1 sleep 0.4
press_key plus
click_at "$buffer" $SAVE
click_at "$(wait_window "  Vellumo")" $CONFIRM
for _ in $(seq 100); do [ -f "$anim/005.bmp" ] && break; sleep 0.1; done
sleep 1
press_key Return
for pair in 003:001 003:002 001:003 002:004 004:005; do
    cmp -s "$work/${pair%:*}.bmp" "$anim/${pair#*:}.bmp" || fail "slide ${pair%:*} is not file ${pair#*:}.bmp after the drag"
done
