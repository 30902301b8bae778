#include "controls/Widgets.h"

#include <QGuiApplication>
#include <QPalette>
#include <QScreen>
#include <QWidget>

#include "controls/Fonts.h"
#include "controls/Twips.h"

namespace controls {

Button *button(QWidget *parent, const char *name, const QString &caption, double left, double top, double width,
               double height, bool enabled)
{
    auto *b = twips::place(new Button(caption, parent), name, left, top, width, height);
    b->setEnabled(enabled);
    b->setFont(fonts::msSansSerif());
    return b;
}

Button *panel(QWidget *parent, const char *name, const QString &caption, double left, double top, double width,
              double height)
{
    auto *b = button(parent, name, caption, left, top, width, height, false);
    b->setFocusPolicy(Qt::NoFocus);
    return b;
}

QWidget *square(QWidget *parent, const char *name, QColor colour, double left, double top, double width,
                double height)
{
    auto *sq = twips::place(new QWidget(parent), name, left, top, width, height);
    QPalette pal = sq->palette();
    pal.setColor(QPalette::Window, colour);
    sq->setPalette(pal);
    sq->setAutoFillBackground(true);
    return sq;
}

void centreOnScreen(QWidget *window)
{
    if (QScreen *screen = QGuiApplication::primaryScreen())
        window->move(screen->availableGeometry().center() - window->rect().center());
}

} // namespace controls
