# Shared steps of the tests that drive the built program in a real X window:
# a private X server with a window manager, the program started from a
# temporary program folder, windows found by their titles, clicks at the
# places a person would click.
set -u

E2E_OUT=${E2E_OUT:-$(pwd)/e2e-screens}
mkdir -p "$E2E_OUT"

# ImageMagick itself, whatever stands in front of it on the PATH.
convert() { /usr/bin/convert "$@"; }

fail() { echo "FAIL: $*" >&2; exit 1; }
note() { echo "-- $*"; }

# A test's start: the program under test `exe` from its first argument, a
# scratch folder `work`, and the X server and the folder gone at the end.
begin_test() {
    exe=$(readlink -f "$1")
    work=$(mktemp -d)
    trap 'stop_x; rm -rf "$work"' EXIT
}

# Buttons many tests press, in pixels of their windows: the main window's
# "ЗАПИСЬ" and "Слайды", the slide buffer's "Сохранить" and "Закрыть", and
# "&Ok" in the window that asks before old slides are deleted.
RECORD="489 434"; SLIDES="609 158"
SAVE="534 467"; CLOSE_BUFFER="634 467"; CONFIRM="312 87"
# The main window's "Загрузить фон"; the picker's first cell and "&Выбрать".
LOAD_BACKGROUND="489 51"; FIRST_CELL="75 60"; CHOOSE="458 338"

# Saves the slides through the slide buffer into a folder without old slides, waits for the file $1
# ("003.bmp") and answers "Все слайды сохранены"; sets `buffer` (left open) and `anim`.
save_slides() {
    click_at "$win" $SLIDES
    buffer=$(active_window)
    [ "$buffer" != "$win" ] || fail "the slide buffer did not open"
    click_at "$buffer" $SAVE
    anim="$PROGRAM_DIR/Animations"
    for _ in $(seq 300); do [ -f "$anim/$1" ] && break; sleep 0.1; done
    sleep 1
    press_key Return    # "Все слайды сохранены"
}

# Opens the picker with a main-window button ($1) and chooses its first cell.
pick_first() {
    click_at "$win" $1
    local picker
    picker=$(active_window)
    [ "$picker" != "$win" ] || fail "the picker did not open"
    sleep 1
    click_at "$picker" $FIRST_CELL
    click_at "$picker" $CHOOSE
    wait_not_active "$picker" >/dev/null || fail "the picker did not close after choosing"
}

# The server picks a free display itself and writes its number once it
# answers (-displayfd), so no probing can meet a server that is going away.
# The window manager reads OPENBOX_CONFIG when it is set, its own defaults otherwise.
start_x() {
    local fifo dir n=""
    dir=$(mktemp -d)
    fifo=$dir/displayfd
    mkfifo "$fifo"
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
    XVFB_PID=$!
    # Read the number with a bound, so a server that dies early cannot hang the test.
    read -r -t 30 n <"$fifo" || true
    rm -rf "$dir"
    [ -n "$n" ] || fail "no X server could be started"
    export DISPLAY=:$n
    xdpyinfo >/dev/null 2>&1 || fail "the X server on :$n does not answer"
    # A loaded machine can take seconds to bring the window manager up; windows
    # mapped before it manages them get no frame and no place in its list. One
    # that has not answered in ten seconds is started again, once.
    local try
    for try in 1 2; do
        openbox --sm-disable ${OPENBOX_CONFIG:+--config-file "$OPENBOX_CONFIG"} >>"$E2E_OUT/openbox.log" 2>&1 &
        WM_PID=$!
        for _ in $(seq 100); do wmctrl -m >/dev/null 2>&1 && break 2; sleep 0.1; done
        echo "-- the window manager did not answer (try $try); its log: $(tail -3 "$E2E_OUT/openbox.log")" >&2
        kill "$WM_PID" 2>/dev/null
        wait "$WM_PID" 2>/dev/null
    done
    wmctrl -m >/dev/null 2>&1 || fail "the window manager did not start"
}

# Ends the program, the window manager and the server, and waits until each
# is gone, so that the next test starts on a quiet machine.
stop_x() {
    local pid
    for pid in ${APP_PID:-} ${WM_PID:-} ${XVFB_PID:-}; do
        kill "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
    done
    [ -n "${PROGRAM_DIR:-}" ] && rm -rf "$PROGRAM_DIR"
    true
}

# Copies the built program and its asset library into a fresh folder and starts it there.
start_program() {
    local exe=$1
    PROGRAM_DIR=$(mktemp -d)
    # The recovery journal stays with this run, never in the user's own state folder.
    export XDG_STATE_HOME=$PROGRAM_DIR/state
    # Old slides that a save moves to the trash go to this run's own, not the user's.
    export XDG_DATA_HOME=$PROGRAM_DIR/data
    cp "$exe" "$PROGRAM_DIR/vellumo"
    local d
    for d in objects articles fones; do
        [ -d "$(dirname "$exe")/$d" ] && cp -r "$(dirname "$exe")/$d" "$PROGRAM_DIR/"
    done
    (cd / && exec "$PROGRAM_DIR/vellumo" >"$E2E_OUT/program.log" 2>&1) &
    APP_PID=$!
}

# Waits for a window whose title is exactly $1 (leading spaces count); prints its id.
# Generous, since a program starting on a loaded machine can take seconds.
wait_window() {
    local title=$1 id
    for _ in $(seq 300); do
        # wmctrl -l: id, desktop, host, then the title after one space.
        id=$(wmctrl -l | awk -v t="$title" '{ line = $0; sub(/^[^ ]+ +[^ ]+ +[^ ]+ /, "", line); if (line == t) { print $1; exit } }')
        # Decimal, as xdotool prints window ids.
        [ -n "$id" ] && { printf '%d\n' "$id"; return 0; }
        sleep 0.1
    done
    return 1
}

client_size() { xwininfo -id "$1" | awk '/Width:/{w=$2} /Height:/{h=$2} END{print w "x" h}'; }

# The main window's controls stand under its menu bar; the tests' coordinates in it are those of the
# area under the menu, which is MAIN_HEIGHT pixels high, as the window was before it had a menu.
MAIN_HEIGHT=494
menu_height() { echo $(( $(xwininfo -id "$win" | awk '/Height:/{print $2}') - MAIN_HEIGHT )); }
# A picture of the main window's area under its menu bar, into the file $1.
grab_main() { import -window "$win" "$1" && convert "$1" -crop 771x${MAIN_HEIGHT}+0+$(menu_height) +repage "$1"; }

# Clicks at pixel (x, y) of a window's client area (of the main window's area under its menu).
click_at() {
    local y=$3
    [ "$1" = "${win:-}" ] && y=$((y + $(menu_height)))
    xdotool mousemove --window "$1" "$2" "$y" click "${4:-1}"
    sleep 0.3
}

# Clicks the middle of a control given by its twips rectangle relative to the
# window's client area (left, top, width, height).
click_twips() {
    local id=$1 l=$2 t=$3 w=$4 h=$5
    click_at "$id" $(( (l + w / 2) / 15 )) $(( (t + h / 2) / 15 ))
}

screenshot() {
    import -window root "$E2E_OUT/$1.png" && note "screenshot $E2E_OUT/$1.png"
}

wait_exit() {
    local pid=$1
    for _ in $(seq 100); do
        kill -0 "$pid" 2>/dev/null || return 0
        sleep 0.1
    done
    return 1
}

# The window that has the focus, e.g. a modal window just opened.
active_window() {
    sleep 0.8
    xdotool getactivewindow
}

# Waits until the window that has the focus is no longer $1; prints the one that has it.
wait_not_active() {
    local now
    for _ in $(seq 100); do
        now=$(xdotool getactivewindow 2>/dev/null)
        [ -n "$now" ] && [ "$now" != "$1" ] && { echo "$now"; return 0; }
        sleep 0.1
    done
    return 1
}

# Presses a key in the window that has the focus.
press_key() {
    xdotool key "$1"
    sleep 0.4
}

# Twips rounded to the nearest pixel, as the program draws them.
px() { echo $(( ($1 * 2 + 15) / 30 )); }

# Ends the program as a crash would.
kill_program() { kill -9 "$APP_PID"; wait "$APP_PID" 2>/dev/null; APP_PID=; }

# Starts the program again in its folder and waits for the question about
# unsaved slides, which comes before the main window; sets `question` to it.
# Fails when the main window comes instead.
start_again() {
    (cd / && exec "$PROGRAM_DIR/vellumo" >"$E2E_OUT/program-again.log" 2>&1) &
    APP_PID=$!
    question=""
    # A large journal is read back first, under a progress window of its own.
    local id
    for _ in $(seq 300); do
        for id in $(xdotool search --onlyvisible --pid "$APP_PID" 2>/dev/null); do
            [ "$(xdotool getwindowname "$id" 2>/dev/null)" = " " ] && question=$id
        done
        [ -n "$question" ] && break
        wmctrl -l | grep -q " Vellumo$" && break
        sleep 0.1
    done
    sleep 0.8
    # A message box is titled " "; the main window " Vellumo".
    [ -n "$question" ] && ! wmctrl -l | grep -q " Vellumo$"
}

# Answers "Да" (the default button) to the question; sets `win` to the main window then shown.
answer_yes() {
    xdotool windowactivate --sync "$question" 2>/dev/null; xdotool windowfocus --sync "$question" 2>/dev/null
    press_key Return
    win=$(wait_window " Vellumo") || fail "the main window did not appear after the answer"
}
