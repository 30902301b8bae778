#!/usr/bin/env bash
# A person records slides with "ЗАПИСЬ", saves them through the slide buffer,
# records another and saves again over the old files, confirming their
# deletion; each file holds exactly what the stage showed. Then exports the
# slides as a GIF through the buffer's "Экспорт…", the export window and the
# save dialog, by clicking and typing, and once more from the command line
# without a display.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/still_stage.sh"
begin_test "$1"

EXPORT="431 467"; EXPORT_START="181 160"

start_with_still_stage "$exe"

for _ in 1 2 3; do click_at "$win" $RECORD; done
# The stage's inner area starts 17 pixels into the window's client area.
grab_main "$work/window.png"
convert "$work/window.png" -crop 396x346+17+17 +repage "$work/stage.png"

save() { # saves through the slide buffer; $1 = yes when old files are to be confirmed
    click_at "$win" $SLIDES
    local buffer
    buffer=$(active_window)
    [ "$buffer" != "$win" ] || fail "the slide buffer did not open"
    click_at "$buffer" $SAVE
    if [ "$1" = yes ]; then
        local load
        load=$(wait_window "  Vellumo") || fail "no confirmation of deleting the old slides"
        screenshot slides-confirm
        click_at "$load" $CONFIRM
    fi
    for _ in $(seq 100); do [ -f "$anim/$2" ] && break; sleep 0.1; done
    sleep 1
    press_key Return    # "Все слайды сохранены"
    click_at "$buffer" $CLOSE_BUFFER
    wait_not_active "$buffer" >/dev/null || fail "the slide buffer did not close"
}

anim="$PROGRAM_DIR/Animations"
save no 003.bmp
[ "$(ls "$anim")" = "$(printf '001.bmp\n002.bmp\n003.bmp')" ] || fail "after the first save: $(ls "$anim" | tr '\n' ' ')"
# A slide is the stage exactly as it showed, pixel for pixel.
diff=$(compare -metric AE "$anim/001.bmp" "$work/stage.png" null: 2>&1)
[ "$diff" = 0 ] || fail "001.bmp differs from the stage in $diff pixels"

touch "$anim/notes.txt"
click_at "$win" $RECORD
save yes 004.bmp
[ "$(ls "$anim")" = "$(printf '001.bmp\n002.bmp\n003.bmp\n004.bmp')" ] ||
    fail "after saving over old files: $(ls "$anim" | tr '\n' ' ')"

# ---- export through the windows ----
click_at "$win" $SLIDES
buffer=$(active_window)
[ "$buffer" != "$win" ] || fail "the slide buffer did not open"
click_at "$buffer" $EXPORT
exporter=$(wait_window " Экспорт мультфильма") || fail "the export window did not open"
screenshot export-window
click_at "$exporter" $EXPORT_START
dialog=$(wait_window "Экспорт мультфильма") || fail "no save dialog"
sleep 1
screenshot export-dialog
xdotool windowactivate --sync "$dialog" 2>/dev/null; xdotool windowfocus --sync "$dialog" 2>/dev/null
# The name field has the focus and offers "Мультфильм.gif"; a person types over it.
press_key ctrl+a
xdotool type --delay 30 "$work/cartoon.gif"
sleep 0.3
press_key Return
for _ in $(seq 100); do [ -f "$work/cartoon.gif" ] && break; sleep 0.1; done
[ -f "$work/cartoon.gif" ] || fail "the export wrote no file"
sleep 1
screenshot export-done
press_key Return    # "Мультфильм сохранён в файл …"
[ "$(identify "$work/cartoon.gif" | wc -l)" = 4 ] || fail "the GIF has $(identify "$work/cartoon.gif" | wc -l) frames, not 4"
frames=$(ffprobe -v error -count_frames -show_entries stream=nb_read_frames -of csv=p=0 "$work/cartoon.gif")
[ "$frames" = 4 ] || fail "ffmpeg reads $frames frames from the GIF, not 4"
[ "$(identify -format '%T ' "$work/cartoon.gif")" = "8 8 9 8 " ] || fail "GIF delays: $(identify -format '%T ' "$work/cartoon.gif")"
convert "$work/cartoon.gif" -coalesce "$work/frame-%d.png"
# Exact colours when the slides have at most 256, close ones otherwise.
colours=$(identify -format %k "$anim/001.bmp")
for i in 1 2 3 4; do
    if [ "$colours" -le 256 ]; then
        diff=$(compare -metric AE "$work/frame-$((i - 1)).png" "$anim/00$i.bmp" null: 2>&1)
        [ "$diff" = 0 ] || fail "GIF frame $i differs from slide $i in $diff pixels"
    else
        psnr=$(compare -metric PSNR "$work/frame-$((i - 1)).png" "$anim/00$i.bmp" null: 2>&1 | cut -d' ' -f1)
        awk -v p="$psnr" 'BEGIN { exit !(p == "inf" || p >= 30) }' ||
            fail "GIF frame $i is too far from slide $i: PSNR $psnr dB ($colours colours)"
    fi
done
note "GIF frames match the slides ($colours colours in slide 1)"
click_at "$buffer" $CLOSE_BUFFER
wait_not_active "$buffer" >/dev/null || fail "the slide buffer did not close"

# ---- the same slides from the command line, with no display ----
env -u DISPLAY "$PROGRAM_DIR/vellumo" --export "$work/cartoon.mp4" --fps 4 "$anim" >"$work/cli.log" 2>&1 ||
    fail "the command-line export failed: $(cat "$work/cli.log")"
frames=$(ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames -of csv=p=0 "$work/cartoon.mp4")
# Below 10 frames a second each slide is repeated to a rate every player handles: 4 slides at 4 fps, 12 frames at 12.
[ "$frames" = 12 ] || fail "the MP4 has $frames frames, not 12"
# A folder without the right to write: an ordinary user exports into one of root's.
shared=$(mktemp -d)
chmod 755 "$shared"
cp "$PROGRAM_DIR/vellumo" "$anim"/*.bmp "$shared/"
chmod 644 "$shared"/*.bmp
if setpriv --reuid=65534 --regid=65534 --clear-groups "$shared/vellumo" --export "$shared/x.gif" "$shared" \
        >"$work/denied.log" 2>&1; then
    rm -rf "$shared"
    fail "an export into a folder without the right to write succeeded"
fi
grep -q "Отказано в доступе" "$work/denied.log" || { rm -rf "$shared"; fail "no reason given: $(cat "$work/denied.log")"; }
[ -z "$(ls -A "$shared" | grep -v -e '\.bmp$' -e '^vellumo$')" ] || { rm -rf "$shared"; fail "a denied export left files"; }
rm -rf "$shared"

wmctrl -i -c "$win"
wait_exit $APP_PID || fail "the program did not end after its close box"
APP_PID=
echo "PASS: slides recorded, saved and exported"
