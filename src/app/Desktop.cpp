#include "app/Desktop.h"

#include <QGuiApplication>

namespace app {

void prepareDesktop()
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && !qEnvironmentVariableIsEmpty("DISPLAY")) {
        // Wayland after X11, should the X display refuse the connection.
        qputenv("QT_QPA_PLATFORM", qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ? "xcb" : "xcb;wayland");
    }
    QCoreApplication::setApplicationName(QStringLiteral("vellumo"));
    QGuiApplication::setDesktopFileName(QStringLiteral("org.vellumo.Vellumo"));
}

} // namespace app
