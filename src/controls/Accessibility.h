#pragma once
// What a screen reader is told about the program's controls. Controls with a
// caption are announced by it; the others are given a Russian name of their
// role. Raised panels and coloured markers are decoration and are not
// announced at all.

class QWidget;

namespace controls {

// The widget is decoration: screen readers pass over it. Call it on a new
// widget before anything else, since Qt keeps the first interface it makes.
void setDecorative(QWidget *widget);

bool isDecorative(const QWidget *widget);

} // namespace controls
