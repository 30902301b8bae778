#pragma once
// Command keys (Ctrl+S, Ctrl+Shift+S, …) that work whatever keyboard layout
// is active. Under a Russian layout the key marked S types "ы", and Qt
// matches key sequences on what a key types: the keys are also recognised by
// their place on the keyboard, as every desktop program's keys are.

#include <QObject>

#include <functional>
#include <vector>

class QKeyEvent;
class QWidget;

namespace controls {

// The Latin letter a letter key stands for (Qt::Key_A … Qt::Key_Z): the letter it types when it
// types one, else the one marked on its place on a Russian keyboard; 0 for any other key.
int latinLetter(const QKeyEvent *event);

// Calls a command when its key is pressed in any widget of `window`.
class CommandKeys : public QObject {
public:
    explicit CommandKeys(QWidget *window);
    // `letter` is Qt::Key_A … Qt::Key_Z; `modifiers` must be held exactly (Ctrl, or Ctrl+Shift).
    void add(int letter, Qt::KeyboardModifiers modifiers, std::function<void()> command);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    struct Key {
        int letter;
        Qt::KeyboardModifiers modifiers;
        std::function<void()> command;
    };
    QWidget *m_window;
    std::vector<Key> m_keys;
};

} // namespace controls
