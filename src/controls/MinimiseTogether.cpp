#include "controls/MinimiseTogether.h"

#include <QApplication>
#include <QEvent>
#include <QWidget>

namespace controls {

MinimiseTogether::MinimiseTogether(QWidget *main) : QObject(main), m_main(main)
{
    qApp->installEventFilter(this);
}

bool MinimiseTogether::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::WindowStateChange || !watched->isWidgetType())
        return false;
    auto *window = static_cast<QWidget *>(watched);
    if (!window->isWindow() || !window->isVisible())
        return false;
    const bool minimised = window->isMinimized();
    if (window == m_main) {
        if (minimised)
            return false;
        // Back again: so is every modal window that went down with it.
        for (QWidget *w : QApplication::topLevelWidgets()) {
            if (w != m_main && w->isVisible() && w->isModal() && w->isMinimized()) {
                w->showNormal();
                w->raise();
                w->activateWindow();
            }
        }
    } else if (window->isModal()) {
        if (minimised && !m_main->isMinimized())
            m_main->showMinimized();
        else if (!minimised && m_main->isMinimized())
            m_main->showNormal();
    }
    return false;
}

} // namespace controls
