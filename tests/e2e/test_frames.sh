#!/usr/bin/env bash
# What a newcomer meets first: fixed windows that cannot be maximised, the main
# window centred by its frame, the picker framed without a title bar, an object
# list that keeps its choice, Enter pressing the focused button, and a minimised
# preview that takes the program with it and comes back with it.
source "$(dirname "$0")/lib.sh"
exe=$(readlink -f "$1")
trap stop_x EXIT

# Main window controls: centres in pixels of the client area.
LOAD_CHARACTER="489 186"; RECORD="489 434"; DELETE_OBJECT="489 330"
SLIDES="609 158"; PREVIEW="609 188"
# The object list: its rows are about 13 pixels apart from y 289; below the entries it is empty.
FIRST_ENTRY="600 289"; SECOND_ENTRY="600 302"; LIST_EMPTY="600 410"; ROW_RIGHT_X=740
FIRST_CELL="75 60"; CHOOSE="458 338"; SAVE="534 467"; CLOSE_BUFFER="634 467"; CLOSE_PREVIEW="354 413"

# One pixel of a window's client area as #RRGGBB.
# In the main window, of its area under the menu bar.
below_menu() { if [ "$1" = "$win" ]; then echo $(($2 + $(menu_height))); else echo "$2"; fi; }
pixel() { import -window "$1" -crop 1x1+$2+$(below_menu "$1" "$3") -depth 8 txt:- 2>/dev/null | tail -1 | grep -o '#[0-9A-F]\{6\}'; }
# Whether a row of the object list shows text: its darkest pixel is dark.
row_has_text() {
    local m
    m=$(import -window "$1" -crop 130x9+568+$(below_menu "$1" $(($2 - 4))) -colorspace gray -format '%[fx:int(minima*100)]' info: 2>/dev/null)
    [ "${m:-100}" -lt 50 ]
}
state_of() { xprop -id "$1" WM_STATE | awk '/window state:/{print $3}'; }

start_x
start_program "$exe"
win=$(wait_window " Vellumo") || fail "the main window did not appear"
sleep 1

# Fixed size, so the window manager offers no maximising.
hints=$(xprop -id "$win" WM_NORMAL_HINTS)
min=$(echo "$hints" | awk '/minimum size/{print $5 "x" $7}')
max=$(echo "$hints" | awk '/maximum size/{print $5 "x" $7}')
full="771x$((494 + $(menu_height)))"
[ "$min" = "$full" ] && [ "$max" = "$full" ] || fail "size hints: minimum $min, maximum $max"
xprop -id "$win" _NET_WM_ALLOWED_ACTIONS | grep -q MAXIMIZE && fail "the window manager allows maximising the main window"
xprop -id "$win" _NET_WM_ALLOWED_ACTIONS | grep -q MINIMIZE || fail "the main window cannot be minimised"

# Centred by its outer frame.
read -r fl fr ft fb < <(xprop -id "$win" _NET_FRAME_EXTENTS | tr -d ',' | awk '{print $3, $4, $5, $6}')
x=$(xwininfo -id "$win" | awk '/Absolute upper-left X/{print $4}')
y=$(xwininfo -id "$win" | awk '/Absolute upper-left Y/{print $4}')
left=$((x - fl)); right=$((1280 - (x + 771 + fr))); top=$((y - ft)); bottom=$((1024 - (y + 494 + $(menu_height) + fb)))
[ $((left - right)) -ge -1 ] && [ $((left - right)) -le 1 ] && [ $((top - bottom)) -ge -1 ] && [ $((top - bottom)) -le 1 ] ||
    fail "the frame is not centred: $left left, $right right, $top above, $bottom below"

# The picker: a thin frame, no title bar, and the two characters it places.
for _ in 1 2; do
    click_at "$win" $LOAD_CHARACTER
    picker=$(active_window)
    [ "$picker" != "$win" ] || fail "the picker did not open"
    motif=$(xprop -id "$picker" _MOTIF_WM_HINTS | sed 's/.*= //')
    [ "$(echo "$motif" | cut -d, -f3 | tr -d ' ')" = "0x2" ] || fail "the picker asks for decorations $motif, not a border alone"
    extents=$(xprop -id "$picker" _NET_FRAME_EXTENTS | sed 's/.*= //')
    [ "$extents" = "1, 1, 1, 1" ] || fail "the picker's frame is $extents"
    screenshot frames-picker
    click_at "$picker" $FIRST_CELL
    click_at "$picker" $CHOOSE
    wait_not_active "$picker" >/dev/null || fail "the picker did not close after choosing"
done

# The list keeps its choice through a click below the entries and a Ctrl+click.
white=$(pixel "$win" $ROW_RIGHT_X 302)
[ "$(pixel "$win" $ROW_RIGHT_X 289)" = "$white" ] || fail "an entry is chosen before any click"
click_at "$win" $FIRST_ENTRY
chosen=$(pixel "$win" $ROW_RIGHT_X 289)
[ "$chosen" != "$white" ] || fail "a click on the first entry did not choose it"
click_at "$win" $LIST_EMPTY
[ "$(pixel "$win" $ROW_RIGHT_X 289)" = "$chosen" ] || fail "a click below the entries dropped the choice"
xdotool keydown ctrl; click_at "$win" $FIRST_ENTRY; xdotool keyup ctrl
[ "$(pixel "$win" $ROW_RIGHT_X 289)" = "$chosen" ] || fail "Ctrl+click dropped the choice"
screenshot frames-list
# So "Удалить объект" still removes it: one entry is left, and it is not chosen.
click_at "$win" $DELETE_OBJECT
[ "$(pixel "$win" $ROW_RIGHT_X 289)" = "$white" ] || fail "after the deletion an entry is still chosen"
row_has_text "$win" 289 || fail "the remaining entry is gone"
row_has_text "$win" 302 && fail "two entries are still listed"

# Enter presses the focused button: one click and two Enters on "ЗАПИСЬ" make three slides.
click_at "$win" $RECORD
press_key Return
press_key Return
save_slides 003.bmp
count=$(ls "$anim" | wc -l)
[ "$count" = 3 ] || fail "Enter on the record button: $count slides saved, not 3"
click_at "$buffer" $CLOSE_BUFFER
wait_not_active "$buffer" >/dev/null || fail "the slide buffer did not close"

# The preview carries no icon; minimised, it takes the program with it.
click_at "$win" $PREVIEW
view=$(active_window)
[ "$view" != "$win" ] || fail "the preview did not open"
xprop -id "$view" _NET_WM_ICON | grep -q "not found" || fail "the preview carries an icon"
xprop -id "$view" WM_TRANSIENT_FOR | grep -q "window id" || fail "the preview does not stand over the main window"
xdotool windowminimize "$view"; sleep 1
[ "$(state_of "$view")" = Iconic ] || fail "the preview was not minimised"
[ "$(state_of "$win")" = Iconic ] || fail "the main window stayed on the screen under a minimised preview"
xdotool windowactivate "$win"; sleep 1
[ "$(state_of "$win")" = Normal ] && [ "$(state_of "$view")" = Normal ] ||
    fail "the program came back as main $(state_of "$win"), preview $(state_of "$view")"
[ "$(xdotool getactivewindow)" = "$view" ] || fail "the preview is not in front after coming back"
screenshot frames-preview-back
click_at "$view" $CLOSE_PREVIEW
wait_not_active "$view" >/dev/null || fail "the preview did not close"

wmctrl -i -c "$win"
wait_exit $APP_PID || fail "the program did not end after its close box"
APP_PID=
echo "PASS: frames, the object list, Enter and minimising"
