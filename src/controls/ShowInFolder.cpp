#include "controls/ShowInFolder.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDesktopServices>
#include <QFileInfo>
#include <QUrl>

namespace controls {

namespace {

const QString FileManager = QStringLiteral("org.freedesktop.FileManager1");

bool fileManagerOnBus(const QDBusConnection &bus)
{
    const QDBusConnectionInterface *names = bus.interface();
    if (!names)
        return false;
    // Registered now, or started by the bus on the first call.
    return names->isServiceRegistered(FileManager).value() || names->activatableServiceNames().value().contains(FileManager);
}

} // namespace

void showInFolder(const QString &file)
{
    const QFileInfo info(file);
    const QUrl folder = QUrl::fromLocalFile(info.absolutePath());
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !fileManagerOnBus(bus)) {
        QDesktopServices::openUrl(folder);
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(FileManager, QStringLiteral("/org/freedesktop/FileManager1"),
                                                       FileManager, QStringLiteral("ShowItems"));
    call << QStringList{QUrl::fromLocalFile(info.absoluteFilePath()).toString()} << QString();
    // A file manager that answers with an error still leaves the folder to open.
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, 5000));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, [folder](QDBusPendingCallWatcher *w) {
        if (w->isError())
            QDesktopServices::openUrl(folder);
        w->deleteLater();
    });
}

} // namespace controls
