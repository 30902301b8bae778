#!/usr/bin/env bash
# A person lays a background and a character, records a slide, saves the project with Ctrl+S through the
# save dialog, ends the program, starts it again with the project file as a file manager would, and
# records one more slide: it equals the one recorded before saving.
source "$(dirname "$0")/lib.sh"
begin_test "$1"

# The main window's "Загрузить персонаж", the right arrow of "Управление объектом", "Завершение работы".
LOAD_CHARACTER="489 186"; CHARACTER_RIGHT="190 449"; EXIT="662 464"

start_x
start_program "$exe"
win=$(wait_window " Vellumo") || fail "the main window did not appear"
sleep 1
pick_first "$LOAD_BACKGROUND"
pick_first "$LOAD_CHARACTER"
# The character steps right twice, so that its place is its own.
click_at "$win" $CHARACTER_RIGHT
click_at "$win" $CHARACTER_RIGHT
click_at "$win" $RECORD

xdotool windowactivate --sync "$win" 2>/dev/null; xdotool windowfocus --sync "$win" 2>/dev/null
press_key ctrl+s
dialog=$(wait_window "Сохранить проект") || fail "Ctrl+S did not open the save dialog"
screenshot project-save-dialog
# The dialog offers "Мультик.vellumo" beside the portable program; Enter takes it.
xdotool windowactivate --sync "$dialog" 2>/dev/null; xdotool windowfocus --sync "$dialog" 2>/dev/null
press_key Return
project="$PROGRAM_DIR/Мультик.vellumo"
for _ in $(seq 100); do [ -f "$project" ] && break; sleep 0.1; done
[ -f "$project" ] || fail "the project was not written to $project"
wait_window "Мультик — Vellumo" >/dev/null || fail "the title does not name the saved project: $(wmctrl -l)"

# Saved as a project, the slides need no warning on the way out.
click_at "$win" $EXIT
wait_exit "$APP_PID" || fail "the program did not end after a saved project"
APP_PID=

(cd / && exec "$PROGRAM_DIR/vellumo" "$project" >"$E2E_OUT/program-project.log" 2>&1) &
APP_PID=$!
win=$(wait_window "Мультик — Vellumo") || fail "the project given on the command line did not open: $(wmctrl -l)"
sleep 1
screenshot project-opened
click_at "$win" $RECORD
wait_window "Мультик* — Vellumo" >/dev/null || fail "a recorded slide did not mark the project changed"
save_slides 002.bmp
diff=$(compare -metric AE "$anim/001.bmp" "$anim/002.bmp" null: 2>&1)
[ "$diff" = 0 ] || fail "the slide recorded after opening differs from the one before saving in $diff pixels"
echo "PASS: project"
