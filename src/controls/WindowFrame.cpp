#include "controls/WindowFrame.h"

#include <QGuiApplication>
#include <QIcon>
#include <QWidget>
#include <QWindow>

#include <cstdlib>

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

} // namespace

void setBorderOnlyFrame(QWidget *window)
{
#ifdef VELLUMO_HAVE_XCB
    xcb_connection_t *c = x11Connection();
    if (!c)
        return;
    const xcb_window_t id = xcb_window_t(window->winId());
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

void clearWindowIcon(QWidget *window)
{
    window->winId();
    if (QWindow *handle = window->windowHandle())
        handle->setIcon(QIcon());
}

} // namespace controls
