#pragma once
// A push button whose caption wraps onto several lines when it does not fit
// on one, as the program's tall command buttons need ("Загрузить персонаж").
// "&" in the caption marks the access key, underlined and not shown.

#include <QPushButton>

namespace controls {

class Button : public QPushButton {
    Q_OBJECT
public:
    explicit Button(const QString &caption, QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;
};

} // namespace controls
