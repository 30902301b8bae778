// Backgrounds: the stage's default picture and the sample backgrounds of the
// library. They use the same palette as the characters but with soft
// coloured outlines instead of dark ink, and stay calm in the lower part
// where characters stand.

#include "characters.h"
#include "paint.h"

#include <QLinearGradient>
#include <QRadialGradient>

#include <cmath>

namespace assetgen {

namespace {

constexpr double kPi = 3.14159265358979323846;

QImage opaqueImage(int w, int h)
{
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(pal::white);
    return img;
}

QColor darker(const QColor &c, double amount = 0.22) { return mix(c, pal::ink, amount); }

void sky(QPainter &p, int w, int h, const QColor &top, const QColor &low)
{
    QLinearGradient g(0, 0, 0, h);
    g.setColorAt(0, top);
    g.setColorAt(1, low);
    p.fillRect(QRectF(0, 0, w, h), g);
}

// A rolling ridge from x = 0 to w: base height plus a few gentle waves,
// closed down to the bottom edge.
QPainterPath ridge(double w, double bottom, double base, const QList<QPointF> &waves /* (amplitude, wavelength) */,
                   double shift = 0)
{
    QPainterPath path;
    path.moveTo(-4, bottom);
    for (double x = -4; x <= w + 4; x += 2) {
        double y = base;
        for (const QPointF &wv : waves)
            y += wv.x() * std::sin(2 * kPi * (x + shift) / wv.y());
        path.lineTo(x, y);
    }
    path.lineTo(w + 4, bottom);
    path.closeSubpath();
    return path;
}

void softCloud(QPainter &p, QPointF at, double scale)
{
    QPainterPath puff;
    const double cs[][3] = {{0, 0, 14}, {16, -8, 17}, {34, -2, 13}, {46, 4, 9}, {-14, 5, 9}, {20, 6, 11}};
    for (const auto &c : cs) {
        QPainterPath e;
        e.addEllipse(QPointF(at.x() + c[0] * scale, at.y() + c[1] * scale), c[2] * scale, c[2] * scale);
        puff = puff.united(e);
    }
    shape(p, puff.simplified(), pal::cloud, 1.6, pal::cloudShade);
}

void tuft(QPainter &p, QPointF at, const QColor &c, double s = 1)
{
    inkPen(p, 1.8 * s, c);
    p.drawLine(at, at + QPointF(-4 * s, -7 * s));
    p.drawLine(at, at + QPointF(0, -9 * s));
    p.drawLine(at, at + QPointF(4 * s, -7 * s));
}

void tinyFlower(QPainter &p, QPointF at, const QColor &petal, double r)
{
    p.setPen(Qt::NoPen);
    p.setBrush(petal);
    for (int i = 0; i < 5; ++i) {
        const double a = i * 2 * kPi / 5;
        p.drawEllipse(at + QPointF(r * std::cos(a), r * std::sin(a)), r * 0.8, r * 0.8);
    }
    p.setBrush(pal::yellow);
    p.drawEllipse(at, r * 0.7, r * 0.7);
}

void roundTree(QPainter &p, QPointF foot, double size, const QColor &leaf)
{
    roundRect(p, QRectF(foot.x() - size * 0.12, foot.y() - size * 0.7, size * 0.24, size * 0.7), 2,
              pal::wood, 1.6);
    const QColor edge = darker(leaf, 0.3);
    ellipse(p, foot + QPointF(0, -size * 0.95), size * 0.45, size * 0.5, leaf, 0);
    inkPen(p, 1.6, edge);
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(foot + QPointF(0, -size * 0.95), size * 0.45, size * 0.5);
}

// ---- Default stage: hills and a path -------------------------------------

QImage stageBackground()
{
    const int w = 400, h = 350;
    QImage img = opaqueImage(w, h);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    sky(p, w, 200, pal::skyTop, pal::skyLow);
    // A soft sun in the corner, partly outside the picture.
    QRadialGradient glow(QPointF(352, 46), 70);
    glow.setColorAt(0, QColor(255, 246, 200));
    glow.setColorAt(1, QColor(255, 246, 200, 0));
    p.fillRect(QRectF(250, 0, 150, 130), glow);
    ellipse(p, QPointF(352, 46), 26, 26, pal::yellow, 2);
    softCloud(p, QPointF(70, 52), 1.1);
    softCloud(p, QPointF(238, 86), 0.8);

    const QColor far = pal::grassFar, mid = mix(pal::grassFar, pal::grass, 0.5);
    shape(p, ridge(w, h, 178, {{10, 260}, {5, 120}}, 30), far, 2, darker(far, 0.18));
    // A few small trees on the far hill, kept tiny so they stay scenery.
    roundTree(p, QPointF(56, 176), 22, pal::leaf);
    roundTree(p, QPointF(78, 180), 16, pal::leaf);
    roundTree(p, QPointF(318, 170), 20, pal::leaf);
    shape(p, ridge(w, h, 214, {{12, 330}, {4, 140}}, 160), mid, 2, darker(mid, 0.18));
    shape(p, ridge(w, h, 246, {{8, 500}, {3, 170}}, 40), pal::grass, 2, darker(pal::grass, 0.18));

    // The path winds from the front edge up to the far hill.
    QPainterPath path;
    path.moveTo(120, h + 4);
    path.cubicTo(150, 300, 250, 270, 212, 232);
    path.cubicTo(190, 210, 198, 196, 214, 186);
    path.lineTo(222, 186);
    path.cubicTo(212, 198, 214, 210, 236, 230);
    path.cubicTo(290, 276, 240, 310, 290, h + 4);
    path.closeSubpath();
    shape(p, path, pal::sand, 2, pal::sandDark);

    // Sparse tufts and flowers at the sides leave the middle free.
    const QColor tuftC = darker(pal::grass, 0.2);
    for (QPointF t : {QPointF(30, 300), QPointF(70, 330), QPointF(352, 296), QPointF(374, 336), QPointF(330, 262),
                      QPointF(48, 262)})
        tuft(p, t, tuftC);
    tinyFlower(p, QPointF(92, 300), pal::white, 3);
    tinyFlower(p, QPointF(318, 318), pal::pink, 3);
    tinyFlower(p, QPointF(24, 330), pal::pink, 3);
    tinyFlower(p, QPointF(360, 270), pal::white, 2.5);
    p.end();
    return img;
}

// ---- Meadow --------------------------------------------------------------

QImage meadow()
{
    const int w = 400, h = 350;
    QImage img = opaqueImage(w, h);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    sky(p, w, 170, QColor(110, 190, 240), pal::skyLow);
    softCloud(p, QPointF(300, 44), 1.0);
    softCloud(p, QPointF(90, 70), 0.7);
    // A line of round trees at the edge of a forest.
    const QColor forest = mix(pal::leafDark, pal::skyTop, 0.25);
    QPainterPath trees;
    for (int i = 0; i < 16; ++i) {
        QPainterPath e;
        const double x = i * 27 - 6, r = 20 + (i * 7 % 5) * 2;
        e.addEllipse(QPointF(x, 150 - (i * 5 % 3) * 4), r, r);
        trees = trees.united(e);
    }
    trees.addRect(-10, 150, w + 20, 40);
    shape(p, trees.simplified(), forest, 2, darker(forest, 0.2));
    shape(p, ridge(w, h, 168, {{4, 300}, {2, 90}}, 0), pal::grass, 2, darker(pal::grass, 0.18));
    // Lighter mowing bands give depth without detail.
    p.setPen(Qt::NoPen);
    p.setBrush(mix(pal::grass, pal::grassFar, 0.5));
    p.drawPath(ridge(w, 232, 206, {{5, 420}}, 100));
    p.setBrush(mix(pal::grass, pal::grassFar, 0.25));
    p.drawPath(ridge(w, 300, 268, {{6, 380}}, 30));

    // Flowers scattered in a fixed pattern, smaller towards the horizon,
    // denser at the edges so the middle stays clear for characters.
    FixedRandom rnd(20240611u);
    const QColor petals[] = {pal::white, pal::pink, pal::yellow, pal::violet, pal::red};
    for (int i = 0; i < 70; ++i) {
        const double y = rnd.range(180, 345);
        double x = rnd.range(0, w);
        if (x > 130 && x < 270 && y > 230 && rnd.unit() < 0.7)
            x = x < 200 ? x - 110 : x + 110;
        const double depth = (y - 170) / 180.0;
        const QColor petal = petals[rnd.next() % 5];
        if (i % 3 == 0)
            tuft(p, QPointF(x + 6, y + 3), darker(pal::grass, 0.2), 0.5 + depth * 0.6);
        tinyFlower(p, QPointF(x, y), petal, 1.2 + depth * 2.4);
    }
    p.end();
    return img;
}

// ---- Town street, wider and taller than the stage for panning -------------

void townHouse(QPainter &p, double x, double w, double top, double street, const QColor &wall, int style)
{
    const QColor edge = darker(wall, 0.3);
    roundRect(p, QRectF(x, top, w, street - top), 2, wall, 0);
    inkPen(p, 2, edge);
    p.setBrush(Qt::NoBrush);
    p.drawRect(QRectF(x, top, w, street - top));
    // Roof: pitched or a flat cornice.
    if (style % 2 == 0) {
        QPainterPath roof;
        roof.moveTo(x - 8, top + 2);
        roof.lineTo(x + w / 2, top - w * 0.42);
        roof.lineTo(x + w + 8, top + 2);
        roof.closeSubpath();
        shape(p, roof, style % 4 == 0 ? pal::red : mix(pal::red, pal::wood, 0.6), 2, darker(pal::red, 0.35));
    } else {
        roundRect(p, QRectF(x - 5, top - 10, w + 10, 12), 2, darker(wall, 0.12), 0);
        inkPen(p, 2, edge);
        p.setBrush(Qt::NoBrush);
        p.drawRect(QRectF(x - 5, top - 10, w + 10, 12));
    }
    // Windows in a grid, leaving the ground floor for a door and a shop window.
    const QColor glass(175, 222, 248);
    const int cols = int(w / 34);
    const double gap = (w - cols * 22) / (cols + 1);
    for (double y = top + 16; y < street - 80; y += 44)
        for (int c = 0; c < cols; ++c) {
            const QRectF r(x + gap + c * (22 + gap), y, 22, 26);
            roundRect(p, r, 3, glass, 0);
            inkPen(p, 2, edge);
            p.setBrush(Qt::NoBrush);
            p.drawRoundedRect(r, 3, 3);
            p.drawLine(QPointF(r.center().x(), r.top()), QPointF(r.center().x(), r.bottom()));
        }
    const double doorX = x + (style % 3 == 0 ? w - 36 : 12);
    roundRect(p, QRectF(doorX, street - 50, 24, 50), 10, pal::wood, 2);
    ellipse(p, QPointF(doorX + 18, street - 24), 1.8, 1.8, pal::yellow, 0);
    const double shopX = style % 3 == 0 ? x + 12 : doorX + 34;
    const double shopW = w - 60;
    if (shopW > 24) {
        roundRect(p, QRectF(shopX, street - 60, shopW, 36), 3, glass, 0);
        inkPen(p, 2, edge);
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(QRectF(shopX, street - 60, shopW, 36), 3, 3);
        // A striped awning over the shop window.
        for (int i = 0; i * 12 < shopW + 8; ++i) {
            const QRectF seg(shopX - 4 + i * 12, street - 72, std::min(12.0, shopW + 8 - i * 12), 10);
            p.fillRect(seg, i % 2 ? pal::white : (style % 2 ? pal::blue : pal::red));
        }
        inkPen(p, 1.6, edge);
        p.drawRect(QRectF(shopX - 4, street - 72, shopW + 8, 10));
    }
}

void lamp(QPainter &p, double x, double ground)
{
    roundRect(p, QRectF(x - 2.5, ground - 110, 5, 110), 2, QColor(80, 90, 110), 0);
    roundRect(p, QRectF(x - 9, ground - 124, 18, 16), 5, pal::yellow, 2);
    roundRect(p, QRectF(x - 11, ground - 127, 22, 5), 2, QColor(80, 90, 110), 0);
    roundRect(p, QRectF(x - 6, ground - 6, 12, 6), 2, QColor(80, 90, 110), 0);
}

QImage town()
{
    const int w = 800, h = 500;
    QImage img = opaqueImage(w, h);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    sky(p, w, 400, pal::skyTop, pal::skyLow);
    softCloud(p, QPointF(90, 60), 1.1);
    softCloud(p, QPointF(420, 40), 0.9);
    softCloud(p, QPointF(690, 76), 1.0);
    // Far towers in a pale blue so the street in front stands out.
    const QColor farC = mix(pal::skyTop, pal::steel, 0.5);
    p.setPen(Qt::NoPen);
    p.setBrush(farC);
    const double tops[] = {190, 150, 210, 170, 130, 200, 160, 185, 140, 205};
    for (int i = 0; i < 10; ++i)
        p.drawRect(QRectF(i * 82 - 10, tops[i], 62, 300));

    const double street = 380;
    const QColor walls[] = {QColor(250, 190, 180), QColor(255, 226, 140), QColor(170, 214, 240),
                            QColor(188, 226, 170), QColor(210, 190, 235), QColor(253, 234, 196)};
    const double widths[] = {112, 96, 130, 104, 120, 100, 118};
    const double heights[] = {190, 150, 230, 170, 200, 160, 210};
    double x = 14;
    for (int i = 0; i < 7; ++i) {
        townHouse(p, x, widths[i], street - heights[i], street, walls[i % 6], i);
        x += widths[i] + 8;
    }
    // Pavement, kerb and road.
    p.fillRect(QRectF(0, street, w, 56), QColor(214, 212, 222));
    inkPen(p, 1.5, QColor(190, 188, 200));
    for (int i = 0; i < 21; ++i)
        p.drawLine(QPointF(i * 40 + 10, street), QPointF(i * 40 - 4, street + 56));
    p.fillRect(QRectF(0, street + 56, w, 8), QColor(170, 168, 182));
    p.fillRect(QRectF(0, street + 64, w, h - street - 64), QColor(120, 124, 140));
    for (int i = 0; i < 14; ++i)
        p.fillRect(QRectF(i * 64 + 12, street + 90, 34, 6), QColor(245, 245, 245));
    inkPen(p, 2, darker(QColor(214, 212, 222), 0.25));
    p.drawLine(QPointF(0, street), QPointF(w, street));
    // Lamps and little trees along the kerb.
    for (double lx : {120.0, 440.0, 740.0})
        lamp(p, lx, street + 50);
    for (double tx : {280.0, 600.0})
        roundTree(p, QPointF(tx, street + 48), 56, pal::leaf);
    p.end();
    return img;
}

// ---- Room: smaller than the stage ----------------------------------------

QImage room()
{
    const int w = 320, h = 260;
    QImage img = opaqueImage(w, h);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    const double floorY = 186;
    const QColor wall(255, 236, 200), stripe(250, 224, 184);
    p.fillRect(QRectF(0, 0, w, floorY), wall);
    for (int x = 10; x < w; x += 28)
        p.fillRect(QRectF(x, 0, 10, floorY), stripe);
    // Window with sky, a cloud and curtains.
    const QRectF win(40, 34, 96, 84);
    roundRect(p, win, 3, pal::skyTop, 0);
    p.save();
    p.setClipRect(win);
    softCloud(p, QPointF(70, 70), 0.7);
    p.restore();
    inkPen(p, 5, pal::white);
    p.setBrush(Qt::NoBrush);
    p.drawRect(win);
    p.drawLine(QPointF(win.center().x(), win.top()), QPointF(win.center().x(), win.bottom()));
    p.drawLine(QPointF(win.left(), win.center().y()), QPointF(win.right(), win.center().y()));
    inkPen(p, 1.6, darker(wall, 0.3));
    p.drawRect(win.adjusted(-3, -3, 3, 3));
    roundRect(p, QRectF(30, 118, 116, 8), 2, pal::white, 1.6);
    for (double cx : {26.0, 132.0}) {
        QPainterPath curtain;
        curtain.moveTo(cx, 26);
        curtain.lineTo(cx + 18, 26);
        curtain.quadTo(cx + 8, 80, cx + 16, 132);
        curtain.lineTo(cx + 2, 132);
        curtain.closeSubpath();
        shape(p, curtain, pal::pink, 1.6, darker(pal::pink, 0.3));
    }
    roundRect(p, QRectF(18, 22, 146, 6), 3, pal::woodDark, 0);
    // A framed picture of a sun over a hill.
    const QRectF pic(200, 44, 70, 52);
    roundRect(p, pic.adjusted(-6, -6, 6, 6), 2, pal::wood, 1.6);
    p.fillRect(pic, pal::skyLow);
    p.save();
    p.setClipRect(pic);
    ellipse(p, QPointF(250, 60), 8, 8, pal::yellow, 0);
    p.setPen(Qt::NoPen);
    p.setBrush(pal::grass);
    p.drawEllipse(QPointF(222, 110), 44, 26);
    p.restore();
    // Skirting board and wooden floor.
    p.fillRect(QRectF(0, floorY, w, h - floorY), QColor(214, 160, 104));
    inkPen(p, 1.5, QColor(186, 134, 84));
    for (double y = floorY + 14; y < h; y += 16)
        p.drawLine(QPointF(0, y), QPointF(w, y));
    for (int r = 0; r < 6; ++r)
        for (int k = 0; k < 4; ++k) {
            const double bx = ((r * 53 + k * 97) % w);
            p.drawLine(QPointF(bx, floorY + r * 16 + (r ? -2 : 0)), QPointF(bx, floorY + r * 16 + 14));
        }
    p.fillRect(QRectF(0, floorY - 8, w, 10), pal::white);
    inkPen(p, 1.5, darker(wall, 0.3));
    p.drawLine(QPointF(0, floorY - 8), QPointF(w, floorY - 8));
    // A round rug in the middle of the floor.
    ellipse(p, QPointF(170, 226), 84, 20, QColor(120, 190, 230), 2);
    inkPen(p, 2, pal::white);
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QPointF(170, 226), 66, 14);
    // A small plant in the corner.
    roundRect(p, QRectF(276, 150, 26, 28), 4, pal::red, 1.8);
    for (int i = -2; i <= 2; ++i) {
        QPainterPath leaf;
        leaf.moveTo(289, 150);
        leaf.quadTo(289 + i * 10, 128, 289 + i * 8, 116 + std::abs(i) * 6);
        leaf.quadTo(289 + i * 4, 134, 289, 150);
        shape(p, leaf, pal::leaf, 1.6, pal::leafDark);
    }
    p.end();
    return img;
}

// ---- Night sky -------------------------------------------------------------

QImage night()
{
    const int w = 400, h = 350;
    QImage img = opaqueImage(w, h);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    sky(p, w, h, QColor(24, 30, 78), QColor(70, 74, 150));
    // Stars in a fixed pattern: small dots and a few twinkling crosses.
    FixedRandom rnd(7u);
    p.setPen(Qt::NoPen);
    for (int i = 0; i < 90; ++i) {
        const QPointF at(rnd.range(0, w), rnd.range(0, 230));
        const double r = 0.7 + rnd.unit() * 1.3;
        p.setBrush(i % 7 == 0 ? QColor(255, 236, 170) : QColor(240, 244, 255));
        p.drawEllipse(at, r, r);
    }
    for (QPointF s : {QPointF(60, 50), QPointF(180, 100), QPointF(270, 34), QPointF(350, 150), QPointF(110, 170)})
        shape(p, starPath(s, 7, 3), pal::yellow, 1.4, QColor(255, 190, 80));
    // Crescent moon.
    QPainterPath moon, bite;
    moon.addEllipse(QPointF(318, 76), 34, 34);
    bite.addEllipse(QPointF(302, 64), 30, 30);
    shape(p, moon.subtracted(bite), QColor(255, 232, 150), 2, QColor(235, 190, 90));
    // Dark bluish hills with a little lit house.
    const QColor far(46, 64, 112), nearC(36, 80, 84);
    shape(p, ridge(w, h, 250, {{12, 300}, {4, 110}}, 60), far, 2, darker(far, 0.3));
    const QPointF hs(96, 236);
    roundRect(p, QRectF(hs.x(), hs.y(), 34, 26), 1, QColor(70, 60, 90), 0);
    QPainterPath roof;
    roof.moveTo(hs.x() - 5, hs.y() + 1);
    roof.lineTo(hs.x() + 17, hs.y() - 16);
    roof.lineTo(hs.x() + 39, hs.y() + 1);
    roof.closeSubpath();
    shape(p, roof, QColor(110, 50, 70), 0);
    p.fillRect(QRectF(hs.x() + 6, hs.y() + 7, 9, 9), QColor(255, 220, 120));
    p.fillRect(QRectF(hs.x() + 20, hs.y() + 7, 9, 9), QColor(255, 220, 120));
    shape(p, ridge(w, h, 286, {{8, 420}, {3, 150}}, 200), nearC, 2, darker(nearC, 0.3));
    p.end();
    return img;
}

} // namespace

void makeScenes(const QString &root)
{
    saveImage(stageBackground(), root + QStringLiteral("/assets/background.jpg"), "JPG", 90);
    const QString dir = root + QStringLiteral("/library/fones/");
    saveImage(meadow(), dir + QStringLiteral("Луг.jpg"), "JPG", 90);
    saveImage(town(), dir + QStringLiteral("Город.png"), "PNG");
    saveImage(room().convertToFormat(QImage::Format_RGB888), dir + QStringLiteral("Комната.bmp"), "BMP");
    saveImage(night(), dir + QStringLiteral("Ночное небо.jpg"), "JPG", 90);
}

} // namespace assetgen
