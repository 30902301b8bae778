#pragma once
// Positions inside the stage and the program's windows are twips, 15 to the
// pixel. A widget placed in twips keeps its exact twips rectangle (so that
// shifts of 220 or 350 twips add up without rounding drift) and is drawn at
// the nearest pixel.

#include <QRectF>
#include <QWidget>

namespace twips {

constexpr int PerPixel = 15;

int toPixels(double twips);
constexpr double fromPixels(int pixels) { return double(pixels) * PerPixel; }
QRect toPixels(const QRectF &twipsRect);

// The exact twips rectangle of a widget: the one last set with setGeometry,
// or its pixel geometry converted when it was never placed in twips.
QRectF geometry(const QWidget *w);
void setGeometry(QWidget *w, const QRectF &twipsRect);
void setGeometry(QWidget *w, double left, double top, double width, double height);
void move(QWidget *w, double left, double top);
void resize(QWidget *w, double width, double height);

// Names a control and places it, for building a window one control a line.
template <class W>
W *place(W *w, const char *name, double left, double top, double width, double height)
{
    if (name)
        w->setObjectName(QLatin1String(name));
    setGeometry(w, left, top, width, height);
    return w;
}

double left(const QWidget *w);
double top(const QWidget *w);
double width(const QWidget *w);
double height(const QWidget *w);

} // namespace twips
