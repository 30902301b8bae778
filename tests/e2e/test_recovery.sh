#!/usr/bin/env bash
# A person records slides, the program is killed (kill -9) a moment later,
# and at the next start they answer "Да" to the question about unsaved
# slides: the slides are back, and saved they are exactly what the stage
# showed before the kill. Ctrl+Z then takes back a recovered recording, and
# a slide chosen in the buffer is deleted with the Delete key.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/still_stage.sh"
begin_test "$1"

SECOND_THUMB="142 42"

start_with_still_stage "$exe"
# start_program keeps the journal in the program's folder; starting again there finds it.
[ "$XDG_STATE_HOME" = "$PROGRAM_DIR/state" ] || fail "the journal's folder is not the program's own"

for _ in 1 2 3 4; do click_at "$win" $RECORD; done
grab_main "$work/window.png"
convert "$work/window.png" -crop 396x346+17+17 +repage "$work/stage.png"
journal=$(ls "$XDG_STATE_HOME"/vellumo/*/journal-*.vlj 2>/dev/null)
[ -n "$journal" ] || fail "no journal in $XDG_STATE_HOME/vellumo"
sleep 1.2
kill_program

# Started again from the same folder: the question comes before the main window.
start_again || fail "no question at start, or the main window came before it"
screenshot recovery-question
answer_yes
screenshot recovery-restored

# The recovered recordings are in the history: Ctrl+Z takes the newest one back, Ctrl+Y and Ctrl+Z again.
xdotool windowactivate --sync "$win" 2>/dev/null; xdotool windowfocus --sync "$win" 2>/dev/null
press_key ctrl+z
press_key ctrl+y
press_key ctrl+z

anim="$PROGRAM_DIR/Animations"
click_at "$win" $SLIDES
buffer=$(active_window)
[ "$buffer" != "$win" ] || fail "the slide buffer did not open"
screenshot recovery-buffer
click_at "$buffer" $SAVE
for _ in $(seq 100); do [ -f "$anim/003.bmp" ] && break; sleep 0.1; done
sleep 1
press_key Return    # "Все слайды сохранены"
[ "$(ls "$anim")" = "$(printf '001.bmp\n002.bmp\n003.bmp')" ] || fail "saved after recovery and an undo: $(ls "$anim" | tr '\n' ' ')"
for f in 001 002 003; do
    diff=$(compare -metric AE "$anim/$f.bmp" "$work/stage.png" null: 2>&1)
    [ "$diff" = 0 ] || fail "$f.bmp differs from the stage before the kill in $diff pixels"
done

# A click chooses the second slide, Delete removes it, and saving again numbers the two left without a gap.
click_at "$buffer" $SECOND_THUMB
screenshot recovery-chosen
press_key Delete
screenshot recovery-deleted
click_at "$buffer" $SAVE
load=$(wait_window "  Vellumo") || fail "no confirmation of deleting the old slides"
click_at "$load" $CONFIRM
for _ in $(seq 100); do [ -f "$anim/002.bmp" ] && [ ! -f "$anim/003.bmp" ] && break; sleep 0.1; done
sleep 1
press_key Return    # "Все слайды сохранены"
[ "$(ls "$anim")" = "$(printf '001.bmp\n002.bmp')" ] || fail "saved after deleting one: $(ls "$anim" | tr '\n' ' ')"

click_at "$buffer" $CLOSE_BUFFER
wait_not_active "$buffer" >/dev/null || fail "the slide buffer did not close"
wmctrl -i -c "$win"
wait_exit $APP_PID || fail "the program did not end after its close box"
APP_PID=
[ -z "$(ls "$XDG_STATE_HOME"/vellumo/*/*.vlj 2>/dev/null)" ] || fail "a journal is left after ending with nothing unsaved"
echo "PASS: slides recorded before a kill came back and were saved exactly"
