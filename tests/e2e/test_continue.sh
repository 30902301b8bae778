#!/usr/bin/env bash
# A person continues yesterday's cartoon: the slide folder holds three saved
# slides; "Добавить…" in the slide buffer, the folder typed into the folder
# dialog, one slide recorded, and the save (confirming the old files' deletion)
# leaves yesterday's three followed by today's, numbered without gaps.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/still_stage.sh"
begin_test "$1"

start_with_still_stage "$exe"
anim="$PROGRAM_DIR/Animations"
mkdir -p "$anim"
for c in red green blue; do
    convert -size 396x346 "xc:$c" -type TrueColor "BMP3:$work/$c.bmp"
done
cp "$work/red.bmp" "$anim/001.bmp"; cp "$work/green.bmp" "$anim/002.bmp"; cp "$work/blue.bmp" "$anim/003.bmp"

click_at "$win" $SLIDES
buffer=$(active_window)
[ "$buffer" != "$win" ] || fail "the slide buffer did not open"
click_twips "$buffer" 4215 6795 1455 420        # "Добавить…"
dialog=$(wait_not_active "$buffer") || fail "no folder dialog"
sleep 0.5
screenshot continue-dialog
# Qt's own folder dialog: the name field has the focus; a folder typed there and Return choose it.
xdotool type --delay 20 "$anim"
press_key Return
wait_not_active "$dialog" >/dev/null || fail "the folder dialog did not close"
for _ in $(seq 50); do [ "$(xdotool getactivewindow)" = "$buffer" ] && break; sleep 0.1; done
screenshot continue-added
click_at "$buffer" 634 467                        # "Закрыть"
wait_not_active "$buffer" >/dev/null || fail "the slide buffer did not close"

click_at "$win" $RECORD
click_at "$win" $SLIDES
buffer=$(active_window)
click_at "$buffer" $SAVE
load=$(wait_window "  Vellumo") || fail "no confirmation of deleting the old slides"
click_at "$load" $CONFIRM
for _ in $(seq 100); do [ -f "$anim/004.bmp" ] && break; sleep 0.1; done
sleep 1
press_key Return    # "Все слайды сохранены"
[ "$(ls "$anim")" = "$(printf '001.bmp\n002.bmp\n003.bmp\n004.bmp')" ] ||
    fail "after continuing: $(ls "$anim" | tr '\n' ' ')"
k=1
for c in red green blue; do
    diff=$(compare -metric AE "$anim/00$k.bmp" "$work/$c.bmp" null: 2>&1)
    [ "$diff" = 0 ] || fail "00$k.bmp differs from yesterday's slide in $diff pixels"
    k=$((k + 1))
done
note "yesterday's three slides and today's one saved in order"
