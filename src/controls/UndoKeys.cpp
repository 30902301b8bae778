#include "controls/UndoKeys.h"

#include <QApplication>
#include <QKeyEvent>
#include <QWidget>

namespace controls {

namespace {

// X11 key codes of the keys marked Z and Y (evdev, as Xorg and Wayland give them), and the keysyms
// those keys give under a Russian layout: "я"/"Я" and "н"/"Н".
constexpr quint32 ScanZ = 52, ScanY = 29;
constexpr quint32 SymYa = 0x6d1, SymYA = 0x6f1, SymEn = 0x6ce, SymEN = 0x6ee;
// Qt names a letter key by its capital's code point: "Я" and "Н".
constexpr int KeyYA = 0x042f, KeyEN = 0x041d;

} // namespace

EditKey editKey(const QKeyEvent *e)
{
    const Qt::KeyboardModifiers mods = e->modifiers() & (Qt::ControlModifier | Qt::ShiftModifier | Qt::AltModifier |
                                                          Qt::MetaModifier);
    if (!(mods & Qt::ControlModifier) || (mods & (Qt::AltModifier | Qt::MetaModifier)))
        return EditKey::None;
    const int key = e->key();
    const quint32 scan = e->nativeScanCode();
    const quint32 sym = e->nativeVirtualKey();
    // A Latin letter is taken as it is, so that a German keyboard's Ctrl+Y stays redo; the key's
    // place on the keyboard counts only when it types something else.
    const bool latin = key >= Qt::Key_A && key <= Qt::Key_Z;
    const bool z = latin ? key == Qt::Key_Z
                         : key == KeyYA || sym == SymYa || sym == SymYA || scan == ScanZ;
    const bool y = latin ? key == Qt::Key_Y
                         : key == KeyEN || sym == SymEn || sym == SymEN || scan == ScanY;
    if (z)
        return (mods & Qt::ShiftModifier) ? EditKey::Redo : EditKey::Undo;
    if (y && !(mods & Qt::ShiftModifier))
        return EditKey::Redo;
    return EditKey::None;
}

UndoKeys::UndoKeys(QWidget *window, std::function<void()> undo, std::function<void()> redo)
    : QObject(window), m_window(window), m_undo(std::move(undo)), m_redo(std::move(redo))
{
    // On the application, because a focused control (the step box, the object list) would
    // otherwise take the key for a search before the window sees it.
    qApp->installEventFilter(this);
}

bool UndoKeys::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::KeyPress || !watched->isWidgetType())
        return false;
    const auto *widget = static_cast<QWidget *>(watched);
    if (widget->window() != m_window)
        return false;
    switch (editKey(static_cast<QKeyEvent *>(event))) {
    case EditKey::Undo:
        m_undo();
        return true;
    case EditKey::Redo:
        m_redo();
        return true;
    case EditKey::None:
        break;
    }
    return false;
}

} // namespace controls
