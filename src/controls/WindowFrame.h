#pragma once
// Window-manager hints that Qt's window flags cannot express on X11. Elsewhere
// (another platform, no window manager, the offscreen platform of the tests)
// they do nothing.

class QWidget;

namespace controls {

// A thin fixed frame without a title bar: the Motif hints ask for a border
// alone, where Qt's flags give either a title bar or no frame at all.
void setBorderOnlyFrame(QWidget *window);

// The window carries no icon of its own: Qt would otherwise hand it the icon
// of its parent window.
void clearWindowIcon(QWidget *window);

// Under Wayland, keeps every fixed-size window of the program at its size.
// Qt's own title bar there offers maximise on every window, and a compositor
// such as Weston ends the connection (and the program) when a maximised
// window keeps a size other than the one it was given. So a fixed window
// asked to maximise is let grow to the compositor's size, then asked back to
// its normal state, and fixed again once it is back. Does nothing on other
// platforms, where the window manager is told the window cannot grow.
void keepFixedWindowsUnmaximised();

} // namespace controls
