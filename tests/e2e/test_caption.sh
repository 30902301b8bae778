#!/usr/bin/env bash
# A person records a slide of the bare stage, then puts a speech bubble on it through "Вставка" →
# "Надпись…" (a text typed, the bubble chosen, Ctrl+Enter), records again and saves the slides: the
# bubble's white fill is in the second slide where the first has the sky. A double click on the bubble
# opens its window again.
source "$(dirname "$0")/lib.sh"
begin_test "$1"

# In the menu bar (above the area the other tests' places are counted in): "Вставка", then "Надпись…".
INSERT_MENU="126 7"; CAPTION_ITEM="161 29"
# In the caption window: the shape box.
SHAPE="120 189"
# The middle of the stage, in the area under the menu: the viewport starts at 17, 17 and is 396 x 346.
MIDDLE_X=215; MIDDLE_Y=190

start_x
start_program "$exe"
win=$(wait_window " Vellumo") || fail "the main window did not appear"
sleep 1
click_at "$win" $RECORD

xdotool mousemove --window "$win" $INSERT_MENU click 1
sleep 0.8
xdotool mousemove --window "$win" $CAPTION_ITEM click 1
dialog=$(wait_window "Надпись") || fail "\"Надпись…\" did not open its window: $(wmctrl -l)"
sleep 0.5
xdotool windowactivate --sync "$dialog" 2>/dev/null; xdotool windowfocus --sync "$dialog" 2>/dev/null
xdotool type --delay 60 "Hello"
click_at "$dialog" $SHAPE
press_key Home
press_key Return
screenshot caption-window
press_key ctrl+Return
wait_not_active "$dialog" >/dev/null || fail "Ctrl+Enter did not close the caption window"
sleep 0.5
screenshot caption-on-stage
click_at "$win" $RECORD

# The slides are 396 x 346; the bubble stands about the middle.
save_slides 002.bmp
white() { convert "$1" -crop 120x50+138+148 +repage -fill black +opaque white -format '%[fx:int(mean*w*h+0.5)]' info:; }
before=$(white "$anim/001.bmp"); after=$(white "$anim/002.bmp")
note "white pixels about the middle: $before without the caption, $after with it"
[ "$after" -gt $((before + 1000)) ] || fail "the recorded slide does not show the bubble's fill ($before, $after)"

click_at "$buffer" $CLOSE_BUFFER
xdotool mousemove --window "$win" $MIDDLE_X $((MIDDLE_Y + $(menu_height))) click --repeat 2 --delay 80 1
again=$(wait_window "Надпись") || fail "a double click on the caption did not open it"
xdotool windowactivate --sync "$again" 2>/dev/null; xdotool windowfocus --sync "$again" 2>/dev/null
press_key Escape
wait_not_active "$again" >/dev/null || fail "Escape did not close the caption window"
echo "PASS: caption"
