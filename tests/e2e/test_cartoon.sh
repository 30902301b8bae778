#!/usr/bin/env bash
# A person makes a whole cartoon by clicking: a background, a character and a
# prop from the picker; the character selected, both "Синхро" boxes ticked,
# twenty clicks on its right arrow; "Калька" ticked, one more step and a
# slide recorded with F5; the slides saved as files, previewed, and the
# program left through its warning about unsaved slides.
source "$(dirname "$0")/lib.sh"
exe=$(readlink -f "$1")
trap stop_x EXIT
work=$(mktemp -d)
trap 'stop_x; rm -rf "$work"' EXIT

# Main window controls: centres in pixels of the client area.
LOAD_PROP="489 138"; LOAD_CHARACTER="489 186"
RECORD="489 434"; SYNCHRO_RECORD="454 369"; SYNCHRO_FRAME="298 461"
CHARACTER_RIGHT="194 449"; STEP_BOX="715 178"; FIRST_ENTRY="600 289"; ONION="716 210"
SLIDES="609 158"; PREVIEW="609 188"; EXIT="662 464"
# Slide buffer: "Сохранить", "Закрыть". Preview: "Старт", "Закрыть".
SAVE="534 467"; CLOSE_BUFFER="634 467"
START="264 413"; CLOSE_PREVIEW="354 413"

start_x
start_program "$exe"
win=$(wait_window " Vellumo") || fail "the main window did not appear"

pick_first "$LOAD_BACKGROUND"     # Город.png, 800 x 500
pick_first "$LOAD_CHARACTER"      # Кот идёт▸.gif, 8 frames
pick_first "$LOAD_PROP"           # Дерево.gif
sleep 0.5
screenshot cartoon-scene

# The stage shows the chosen background: its own pixels at the viewport's corner.
grab_main "$work/main.png"
convert "$PROGRAM_DIR/fones/Город.png" -crop 1x1+40+300 -depth 8 txt:- | tail -1 | grep -o '#[0-9A-F]\{6\}' > "$work/want"
convert "$work/main.png" -crop 1x1+$((17 + 38))+$((17 + 298)) -depth 8 txt:- | tail -1 | grep -o '#[0-9A-F]\{6\}' > "$work/got"
cmp -s "$work/want" "$work/got" || fail "the stage does not show the chosen background ($(cat "$work/got") for $(cat "$work/want"))"

# Step 100, select the character, tick both boxes, twenty clicks to the right.
click_at "$win" $STEP_BOX
xdotool key Up Return; sleep 0.5
click_at "$win" $FIRST_ENTRY
click_at "$win" $SYNCHRO_FRAME
click_at "$win" $SYNCHRO_RECORD
for _ in $(seq 20); do click_at "$win" $CHARACTER_RIGHT; done
screenshot cartoon-moved
grab_main "$E2E_OUT/cartoon-window.png"

# The cat at step k as a slide must show it: frame k mod 8 at left = 2160 + 100 k twips, over the
# background, in the 90 x 118 pixels from the slide's (left - 2, 0).
convert "$PROGRAM_DIR/objects/Кот идёт▸.gif" -coalesce "$work/cat-%d.png"
expected() {
    local k=$1 left
    left=$(px $((2160 + 100 * k)))
    # The background's picture starts 2 pixels above and left of the slide's corner.
    convert "$PROGRAM_DIR/fones/Город.png" -crop 90x118+${left}+2 +repage \
            \( "$work/cat-$((k % 8)).png" -crop 90x118+0+2 +repage \) -composite "$work/want-$k.png"
}
differing() { compare -metric AE -fuzz 2% "$1" "$2" null: 2>&1 | cut -d' ' -f1; }

# "Калька" with the record box cleared: one more step, and the last slide (the cat one step back)
# shows faintly over the stage; F5 records the stage, and the new slide holds none of it.
click_at "$win" $SYNCHRO_RECORD
click_at "$win" $ONION
click_at "$win" $CHARACTER_RIGHT
sleep 0.5
screenshot cartoon-onion
expected 21
left=$(px $((2160 + 100 * 21)))
# The stage's inner area starts 17 pixels into the window's client area.
grab_main "$work/onion.png"
convert "$work/onion.png" -crop 90x118+$((left - 2 + 17))+17 +repage "$work/onion-cat.png"
shown=$(differing "$work/want-21.png" "$work/onion-cat.png")
[ "$shown" -gt 300 ] 2>/dev/null || fail "no onion skin over the stage (only $shown pixels differ from the stage without it)"
press_key F5
grab_main "$work/recorded.png"
convert "$work/recorded.png" -crop 90x118+$((left - 2 + 17))+17 +repage "$work/recorded-cat.png"
shown=$(differing "$work/want-21.png" "$work/recorded-cat.png")
[ "$shown" -lt 20 ] 2>/dev/null || fail "after F5 the onion skin does not show the new slide ($shown pixels differ)"

# Save through the slide buffer.
click_at "$win" $SLIDES
buffer=$(active_window)
[ "$buffer" != "$win" ] || fail "the slide buffer did not open"
screenshot cartoon-buffer
click_at "$buffer" $SAVE
anim="$PROGRAM_DIR/Animations"
for _ in $(seq 100); do [ -f "$anim/021.bmp" ] && break; sleep 0.1; done
sleep 1
screenshot cartoon-saved
press_key Return    # "Все слайды сохранены"
[ "$(xdotool getactivewindow)" = "$buffer" ] || fail "the message after saving did not return to the slide buffer"
click_at "$buffer" $CLOSE_BUFFER
wait_not_active "$buffer" >/dev/null || fail "the slide buffer did not close"

count=$(ls "$anim" | wc -l)
[ "$count" = 21 ] || fail "expected 21 slide files, found $count: $(ls "$anim" | tr '\n' ' ')"
for k in $(seq 1 21); do
    f=$(printf '%s/%03d.bmp' "$anim" "$k")
    [ -f "$f" ] || fail "missing $(basename "$f")"
    info=$(identify -format '%w %h' "$f")
    [ "$info" = "396 346" ] || fail "$(basename "$f") is $info pixels"
    # BITMAPINFOHEADER: 24 bits per pixel, compression 0 (BI_RGB).
    header=$(od -An -tu2 -j28 -N2 "$f" | tr -d ' ')/$(od -An -tu4 -j30 -N4 "$f" | tr -d ' ')
    [ "$header" = "24/0" ] || fail "$(basename "$f") has bits/compression $header"
done
# Independent readers: ffmpeg reads the series as a video sequence.
frames=$(ffmpeg -v error -i "$anim/%03d.bmp" -f null - -progress - 2>&1 | awk -F= '/^frame=/{f=$2} END{print f}')
[ "$frames" = 21 ] || fail "ffmpeg read $frames frames of the series"

# Each file shows the cat at its new place on its frame, over the background, and the last one,
# recorded with "Калька" ticked, nothing of the slide before it.
for k in $(seq 1 21); do
    expected "$k"
    left=$(px $((2160 + 100 * k)))
    convert "$(printf '%s/%03d.bmp' "$anim" "$k")" -crop 90x118+$((left - 2))+0 +repage "$work/got-$k.png"
    diff=$(differing "$work/want-$k.png" "$work/got-$k.png")
    [ "$diff" -lt 20 ] 2>/dev/null || fail "slide $k does not show frame $((k % 8)) at x $left (differing pixels: $diff)"
done

# Preview: play a little, stop, close.
click_at "$win" $PREVIEW
view=$(active_window)
[ "$view" != "$win" ] || fail "the preview did not open"
click_at "$view" $START
sleep 1.5
screenshot cartoon-preview
click_at "$view" $START     # now "Стоп"
click_at "$view" $CLOSE_PREVIEW
wait_not_active "$view" >/dev/null || fail "the preview did not close"

# One slide with the record button: now the exit warns.
click_at "$win" $RECORD
click_at "$win" $EXIT
warning=$(wait_window "Внимание...") || fail "no warning about unsaved slides"
screenshot cartoon-warning
press_key Return
buffer=$(active_window)
click_at "$buffer" $CLOSE_BUFFER
wait_exit $APP_PID || fail "the program did not end after the slide buffer was closed"
APP_PID=
echo "PASS: a cartoon made by clicks"
