#include "controls/WindowFrame.h"

#include <QEvent>
#include <QGuiApplication>
#include <QIcon>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <cstdlib>
#include <utility>

#ifdef VELLUMO_HAVE_XCB
#include <xcb/xcb.h>
#endif

namespace controls {

namespace {

#ifdef VELLUMO_HAVE_XCB
xcb_connection_t *x11Connection()
{
    auto *x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}
#endif

// The window's own handle, made now if it has none yet. QWidget::winId() would also mark the window
// native, and Qt answers that by making every child of its parent window a native window of its own:
// the main window's menu bar and client area would take their clicks through windows of their own,
// and on X11 every press there asks the server for the keyboard focus and waits for its answer.
QWindow *handleOf(QWidget *window)
{
    // QWidget::create() is protected; a pointer to it taken through a subclass may be called on any widget.
    struct Creates : QWidget {
        using QWidget::create;
    };
    if (!window->testAttribute(Qt::WA_WState_Created))
        (window->*&Creates::create)(0, true, true);
    return window->windowHandle();
}

} // namespace

void setBorderOnlyFrame(QWidget *window)
{
#ifdef VELLUMO_HAVE_XCB
    xcb_connection_t *c = x11Connection();
    if (!c)
        return;
    const QWindow *handle = handleOf(window);
    if (!handle)
        return;
    const xcb_window_t id = xcb_window_t(handle->winId());
    static const char name[] = "_MOTIF_WM_HINTS";
    xcb_intern_atom_reply_t *atom =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, false, sizeof name - 1, name), nullptr);
    if (!atom)
        return;
    // flags: functions and decorations given; functions: move and close
    // (not resize, so no maximise either); decorations: the border alone.
    enum : quint32 { Functions = 1, Decorations = 2, FuncMove = 4, FuncClose = 32, DecorBorder = 2 };
    const quint32 hints[5] = {Functions | Decorations, FuncMove | FuncClose, DecorBorder, 0, 0};
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, id, atom->atom, atom->atom, 32, 5, hints);
    xcb_flush(c);
    free(atom);
#else
    Q_UNUSED(window);
#endif
}

namespace {

constexpr Qt::WindowStates Large = Qt::WindowMaximized | Qt::WindowFullScreen;
constexpr const char *GuardProperty = "vellumoFixedSizeGuard";

// Watches one window's platform window while it is shown. A state the program
// asks for changes the window's state at once; the compositor's answer comes
// later as a window state event, once it has been acknowledged.
class FixedSizeGuard : public QObject {
public:
    explicit FixedSizeGuard(QWidget *widget) : QObject(widget), m_widget(widget) {}

    void watch(QWindow *window)
    {
        if (m_window == window)
            return;
        if (m_window) {
            disconnect(m_window, nullptr, this, nullptr);
            m_window->removeEventFilter(this);
        }
        m_window = window;
        connect(window, &QWindow::windowStateChanged, this, &FixedSizeGuard::asked);
        window->installEventFilter(this);
    }

    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::WindowStateChange)
            answered();
        else if (event->type() == QEvent::UpdateRequest && m_goBack)
            // Weston takes no request to leave a state before a frame has been drawn in it.
            QTimer::singleShot(0, this, &FixedSizeGuard::goBack);
        return false;
    }

private:
    bool fixed() const { return m_widget->minimumSize() == m_widget->maximumSize(); }

    void asked()
    {
        // The compositor's size must be acceptable before its answer arrives.
        if ((m_window->windowStates() & Large) && fixed() && !m_free) {
            m_free = true;
            m_window->setMinimumSize(QSize(0, 0));
            m_window->setMaximumSize(QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX));
        }
    }

    void answered()
    {
        if (!m_free)
            return;
        if (m_window->windowStates() & Large) {
            // Maximised at the compositor's size: back to normal once drawn at it.
            m_goBack = true;
            m_window->requestUpdate();
        } else {
            m_free = false;
            m_window->setMinimumSize(m_widget->minimumSize());
            m_window->setMaximumSize(m_widget->maximumSize());
            m_window->resize(m_widget->minimumSize());
        }
    }

    void goBack()
    {
        if (!std::exchange(m_goBack, false) || !m_window || !(m_window->windowStates() & Large))
            return;
        m_window->setWindowStates(m_window->windowStates() & ~Large);
    }

    QWidget *m_widget;
    QPointer<QWindow> m_window;
    bool m_free = false;   // the window's size may follow the compositor's
    bool m_goBack = false; // to ask for the normal state after the next frame
};

class FixedWindowsWatch : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject *object, QEvent *event) override
    {
        if (event->type() == QEvent::Show && object->isWidgetType()) {
            auto *widget = static_cast<QWidget *>(object);
            if (widget->isWindow() && widget->windowHandle()) {
                auto *guard = static_cast<FixedSizeGuard *>(widget->property(GuardProperty).value<QObject *>());
                if (!guard) {
                    guard = new FixedSizeGuard(widget);
                    widget->setProperty(GuardProperty, QVariant::fromValue<QObject *>(guard));
                }
                guard->watch(widget->windowHandle());
            }
        }
        return false;
    }
};

} // namespace

void keepFixedWindowsUnmaximised()
{
    static bool installed = false;
    if (installed || !qApp || QGuiApplication::platformName() != QLatin1String("wayland"))
        return;
    installed = true;
    qApp->installEventFilter(new FixedWindowsWatch(qApp));
}

void clearWindowIcon(QWidget *window)
{
    if (QWindow *handle = handleOf(window))
        handle->setIcon(QIcon());
}

} // namespace controls
