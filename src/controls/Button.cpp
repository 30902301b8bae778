#include "controls/Button.h"

#include <QKeyEvent>
#include <QStyleOptionButton>
#include <QStylePainter>

namespace controls {

Button::Button(const QString &caption, QWidget *parent) : QPushButton(caption, parent)
{
}

void Button::keyPressEvent(QKeyEvent *event)
{
    // A plain widget's push button ignores Enter, and a dialog would press its
    // default button instead of the focused one.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        click();
        return;
    }
    QPushButton::keyPressEvent(event);
}

void Button::paintEvent(QPaintEvent *)
{
    QStylePainter p(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    const QString caption = option.text;
    option.text.clear();
    p.drawControl(QStyle::CE_PushButton, option);
    const QRect area = style()->subElementRect(QStyle::SE_PushButtonContents, &option, this).adjusted(1, 0, -1, 0);
    p.setFont(font());
    style()->drawItemText(&p, area, Qt::AlignCenter | Qt::TextWordWrap | Qt::TextShowMnemonic, palette(),
                          isEnabled(), caption, QPalette::ButtonText);
}

} // namespace controls
