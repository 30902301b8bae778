#!/usr/bin/env bash
# A person records six slides, gives the first a sound through the slide buffer's context menu
# ("Добавить звук…" and the open dialog, by typing the file's path), sees its note mark, hears it in the
# preview (played to a null sink of the test's own PulseAudio, whose monitor is recorded) and exports an
# MP4 through the export window whose sound lasts as long as the cartoon.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/still_stage.sh"
begin_test "$1"

command -v pulseaudio >/dev/null && command -v parec >/dev/null || { echo "SKIP: no PulseAudio here"; exit 77; }

PREVIEW="609 188"; START="264 413"; CLOSE_PREVIEW="354 413"
EXPORT="431 467"; EXPORT_START="181 160"; FORMAT="233 22"

# A sound server of the test's own, found by the program through its runtime folder.
export XDG_RUNTIME_DIR=$work/runtime HOME=$work/runtime
mkdir -m 700 "$XDG_RUNTIME_DIR"
unset PULSE_SERVER
pulseaudio --daemonize=yes --exit-idle-time=-1 -n --load="module-null-sink sink_name=vsink" \
    --load=module-native-protocol-unix >"$work/pulse.log" 2>&1 || fail "PulseAudio did not start: $(tail -3 "$work/pulse.log")"
trap 'pulseaudio --kill 2>/dev/null; stop_x; rm -rf "$work"' EXIT
ffmpeg -v error -f lavfi -i "sine=frequency=880:duration=2,volume=6" -ar 48000 -ac 2 "$work/tone.wav" || fail "no tone made"

start_with_still_stage "$exe"
for _ in 1 2 3 4 5 6; do click_at "$win" $RECORD; done
click_at "$win" $SLIDES
buffer=$(active_window)
[ "$buffer" != "$win" ] || fail "the slide buffer did not open"

# Thumbnails 1 and 3 (pictures alike, neither chosen) on a grab of the buffer; differing pixels.
thumbs_differ() {
    import -window "$buffer" "$work/buffer.png"
    convert "$work/buffer.png" -crop 75x63+21+8 +repage "$work/t1.png"
    convert "$work/buffer.png" -crop 75x63+184+8 +repage "$work/t3.png"
    compare -metric AE "$work/t1.png" "$work/t3.png" null: 2>&1 || true
}
[ "$(thumbs_differ)" = 0 ] || fail "thumbnails of alike slides differ before any sound: $(thumbs_differ)"

# The menu's last entries are the sound's; those for a slide with a sound are off: Up twice is "Добавить звук…".
click_at "$buffer" 60 40 3
press_key Up
press_key Up
press_key Return
dialog=$(wait_window "Добавить звук") || fail "\"Добавить звук…\" did not open the open dialog"
sleep 0.5
xdotool windowactivate --sync "$dialog" 2>/dev/null; xdotool windowfocus --sync "$dialog" 2>/dev/null
press_key ctrl+a
xdotool type --delay 20 "$work/tone.wav"
press_key Return
wait_not_active "$dialog" >/dev/null || fail "the open dialog did not close"
click_at "$buffer" 140 40    # slide 2 chosen, so that slide 1 wears no frame
sleep 0.5
screenshot sound-mark
[ "$(thumbs_differ)" -gt 20 ] || fail "no note mark on the slide with the sound"
click_at "$buffer" $CLOSE_BUFFER
wait_not_active "$buffer" >/dev/null || fail "the slide buffer did not close"

# The preview, heard: what reaches the null sink while it plays.
click_at "$win" $PREVIEW
view=$(active_window)
[ "$view" != "$win" ] || fail "the preview did not open"
sleep 1.5    # the sound decodes while the person reaches for "Старт"
parec -d vsink.monitor --format=s16le --rate=48000 --channels=1 >"$work/heard.raw" 2>"$work/parec.log" &
PAREC_PID=$!
sleep 0.5
click_at "$view" $START
sleep 2.5
click_at "$view" $START     # now "Стоп"
kill "$PAREC_PID"; wait "$PAREC_PID" 2>/dev/null
click_at "$view" $CLOSE_PREVIEW
wait_not_active "$view" >/dev/null || fail "the preview did not close"
loud=$(od -An -v -td2 -w2 "$work/heard.raw" | awk '$1 > 3000 || $1 < -3000 { n++ } END { print int(n * 1000 / 48000) }')
[ "$loud" -gt 800 ] || fail "the preview was not heard on the sink ($loud ms loud)"

# Export as MP4: the format chosen in the window's first box, the file named in the save dialog.
click_at "$win" $SLIDES
buffer=$(active_window)
click_at "$buffer" $EXPORT
exporter=$(wait_window " Экспорт мультфильма") || fail "the export window did not open"
click_at "$exporter" $FORMAT
press_key Down
press_key Return
click_at "$exporter" $EXPORT_START
dialog=$(wait_window "Экспорт мультфильма") || fail "no save dialog"
sleep 1
xdotool windowactivate --sync "$dialog" 2>/dev/null; xdotool windowfocus --sync "$dialog" 2>/dev/null
press_key ctrl+a
xdotool type --delay 30 "$work/cartoon.mp4"
press_key Return
for _ in $(seq 200); do [ -s "$work/cartoon.mp4" ] && break; sleep 0.1; done
sleep 1
press_key Return    # "Мультфильм сохранён в файл …"
[ -s "$work/cartoon.mp4" ] || fail "the export wrote no MP4"
audio=$(ffprobe -v error -select_streams a:0 -show_entries stream=codec_name,sample_rate,channels,duration -of csv=p=0 \
    "$work/cartoon.mp4")
IFS=, read -r codec rate channels duration <<<"$audio"
[ "$codec" = aac ] && [ "$rate" = 48000 ] && [ "$channels" = 2 ] || fail "the MP4's sound is \"$audio\""
# Six slides at 12 a second: half a second, within an AAC frame.
awk -v d="$duration" 'BEGIN { exit !(d > 0.47 && d < 0.53) }' ||
    fail "the MP4's sound lasts $duration s, not the cartoon's 0.5 s"
echo "PASS: a sound added through the menu was marked, heard in the preview and exported"
