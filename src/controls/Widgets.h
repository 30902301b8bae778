#pragma once
// Small builders shared by the program's windows: each makes one control,
// names it and places it in twips, so that a window is built one control a
// line.

#include <QColor>
#include <QString>

#include "controls/Button.h"

class QWidget;

namespace controls {

// A push button in the system font.
Button *button(QWidget *parent, const char *name, const QString &caption, double left, double top, double width,
               double height, bool enabled = true);

// A disabled button that only shows as a raised panel behind other controls.
Button *panel(QWidget *parent, const char *name, const QString &caption, double left, double top, double width,
              double height);

// A plain rectangle filled with one colour; decoration for screen readers.
QWidget *square(QWidget *parent, const char *name, QColor colour, double left, double top, double width,
                double height);

// Moves a window so that it is centred on the primary screen's free area, by
// its outer frame once the window manager has framed it; call it once the
// window's size is fixed and before it is first shown.
void centreOnScreen(QWidget *window);

} // namespace controls
