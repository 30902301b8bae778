# Starts the program with a stage that holds still: opening the picker
# retires the stage's animation, so every slide recorded afterwards is the
# same picture. Sets `win` to the main window.
start_with_still_stage() {
    local picker
    start_x
    start_program "$1"
    win=$(wait_window " Vellumo") || fail "the main window did not appear"
    click_at "$win" 489 51         # "Загрузить фон"
    picker=$(active_window)
    [ "$picker" != "$win" ] || fail "the picker did not open"
    click_at "$picker" 458 365     # the picker's "Закрыть"
    wait_not_active "$picker" >/dev/null || fail "the picker did not close"
}
