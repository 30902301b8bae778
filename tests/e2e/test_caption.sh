#!/usr/bin/env bash
# A person puts a speech bubble on the stage through "Вставка" → "Надпись…" (a text typed, the bubble
# chosen, Ctrl+Enter) and records a slide: the bubble's white fill is in it, where the bare stage has sky.
source "$(dirname "$0")/lib.sh"
begin_test "$1"

# "Вставка" and "Надпись…" (the menu bar's own places); the caption window's shape box.
INSERT_MENU="126 7"; CAPTION_ITEM="161 29"; SHAPE="120 189"
start_x
start_program "$exe"
win=$(wait_window " Vellumo") || fail "the main window did not appear"
sleep 1
xdotool mousemove --window "$win" $INSERT_MENU click 1
sleep 0.8; xdotool mousemove --window "$win" $CAPTION_ITEM click 1
dialog=$(wait_window "Надпись") || fail "\"Надпись…\" did not open its window: $(wmctrl -l)"
xdotool windowactivate --sync "$dialog" 2>/dev/null; xdotool windowfocus --sync "$dialog" 2>/dev/null
xdotool type --delay 60 "Hello"
click_at "$dialog" $SHAPE
press_key Home; press_key Return; press_key ctrl+Return   # "Реплика", then "ОК"
wait_not_active "$dialog" >/dev/null || fail "Ctrl+Enter did not close the caption window"
screenshot caption-on-stage
click_at "$win" $RECORD
save_slides 001.bmp
# Pure white about the middle of the 396 x 346 slide: none in the bare stage's sky and hills.
white=$(convert "$anim/001.bmp" -crop 120x50+138+148 +repage -fill black +opaque white -format '%[fx:int(mean*w*h+0.5)]' info:)
[ "$white" -gt 1000 ] || fail "the recorded slide does not show the bubble's fill ($white white pixels)"
echo "PASS: caption"
