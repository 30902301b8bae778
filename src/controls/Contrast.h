#pragma once
// Fixed colours that stay readable on any desktop theme. The windows keep the
// colours they were drawn with where those read well against what lies
// behind them; on a theme where they would not (red on a light grey, blue on
// a dark window) the same hue is taken darker or lighter, just enough.

#include <QColor>
#include <QPalette>

class QWidget;

namespace controls {

// The least contrast a colour keeps against its background: the ratio asked
// of ordinary text.
constexpr double ReadableContrast = 4.5;

// Relative luminance and the contrast ratio of two colours, as accessibility
// guidelines measure them: 1 for equal colours, 21 for black on white.
double luminance(const QColor &colour);
double contrastRatio(const QColor &a, const QColor &b);

// `wanted` where it keeps `ratio` against `background`; otherwise the same hue
// and saturation, darker on a light background or lighter on a dark one, at
// the lightness nearest to `wanted` that keeps it.
QColor readableOn(const QColor &wanted, const QColor &background, double ratio = ReadableContrast);

// Gives `widget` the colour `wanted` for `role`, made readable against the
// window colour of its parent, and chooses again whenever the theme changes.
void keepReadable(QWidget *widget, QPalette::ColorRole role, const QColor &wanted);

} // namespace controls
