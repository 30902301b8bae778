#pragma once
// Undo and redo keys that work whatever keyboard layout is active. Qt
// matches key sequences on the character a key types, which under a Russian
// layout is "я" for the key of Z: so the keys are also recognised by the
// key's own code on the keyboard.

#include <QObject>

#include <functional>

class QKeyEvent;
class QWidget;

namespace controls {

enum class EditKey { None, Undo, Redo };

// Ctrl+Z undoes; Ctrl+Shift+Z and Ctrl+Y redo.
EditKey editKey(const QKeyEvent *event);

// Calls `undo` or `redo` when their keys are pressed in any widget of `window`.
class UndoKeys : public QObject {
public:
    UndoKeys(QWidget *window, std::function<void()> undo, std::function<void()> redo);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QWidget *m_window;
    std::function<void()> m_undo;
    std::function<void()> m_redo;
};

} // namespace controls
