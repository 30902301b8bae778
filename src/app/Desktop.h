#pragma once
// What the program tells the desktop before its windows exist: which
// windowing platform it runs on and the names docks match it by.

namespace app {

// To be called before the QApplication is made.
//
// The program places its windows itself and asks the window manager for
// frames through X11, so under a Wayland session it runs through Xwayland
// when an X display exists and the user chose no platform (QT_QPA_PLATFORM,
// or -platform, which Qt puts first). Native Wayland stays possible by
// choosing it.
//
// The window class (WM_CLASS "vellumo", as the desktop entry's
// StartupWMClass says) and the Wayland app id (the desktop entry's name,
// org.vellumo.Vellumo) let docks and task bars match the windows to the
// entry, whatever the executable is called.
void prepareDesktop();

} // namespace app
