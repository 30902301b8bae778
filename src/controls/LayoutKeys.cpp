#include "controls/LayoutKeys.h"

#include <QApplication>
#include <QKeyEvent>
#include <QWidget>

namespace controls {

namespace {

// The letter keys in the order A … Z: their X11 key codes (evdev, as Xorg and Wayland give them) and the
// capital letter each types under the Russian layout, which is how Qt names the key then.
constexpr quint32 ScanCodes[26] = {38, 56, 54, 40, 26, 41, 42, 43, 31, 44, 45, 46, 58,
                                   57, 32, 33, 24, 27, 39, 28, 30, 55, 25, 53, 29, 52};
constexpr char16_t Russian[26] = {u'Ф', u'И', u'С', u'В', u'У', u'А', u'П', u'Р', u'Ш', u'О', u'Л', u'Д', u'Ь',
                                  u'Т', u'Щ', u'З', u'Й', u'К', u'Ы', u'Е', u'Г', u'М', u'Ц', u'Ч', u'Н', u'Я'};

} // namespace

int latinLetter(const QKeyEvent *e)
{
    const int key = e->key();
    // A Latin letter is taken as it is, so that a French keyboard's keys keep their own letters; the key's
    // place counts only when it types something else.
    if (key >= Qt::Key_A && key <= Qt::Key_Z)
        return key;
    for (int i = 0; i < 26; ++i)
        if (key == Russian[i])
            return Qt::Key_A + i;
    if (key != 0 && key < Qt::Key_Escape && QChar::isLetter(char32_t(key)))
        return 0;   // a letter of another alphabet: its place on the keyboard is not known here
    for (int i = 0; i < 26; ++i)
        if (e->nativeScanCode() == ScanCodes[i])
            return Qt::Key_A + i;
    return 0;
}

CommandKeys::CommandKeys(QWidget *window) : QObject(window), m_window(window)
{
    // On the application, because a focused control (the step box, the object list) would otherwise
    // take a letter for a search before the window sees it.
    qApp->installEventFilter(this);
}

void CommandKeys::add(int letter, Qt::KeyboardModifiers modifiers, std::function<void()> command)
{
    m_keys.push_back({letter, modifiers, std::move(command)});
}

bool CommandKeys::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::KeyPress || !watched->isWidgetType() ||
        static_cast<QWidget *>(watched)->window() != m_window)
        return false;
    const auto *key = static_cast<QKeyEvent *>(event);
    const Qt::KeyboardModifiers mods =
        key->modifiers() & (Qt::ControlModifier | Qt::ShiftModifier | Qt::AltModifier | Qt::MetaModifier);
    const int letter = latinLetter(key);
    if (letter == 0)
        return false;
    for (const Key &k : m_keys)
        if (k.letter == letter && k.modifiers == mods) {
            // A copy: the command may replace the table (a new project) while it runs.
            const std::function<void()> command = k.command;
            command();
            return true;
        }
    return false;
}

} // namespace controls
