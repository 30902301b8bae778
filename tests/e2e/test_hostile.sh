#!/usr/bin/env bash
# A person opens the character picker on a folder that also holds a FIFO
# behind a link, a link to /dev/zero, a folder and a sparse file of 100 GB,
# all named like GIFs. The picker opens and closes at once, the ordinary
# thumbnails appear, the giant gets a placeholder, choosing it changes
# nothing, and the close box ends the program at once.
source "$(dirname "$0")/lib.sh"
begin_test "$1"

LOAD_CHARACTER="489 186"
# Picker: "&Выбрать", "&Закрыть"; the first two cells' rectangles in pixels (w x h + left + top).
CHOOSE="458 338"; CLOSE="458 365"
CELL0="109x85+21+18"; CELL1="109x85+137+18"

# Share of a window region in the placeholder's grey.
grey_share() {
    convert "$1" -crop "$2" +repage -fill black +opaque '#3C3C3C' -fill white -opaque '#3C3C3C' \
        -format '%[fx:mean]' info:
}

open_picker() {
    click_at "$win" $LOAD_CHARACTER
    picker=$(active_window)
    [ "$picker" != "$win" ] || fail "the picker did not open"
}

start_x
start_program "$exe"
objects="$PROGRAM_DIR/objects"
mkfifo "$work/pipe"
ln -s "$work/pipe" "$objects/aaa-pipe.gif"
ln -s /dev/zero "$objects/aaa-zero.gif"
mkdir "$objects/aaa-folder.gif"
truncate -s 100G "$objects/aaa-huge.gif"
win=$(wait_window " Vellumo") || fail "the main window did not appear"

for round in 1 2; do
    open_picker
    sleep 1.5
    import -window "$picker" "$work/picker$round.png"
    cp "$work/picker$round.png" "$E2E_OUT/hostile-picker$round.png"
    # Only the giant is listed among the hostile files, first; it shows the placeholder.
    awk -v s="$(grey_share "$work/picker$round.png" "$CELL0")" 'BEGIN { exit !(s > 0.5) }' ||
        fail "the first cell does not show the placeholder of the refused file"
    awk -v s="$(grey_share "$work/picker$round.png" "$CELL1")" 'BEGIN { exit !(s < 0.05) }' ||
        fail "the second cell does not show an ordinary thumbnail"
    click_at "$picker" $CLOSE
    wait_not_active "$picker" >/dev/null || fail "the picker did not close (round $round)"
done

# Choosing the giant is refused: the picker closes and the program goes on.
open_picker
click_at "$picker" 75 60
click_at "$picker" $CHOOSE
wait_not_active "$picker" >/dev/null || fail "the picker did not close after choosing the giant"
kill -0 $APP_PID 2>/dev/null || fail "the program ended after choosing a 100 GB file"
screenshot hostile-after-choice

# The close box ends the process at once, with no worker left to wait for.
wmctrl -i -c "$win"
for _ in $(seq 30); do kill -0 $APP_PID 2>/dev/null || break; sleep 0.1; done
kill -0 $APP_PID 2>/dev/null && fail "the program was still running 3 s after its close box"
APP_PID=
echo "PASS: hostile asset files"
