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

} // namespace controls
