#include "controls/Widgets.h"

#include <QElapsedTimer>
#include <QEvent>
#include <QGuiApplication>
#include <QPalette>
#include <QScreen>
#include <QTimer>
#include <QWidget>

#include "controls/Accessibility.h"
#include "controls/Fonts.h"
#include "controls/Twips.h"

namespace controls {

namespace {

Button *placedButton(Button *b, const char *name, double left, double top, double width, double height,
                     bool enabled)
{
    twips::place(b, name, left, top, width, height);
    b->setEnabled(enabled);
    b->setFont(fonts::msSansSerif());
    return b;
}

} // namespace

Button *button(QWidget *parent, const char *name, const QString &caption, double left, double top, double width,
               double height, bool enabled)
{
    return placedButton(new Button(caption, parent), name, left, top, width, height, enabled);
}

Button *panel(QWidget *parent, const char *name, const QString &caption, double left, double top, double width,
              double height)
{
    // Marked before anything else happens to it: Qt settles a widget's
    // accessible interface at the first change it reports.
    auto *b = new Button(caption, parent);
    setDecorative(b);
    b->setFocusPolicy(Qt::NoFocus);
    return placedButton(b, name, left, top, width, height, false);
}

QWidget *square(QWidget *parent, const char *name, QColor colour, double left, double top, double width,
                double height)
{
    auto *sq = new QWidget(parent);
    setDecorative(sq);
    twips::place(sq, name, left, top, width, height);
    QPalette pal = sq->palette();
    pal.setColor(QPalette::Window, colour);
    sq->setPalette(pal);
    sq->setAutoFillBackground(true);
    return sq;
}

namespace {

// The window manager's frame is known only after the window is mapped; until
// then the window is centred by its client area, and once the frame shows
// (within two seconds of the first showing) the frame is centred instead.
class FrameCentring : public QObject {
public:
    explicit FrameCentring(QWidget *window) : QObject(window), m_window(window)
    {
        window->installEventFilter(this);
        m_poll.setInterval(10);
        connect(&m_poll, &QTimer::timeout, this, &FrameCentring::check);
    }

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Show && !m_poll.isActive()) {
            m_clock.start();
            m_poll.start();
        }
        return false;
    }

private:
    void check()
    {
        const QRect frame = m_window->frameGeometry();
        if (frame.size() != m_window->size()) {
            if (QScreen *screen = m_window->screen())
                m_window->move(screen->availableGeometry().center() - QRect(QPoint(), frame.size()).center());
        } else if (m_clock.elapsed() < 2000) {
            return;
        }
        m_poll.stop();
        m_window->removeEventFilter(this);
        deleteLater();
    }

    QWidget *m_window;
    QTimer m_poll;
    QElapsedTimer m_clock;
};

} // namespace

void centreOnScreen(QWidget *window)
{
    QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    window->move(screen->availableGeometry().center() - window->rect().center());
    if (!window->isVisible())
        new FrameCentring(window);
}

} // namespace controls
