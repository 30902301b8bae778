#pragma once
// Opens the folder of a file in the desktop's file manager, with the file
// selected where the file manager can do that (the freedesktop.org
// FileManager1 interface that Nautilus, Dolphin, Nemo, Caja and Thunar
// offer over D-Bus); elsewhere the folder opens as any folder would.
// Returns at once: nothing waits on the file manager.

#include <QString>

namespace controls {

void showInFolder(const QString &file);

} // namespace controls
