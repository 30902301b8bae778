// The still things of the sample library: scenery and props a child puts on
// the stage next to the characters. Sizes are chosen against the characters
// (the cat is about 85 px tall): a house is clearly bigger, a ball small.

#include "characters.h"
#include "paint.h"

#include <cmath>

namespace assetgen {

namespace {

constexpr double kPi = 3.14159265358979323846;

QPainterPath blob(const QList<QRectF> &circles)
{
    QPainterPath path;
    for (const QRectF &r : circles) {
        QPainterPath c;
        c.addEllipse(r);
        path = path.united(c);
    }
    return path.simplified();
}

QRectF circle(double x, double y, double r) { return QRectF(x - r, y - r, 2 * r, 2 * r); }

// Each maker paints onto a transparent canvas of its own size.
struct Canvas {
    QImage img;
    QPainter p;
    Canvas(int w, int h) : img(blankImage(w, h)), p(&img) { p.setRenderHint(QPainter::Antialiasing); }
    QImage done() { p.end(); return img; }
};

QImage tree()
{
    Canvas c(104, 140);
    QPainter &p = c.p;
    // Trunk with two short branches, widening at the roots.
    QPainterPath trunk;
    trunk.moveTo(42, 136);
    trunk.quadTo(47, 120, 46, 80);
    trunk.lineTo(58, 80);
    trunk.quadTo(57, 120, 64, 136);
    trunk.closeSubpath();
    shape(p, trunk, pal::wood);
    inkPen(p, 1.5, pal::woodDark);
    p.drawLine(QPointF(51, 128), QPointF(52, 110));
    p.drawLine(QPointF(54, 104), QPointF(54, 94));
    // Crown: overlapping round leaf clusters.
    const QPainterPath crown = blob({circle(52, 50, 30), circle(28, 62, 20), circle(76, 62, 20),
                                     circle(34, 36, 20), circle(70, 36, 20), circle(52, 22, 19),
                                     circle(52, 74, 20)});
    shape(p, crown, pal::leaf, 2.2);
    // Soft darker lower half of the crown gives it volume without clutter.
    p.save();
    p.setClipPath(crown);
    p.setPen(Qt::NoPen);
    p.setBrush(pal::leafDark);
    p.drawEllipse(circle(52, 110, 42));
    p.restore();
    shape(p, crown, Qt::transparent, 2.2);
    // A few leaf curls and red apples.
    inkPen(p, 1.6, pal::leafDark);
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(28, 28, 14, 10), 200 * 16, 140 * 16);
    p.drawArc(QRectF(62, 22, 14, 10), 200 * 16, 140 * 16);
    p.drawArc(QRectF(46, 44, 14, 10), 200 * 16, 140 * 16);
    for (QPointF a : {QPointF(34, 56), QPointF(70, 50), QPointF(56, 30), QPointF(78, 70)})
        ellipse(p, a, 4.2, 4.2, pal::red, 1.5);
    return c.done();
}

QImage house()
{
    Canvas c(144, 136);
    QPainter &p = c.p;
    // Chimney behind the roof.
    roundRect(p, QRectF(96, 14, 14, 30), 1.5, pal::red);
    roundRect(p, QRectF(93, 10, 20, 7), 2, mix(pal::red, pal::ink, 0.2));
    // Walls.
    roundRect(p, QRectF(18, 62, 108, 70), 2, pal::cream);
    // Roof with an overhang.
    QPainterPath roof;
    roof.moveTo(6, 66);
    roof.lineTo(72, 14);
    roof.lineTo(138, 66);
    roof.closeSubpath();
    shape(p, roof, pal::red, 2.2);
    inkPen(p, 1.4, mix(pal::red, pal::ink, 0.35));
    for (int i = 1; i < 4; ++i) {
        const double y = 14 + i * 13;
        const double half = (y - 14) * 66.0 / 52.0;
        p.drawLine(QPointF(72 - half + 6, y), QPointF(72 + half - 6, y));
    }
    // Round attic window.
    ellipse(p, QPointF(72, 44), 8, 8, QColor(170, 220, 250), 2);
    inkPen(p, 1.5);
    p.drawLine(QPointF(64, 44), QPointF(80, 44));
    p.drawLine(QPointF(72, 36), QPointF(72, 52));
    // Door with a knob and a step.
    roundRect(p, QRectF(60, 88, 26, 44), 10, pal::wood);
    ellipse(p, QPointF(80, 112), 2.2, 2.2, pal::yellow, 1.2);
    roundRect(p, QRectF(56, 128, 34, 6), 2, pal::stone, 1.8);
    // Windows with sky reflections and flower boxes.
    for (double x : {28.0, 98.0}) {
        roundRect(p, QRectF(x, 80, 22, 22), 2, QColor(170, 220, 250));
        inkPen(p, 1.8);
        p.drawLine(QPointF(x + 11, 80), QPointF(x + 11, 102));
        p.drawLine(QPointF(x, 91), QPointF(x + 22, 91));
        roundRect(p, QRectF(x - 2, 102, 26, 6), 2, pal::wood, 1.8);
        for (int k = 0; k < 3; ++k)
            ellipse(p, QPointF(x + 4 + k * 7, 101), 2.6, 2.6, k == 1 ? pal::yellow : pal::pink, 1.2);
    }
    return c.done();
}

QImage ball()
{
    Canvas c(36, 36);
    QPainter &p = c.p;
    const QPointF o(18, 18);
    const double r = 15.5;
    QPainterPath disc;
    disc.addEllipse(o, r, r);
    shape(p, disc, pal::white, 0);
    // Three coloured segments of a beach ball, clipped to the disc.
    p.save();
    p.setClipPath(disc);
    p.setPen(Qt::NoPen);
    const QColor colours[3] = {pal::red, pal::blue, pal::yellow};
    for (int i = 0; i < 3; ++i) {
        QPainterPath seg;
        seg.moveTo(o);
        seg.arcTo(QRectF(o.x() - 20, o.y() - 20, 40, 40), 90 + i * 120, 60);
        seg.closeSubpath();
        p.setBrush(colours[i]);
        p.drawPath(seg);
    }
    p.restore();
    ellipse(p, o, 3.5, 3.5, pal::white, 1.5);
    p.setPen(Qt::NoPen);
    p.setBrush(pal::white);
    p.drawEllipse(QPointF(11, 10), 3.2, 2.2);
    shape(p, disc, Qt::transparent, 2);
    return c.done();
}

QImage flower()
{
    Canvas c(36, 58);
    QPainter &p = c.p;
    // Stem and a leaf.
    QPen stem(pal::ink, 5.5, Qt::SolidLine, Qt::RoundCap);
    p.setPen(stem);
    p.drawLine(QPointF(18, 20), QPointF(18, 55));
    stem.setColor(pal::leaf);
    stem.setWidthF(2.5);
    p.setPen(stem);
    p.drawLine(QPointF(18, 20), QPointF(18, 55));
    QPainterPath leaf;
    leaf.moveTo(18, 44);
    leaf.quadTo(24, 32, 32, 36);
    leaf.quadTo(28, 46, 18, 44);
    shape(p, leaf, pal::leaf, 1.6);
    // Petals round a yellow heart.
    const QPointF h(18, 17);
    for (int i = 0; i < 6; ++i) {
        const double a = i * kPi / 3 - kPi / 2;
        ellipse(p, h + QPointF(9 * std::cos(a), 9 * std::sin(a)), 6.2, 6.2, pal::pink, 1.6);
    }
    ellipse(p, h, 6, 6, pal::yellow, 1.6);
    return c.done();
}

QImage cloudThing()
{
    Canvas c(116, 64);
    QPainter &p = c.p;
    const QPainterPath puff = blob({circle(30, 40, 17), circle(52, 28, 22), circle(78, 30, 19),
                                    circle(96, 42, 14), circle(60, 46, 16), QRectF(20, 40, 82, 18)});
    shape(p, puff, pal::cloud, 2.2, mix(pal::ink, pal::blue, 0.35));
    // A soft shade along the bottom.
    p.save();
    p.setClipPath(puff);
    p.setPen(Qt::NoPen);
    p.setBrush(pal::cloudShade);
    p.drawEllipse(QRectF(10, 48, 100, 40));
    p.restore();
    shape(p, puff, Qt::transparent, 2.2, mix(pal::ink, pal::blue, 0.35));
    return c.done();
}

QImage sun()
{
    Canvas c(84, 84);
    QPainter &p = c.p;
    const QPointF o(42, 42);
    // Rays as rounded triangles all round.
    for (int i = 0; i < 12; ++i) {
        const double a = i * kPi / 6;
        QPainterPath ray;
        const double w = 0.16;
        ray.moveTo(o + QPointF(24 * std::cos(a - w), 24 * std::sin(a - w)));
        ray.lineTo(o + QPointF(39 * std::cos(a), 39 * std::sin(a)));
        ray.lineTo(o + QPointF(24 * std::cos(a + w), 24 * std::sin(a + w)));
        ray.closeSubpath();
        shape(p, ray, pal::orange, 2);
    }
    ellipse(p, o, 26, 26, pal::yellow, 2.2);
    // A friendly face.
    p.setPen(Qt::NoPen);
    p.setBrush(pal::ink);
    p.drawEllipse(o + QPointF(-8, -5), 2.6, 3.4);
    p.drawEllipse(o + QPointF(8, -5), 2.6, 3.4);
    p.setBrush(pal::pink);
    p.drawEllipse(o + QPointF(-14, 4), 4, 2.6);
    p.drawEllipse(o + QPointF(14, 4), 4, 2.6);
    inkPen(p, 2);
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(o.x() - 8, o.y() - 4, 16, 14), 200 * 16, 140 * 16);
    return c.done();
}

QImage rock()
{
    Canvas c(56, 38);
    QPainter &p = c.p;
    QPainterPath r;
    r.moveTo(4, 34);
    r.cubicTo(2, 20, 12, 6, 26, 5);
    r.cubicTo(40, 3, 52, 16, 52, 34);
    r.closeSubpath();
    shape(p, r, pal::stone, 2.2);
    p.save();
    p.setClipPath(r);
    p.setPen(Qt::NoPen);
    p.setBrush(pal::stoneDark);
    p.drawEllipse(QRectF(10, 26, 60, 24));
    p.setBrush(mix(pal::stone, pal::white, 0.5));
    p.drawEllipse(QRectF(15, 10, 12, 6));
    p.restore();
    shape(p, r, Qt::transparent, 2.2);
    inkPen(p, 1.4, pal::stoneDark);
    p.drawLine(QPointF(34, 14), QPointF(38, 20));
    return c.done();
}

QImage bench()
{
    Canvas c(108, 62);
    QPainter &p = c.p;
    // Legs and back posts in dark wood, planks in light wood.
    for (double x : {18.0, 84.0}) {
        roundRect(p, QRectF(x, 8, 6, 52), 2, pal::woodDark);
        roundRect(p, QRectF(x - 4, 36, 6, 24), 2, pal::woodDark);
    }
    roundRect(p, QRectF(6, 10, 96, 9), 3, pal::wood);
    roundRect(p, QRectF(6, 22, 96, 9), 3, pal::wood);
    roundRect(p, QRectF(2, 34, 104, 9), 3, pal::wood);
    inkPen(p, 1.2, pal::woodDark);
    for (double x : {30.0, 70.0}) {
        p.drawLine(QPointF(x, 13), QPointF(x + 6, 13));
        p.drawLine(QPointF(x + 10, 26), QPointF(x + 16, 26));
    }
    return c.done();
}

} // namespace

void makeArticles(const QString &root)
{
    const QString dir = root + QStringLiteral("/library/articles/");
    writeStill(dir + QStringLiteral("Дерево.gif"), tree());
    writeStill(dir + QStringLiteral("Дом.gif"), house());
    writeStill(dir + QStringLiteral("Мяч.gif"), ball());
    writeStill(dir + QStringLiteral("Цветок.gif"), flower());
    writeStill(dir + QStringLiteral("Облако.gif"), cloudThing());
    writeStill(dir + QStringLiteral("Солнце.gif"), sun());
    writeStill(dir + QStringLiteral("Камень.gif"), rock());
    writeStill(dir + QStringLiteral("Скамейка.gif"), bench());
}

} // namespace assetgen
