#include "controls/Twips.h"

#include <cmath>

namespace twips {

namespace {
const char *const kProperty = "twipsGeometry";
}

int toPixels(double twips)
{
    return int(std::lround(twips / PerPixel));
}

QRect toPixels(const QRectF &r)
{
    // Edges are rounded, not the size, so that neighbours placed in twips
    // meet without a gap.
    const int l = toPixels(r.left());
    const int t = toPixels(r.top());
    return QRect(l, t, toPixels(r.left() + r.width()) - l, toPixels(r.top() + r.height()) - t);
}

QRectF geometry(const QWidget *w)
{
    const QVariant v = w->property(kProperty);
    if (v.isValid()) {
        const QRectF r = v.toRectF();
        // Someone moved or sized the widget in pixels since: trust the pixels.
        if (toPixels(r) == w->geometry())
            return r;
    }
    const QRect g = w->geometry();
    return QRectF(fromPixels(g.x()), fromPixels(g.y()), fromPixels(g.width()), fromPixels(g.height()));
}

void setGeometry(QWidget *w, const QRectF &r)
{
    w->setProperty(kProperty, r);
    w->setGeometry(toPixels(r));
}

void setGeometry(QWidget *w, double left, double top, double width, double height)
{
    setGeometry(w, QRectF(left, top, width, height));
}

void move(QWidget *w, double left, double top)
{
    QRectF r = geometry(w);
    r.moveTo(left, top);
    setGeometry(w, r);
}

void resize(QWidget *w, double width, double height)
{
    QRectF r = geometry(w);
    r.setSize(QSizeF(width, height));
    setGeometry(w, r);
}

double left(const QWidget *w) { return geometry(w).left(); }
double top(const QWidget *w) { return geometry(w).top(); }
double width(const QWidget *w) { return geometry(w).width(); }
double height(const QWidget *w) { return geometry(w).height(); }

} // namespace twips
