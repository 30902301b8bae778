#pragma once
// A push button whose caption wraps onto several lines when it does not fit
// on one, as the program's tall command buttons need ("Загрузить персонаж").
// "&" in the caption marks the access key, underlined and not shown.
// Enter presses the focused button, as Space does, in any window.

#include <QPushButton>

namespace controls {

class Button : public QPushButton {
    Q_OBJECT
public:
    explicit Button(const QString &caption, QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
};

} // namespace controls
